#include "sim/SimFrame.h"

#include <algorithm>

#include "sim/SimCrc.h"

namespace sim {

Bytes SimParsed::Pdu() const {
  if (bytes.size() < 4) return {};
  return Bytes(bytes.begin() + 1, bytes.end() - 2);
}

std::size_t CSimFrameParser::RequestLength(const std::uint8_t* p, std::size_t available) {
  if (available < 2) return 4;
  const std::uint8_t function = p[1];
  if (function >= 1 && function <= 6) return 8;
  if (function == 15 || function == 16) return available < 7 ? 9 : 9 + std::size_t{p[6]};
  return 0;
}

void CSimFrameParser::Feed(const std::uint8_t* data, std::size_t length, double nowMs) {
  for (std::size_t i = 0; i < length; ++i) {
    m_bytes.push_back(data[i]);
    m_times.push_back(nowMs);
  }
  if (length > 0) m_lastMs = nowMs;
  Scan(false);
}

void CSimFrameParser::Silence() { Scan(true); }

bool CSimFrameParser::Next(SimParsed& item) {
  if (m_out.empty()) return false;
  item = std::move(m_out.front());
  m_out.pop_front();
  return true;
}

void CSimFrameParser::Emit(SimParsed::Kind kind, std::size_t count) {
  if (kind == SimParsed::Kind::Noise) {
    // Skipped bytes gather into one run until the next frame.
    if (m_noise.empty()) m_noiseFirst = m_times.front();
    for (std::size_t i = 0; i < count; ++i) {
      m_noise.push_back(m_bytes.front());
      m_noiseLast = m_times.front();
      m_bytes.pop_front();
      m_times.pop_front();
    }
    return;
  }
  FlushNoise();
  SimParsed frame;
  frame.kind = kind;
  frame.firstByteMs = m_times.front();
  frame.lastByteMs = m_times[count - 1];
  frame.bytes.assign(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(count));
  m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(count));
  m_times.erase(m_times.begin(), m_times.begin() + static_cast<std::ptrdiff_t>(count));
  m_out.push_back(std::move(frame));
}

void CSimFrameParser::FlushNoise() {
  if (m_noise.empty()) return;
  SimParsed noise;
  noise.kind = SimParsed::Kind::Noise;
  noise.bytes = std::move(m_noise);
  noise.firstByteMs = m_noiseFirst;
  noise.lastByteMs = m_noiseLast;
  m_noise.clear();
  m_out.push_back(std::move(noise));
}

void CSimFrameParser::Scan(bool silence) {
  Bytes window;
  for (;;) {
    const std::size_t available = m_bytes.size();
    if (available == 0) break;
    window.assign(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(std::min(available, kMaxFrame)));
    const std::size_t length = RequestLength(window.data(), window.size());
    if (length > kMaxFrame) {
      // A byte count no request can carry: this is not where a frame starts.
      Emit(SimParsed::Kind::Noise, 1);
      continue;
    }
    if (length != 0 && length <= available) {
      if (Crc16(window.data(), length) == 0) {
        Emit(SimParsed::Kind::Frame, length);
      } else {
        // Not a frame here: perhaps noise shifted the boundaries, so look one byte on.
        Emit(SimParsed::Kind::Noise, 1);
      }
      continue;
    }
    if (!silence) {
      // Unfinished, or a function that silence ends. A babbling line that never pauses
      // cannot hold a frame longer than the longest one.
      if (available > kMaxFrame) {
        Emit(SimParsed::Kind::Noise, 1);
        continue;
      }
      break;
    }
    // Silence: a frame of an unknown function is everything up to here, if its CRC agrees.
    if (length == 0 && available >= 4 && available <= kMaxFrame && Crc16(window.data(), available) == 0) {
      Emit(SimParsed::Kind::Frame, available);
      continue;
    }
    // Otherwise a frame may still hide behind the first byte.
    Emit(SimParsed::Kind::Noise, 1);
  }
  // A run of noise ends with the silence (or earlier, when a frame behind it was found).
  if (silence) FlushNoise();
}

}  // namespace sim
