// Fuzz target: the simulated device's request parser, `sim::CSimFrameParser`, and the device
// answering each parsed request against the register image of a small profile.
//
// Input: the line shape (FuzzSupport.h; bit 6 set: frames), then the bytes a master sends.
// Pieces arrive half a millisecond apart; with silences the parser is told after each piece
// that the line went quiet. With frames, the rest is a list of frames, each a length byte and
// that many bytes, and every frame gets its correct CRC appended.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "sim/SimCrc.h"
#include "sim/SimDevice.h"
#include "sim/SimFrame.h"
#include "sim/SimProfile.h"

namespace {

constexpr std::uint8_t kSlave = 10;

// The device of the simulator's test profile, built once; every input gets a fresh copy.
const sim::CSimDevice& ProfileDevice() {
  static const sim::CSimDevice device = [] {
    DeviceProfile profile;
    std::string error;
    if (!sim::LoadSimProfile(KELMORA_FUZZ_SIM_PROFILE, "", profile, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::abort();
    }
    sim::CSimDevice built;
    std::vector<std::string> warnings;
    sim::BuildSimDevice(profile, built, warnings);
    return built;
  }();
  return device;
}

struct Totals {
  std::size_t bytes = 0;
};

void Serve(sim::CSimFrameParser& parser, sim::CSimDevice& device, Totals& totals) {
  sim::SimParsed item;
  while (parser.Next(item)) {
    totals.bytes += item.bytes.size();
    if (item.bytes.empty() || item.firstByteMs > item.lastByteMs) std::abort();
    if (item.kind == sim::SimParsed::Kind::Noise) continue;
    // A frame is a whole request with a good CRC.
    if (item.bytes.size() < 4 || item.bytes.size() > sim::CSimFrameParser::kMaxFrame ||
        sim::Crc16(item.bytes.data(), item.bytes.size()) != 0)
      std::abort();
    const std::uint8_t slave = item.Slave();
    if (slave != kSlave && slave != 0) continue;
    device.Animate(item.lastByteMs);
    const sim::CSimDevice::Reply reply = device.Handle(item.Pdu(), item.lastByteMs, slave == 0);
    // The answer must fit one RTU frame behind the address and before the CRC.
    if (reply.answer && (reply.pdu.empty() || reply.pdu.size() > sim::CSimFrameParser::kMaxFrame - 3)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ProfileDevice();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in(data, size);
  const std::uint8_t shapeByte = in.Byte();
  const fuzz::LineShape shape = fuzz::LineShape::FromByte(shapeByte);

  std::vector<std::uint8_t> line;
  if (shapeByte & 0x40) {
    while (in.Left() > 0) {
      std::vector<std::uint8_t> frame = in.Take(in.Byte());
      const std::uint16_t crc = sim::Crc16(frame.data(), frame.size());
      frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
      frame.push_back(static_cast<std::uint8_t>(crc >> 8));
      line.insert(line.end(), frame.begin(), frame.end());
    }
  } else {
    line = in.Rest();
  }

  sim::CSimDevice device = ProfileDevice();
  sim::CSimFrameParser parser;
  Totals totals;
  double now = 0.0;
  for (std::size_t at = 0; at < line.size();) {
    const std::size_t n = shape.piece == 0 ? line.size() - at : std::min(shape.piece, line.size() - at);
    parser.Feed(line.data() + at, n, now);
    at += n;
    now += 0.5;
    if (shape.silences) parser.Silence();
    Serve(parser, device, totals);
  }
  parser.Silence();
  Serve(parser, device, totals);
  // After a silence every byte has been handed out, as part of a frame or of a noise run.
  if (parser.Pending() != 0 || totals.bytes != line.size()) std::abort();
  return 0;
}
