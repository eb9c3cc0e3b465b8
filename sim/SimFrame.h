// The simulated device's side of Modbus RTU framing: cuts the bytes a master sends into request
// frames. A request's length follows from its function code (1 to 6: eight bytes; 15 and 16:
// seven bytes, the byte count, the data and the CRC); a frame of any other function ends at the
// first silence of the line. Bytes that form no frame with a good CRC are noise and are skipped,
// so the parser finds the next frame behind them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// One item the parser hands out.
struct SimParsed {
  enum class Kind {
    Frame,  // a request with a good CRC (for any slave address)
    Noise,  // bytes that were skipped: a bad CRC, line noise or an unfinished frame
  };
  Kind kind = Kind::Frame;
  Bytes bytes;               // the whole frame (address, PDU, CRC) or the skipped bytes
  double firstByteMs = 0.0;  // when its first byte arrived
  double lastByteMs = 0.0;   // when its last byte arrived

  std::uint8_t Slave() const { return bytes.empty() ? 0 : bytes[0]; }
  std::uint8_t Function() const { return bytes.size() < 2 ? 0 : bytes[1]; }
  // The PDU of a frame: function code and data, without address and CRC.
  Bytes Pdu() const;
};

class CSimFrameParser {
 public:
  static constexpr std::size_t kMaxFrame = 256;  // the longest Modbus RTU frame

  // Feeds bytes that arrived at `nowMs`.
  void Feed(const std::uint8_t* data, std::size_t length, double nowMs);
  // The line has been silent since the last byte: a frame whose end only silence can tell is
  // complete now, and whatever else is left can never become a frame.
  void Silence();
  // The next frame or skipped run, in line order; false when there is none yet.
  bool Next(SimParsed& item);
  // Bytes waiting for the rest of their frame.
  std::size_t Pending() const { return m_bytes.size(); }
  // Arrival time of the last byte fed.
  double LastByteMs() const { return m_lastMs; }

  // The length of the request frame starting at `p` as far as its first `available` bytes
  // tell: 0 when the function code needs silence to end the frame, the shortest possible
  // length while the bytes that decide are still missing.
  static std::size_t RequestLength(const std::uint8_t* p, std::size_t available);

 private:
  void Scan(bool silence);
  void Emit(SimParsed::Kind kind, std::size_t count);
  void FlushNoise();

  std::deque<std::uint8_t> m_bytes;
  std::deque<double> m_times;
  Bytes m_noise;
  double m_noiseFirst = 0.0, m_noiseLast = 0.0;
  std::deque<SimParsed> m_out;
  double m_lastMs = 0.0;
};

}  // namespace sim
