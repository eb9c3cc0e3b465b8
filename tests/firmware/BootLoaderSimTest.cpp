// The simulated boot loader's own checks, with messages made by hand: each case sends a few
// requests the boot loader must take, then one it must refuse with a given error code (or,
// for what a correct host does, take as well).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firmware/LoaderMessage.h"
#include "sim/bootloader/BootLoaderSim.h"
#include "tests/support/TestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using simboot::BootVariant;

// The host's end of the line, driven by hand.
class HandHost {
 public:
  explicit HandHost(const simboot::BootLoaderOptions& options) : m_sim(m_pty.master, options) {
    m_fd = open(m_pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    m_thread = std::thread([this] { m_sim.Serve(m_stop); });
  }
  ~HandHost() {
    m_stop = true;
    m_thread.join();
    if (m_fd >= 0) close(m_fd);
  }
  const simboot::BootLoaderSim& Sim() const { return m_sim; }

  // Sends the request and returns the answer of its type, with or without the error bit;
  // segment-ready and flash-done messages on the way are skipped. None after 5 s.
  std::optional<LoaderMessage> Request(std::uint8_t type, std::uint16_t address, const Bytes& data) {
    LoaderMessage request(type, address, data.data(), data.size());
    const std::string text = request.Encode();
    if (write(m_fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::optional<LoaderMessage> answer = NextMessage(deadline);
      if (answer && (answer->Type() & 0x7F) == type) return answer;
    }
    return std::nullopt;
  }

 private:
  std::optional<LoaderMessage> NextMessage(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      const std::size_t start = m_text.find(':');
      if (start != std::string::npos && m_text.size() >= start + 3) {
        const std::size_t count = std::stoul(m_text.substr(start + 1, 2), nullptr, 16);
        const std::size_t length = 1 + 2 * (count + LoaderMessage::kOverhead - 1);
        if (m_text.size() >= start + length) {
          Bytes bytes{':'};
          for (std::size_t i = start + 1; i < start + length; i += 2)
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(m_text.substr(i, 2), nullptr, 16)));
          m_text.erase(0, start + length);
          LoaderMessage message;
          LoaderMessage::FromBytes(bytes.data(), bytes.size(), message);
          return message;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd pfd{m_fd, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[256];
      const ssize_t n = read(m_fd, chunk, sizeof chunk);
      if (n > 0) m_text.append(chunk, static_cast<std::size_t>(n));
    }
  }

  testing_support::PtyPair m_pty;
  simboot::BootLoaderSim m_sim;
  int m_fd = -1;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::string m_text;
};

struct Message {
  std::uint8_t type;
  std::uint16_t address;
  Bytes data;
};
Message Seg(std::uint16_t address) { return {0x60, address, {}}; }
Message Ext(std::uint16_t upper) {
  return {0x04, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}};
}
Message Data(std::uint16_t address, Bytes bytes) { return {0x00, address, std::move(bytes)}; }
// 2.00: the sequence byte 1 before the data.
Message Seq(std::uint16_t address, Bytes bytes) {
  bytes.insert(bytes.begin(), 1);
  return {0x00, address, std::move(bytes)};
}
Message Flash(std::uint16_t address) { return {0x61, address, {0x12, 0x34}}; }
Message Flash0() { return {0x62, 0, {0x12, 0x34}}; }

struct Case {
  const char* name;
  BootVariant variant;
  std::vector<Message> taken;  // each answered with its own type
  Message last;
  int code;  // the error code `last` is refused with; 0: taken too
  MemoryMap map = MemoryMap(0x1000, 8, 0);
  const char* target = "";
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reportedMap = {};
};

class Checks : public testing::TestWithParam<Case> {};

TEST_P(Checks, RefuseWithTheirCode) {
  const Case& c = GetParam();
  simboot::BootLoaderOptions options;
  options.variant = c.variant;
  options.map = c.map;
  options.target = c.target;
  options.reportedMap = c.reportedMap;
  options.eraseMs = 0;
  options.programMs = 0;
  HandHost host(options);
  for (const Message& m : c.taken) {
    const auto answer = host.Request(m.type, m.address, m.data);
    ASSERT_TRUE(answer.has_value()) << std::hex << +m.type << " " << m.address;
    ASSERT_EQ(answer->Type(), m.type) << std::hex << +m.type << " " << m.address << ": " << host.Sim().LastRefusal();
  }
  const auto answer = host.Request(c.last.type, c.last.address, c.last.data);
  ASSERT_TRUE(answer.has_value());
  if (c.code == 0) {
    EXPECT_EQ(answer->Type(), c.last.type) << host.Sim().LastRefusal();
    EXPECT_EQ(host.Sim().Counters().refused, 0);
  } else {
    EXPECT_EQ(answer->Type(), c.last.type | 0x80);
    EXPECT_EQ(answer->ErrorCode(), c.code);
    EXPECT_EQ(host.Sim().Counters().refused, 1);
    EXPECT_FALSE(host.Sim().LastRefusal().empty());
  }
}

constexpr BootVariant kIhst = BootVariant::Ihst, kIhex = BootVariant::Ihex, kIhex2 = BootVariant::Ihex2;
const MemoryMap kHigh(0x1000, 4, 0x20000);   // sectors above 64 KiB
const MemoryMap kWide(0x1000, 32, 0);        // 128 KiB: a 16-bit base names two sectors
const Bytes kTable(32, 0x11);                // an LPC ARM vector table
const Bytes kWord{1, 2, 3, 4};

INSTANTIATE_TEST_SUITE_P(
    BootLoader, Checks,
    testing::Values(
        Case{"DataBeforeSegmentStart", kIhex, {}, Data(0, {1}), 3},
        Case{"SegmentStartInsideASector", kIhex, {}, Seg(0x0800), 2},
        Case{"SegmentStartBeyondTheMap", kIhex, {}, Seg(0x8000), 2},
        Case{"DataBelowTheSector", kIhex, {Seg(0x1000)}, Data(0x0FF0, Bytes(16, 1)), 2},
        Case{"DataAcrossTheSectorEnd", kIhex, {Seg(0x1000)}, Data(0x1FF8, Bytes(16, 1)), 2},
        Case{"DataAboveTheMap", kIhex, {Seg(0), Ext(1)}, Data(0, {1}), 2},
        Case{"EmptyData", kIhex, {Seg(0)}, Data(0, {}), 7},
        Case{"DataReceivedBefore", kIhex, {Seg(0), Data(0, {1, 2}), Data(2, {3})}, Data(0, {1, 2}), 8},
        Case{"DataOverlapping", kIhex, {Seg(0), Data(0, {1, 2, 3, 4})}, Data(2, {9}), 8},
        Case{"DataSentAgainAfterALostAnswer", kIhex, {Seg(0), Data(0, {1, 2})}, Data(0, {1, 2}), 0},
        Case{"DataAfterTheFlashRequest", kIhex, {Seg(0), Data(0, {1}), Flash(0)}, Data(1, {2}), 3},
        Case{"FlashRequestWithoutSegment", kIhex, {}, Flash(0), 3},
        Case{"FlashRequestWithoutData", kIhex, {Seg(0x1000)}, Flash(0x1000), 3},
        Case{"FlashRequestForAnotherSector", kIhex, {Seg(0x1000), Data(0x1000, {1})}, Flash(0x2000), 2},
        Case{"FlashRequestAgain", kIhex, {Seg(0), Data(0, {1}), Flash(0)}, Flash(0), 0},
        Case{"FlashRequestShort", kIhex, {Seg(0), Data(0, {1})}, {0x61, 0, {1}}, 7},
        Case{"SectorZeroRequestOutsideIhst", kIhex, {Seg(0), Data(0, {1})}, Flash0(), 3},
        Case{"ExtendedAddressShort", kIhex, {}, {0x04, 0, {1}}, 7},
        Case{"SegmentStartHighWithoutExtended", kIhex, {}, Seg(0), 2, kHigh},
        Case{"FlashRequestHighWithoutExtended", kIhex, {Ext(2), Seg(0), Ext(2), Data(0, {1})}, Flash(0), 2, kHigh},
        Case{"FlashRequestHighWithExtended", kIhex, {Ext(2), Seg(0), Ext(2), Data(0, {1}), Ext(2)}, Flash(0), 0, kHigh},
        Case{"IhstExtendedBeforeSegmentStart", kIhst, {}, Ext(0), 3},
        Case{"IhstFirstSectorAs0x61", kIhst, {Seg(0), Ext(0), Data(0, {1})}, Flash(0), 3},
        Case{"IhstOtherSectorAs0x62", kIhst, {Seg(0x1000), Ext(0), Data(0x1000, {1})}, Flash0(), 3},
        Case{"IhstSegmentAfterTheFirstSector", kIhst, {Seg(0), Ext(0), Data(0, {1}), Flash0()}, Seg(0x1000), 3},
        Case{"IhstDataPicksTheSector", kIhst, {Seg(0), Ext(1)}, Data(0, {1}), 0, kWide},
        Case{"IhstDataStaysInThePickedSector", kIhst, {Seg(0), Ext(1), Data(0, {1}), Ext(0)}, Data(0x10, {2}), 2, kWide},
        Case{"SequenceByteNotOne", kIhex2, {Seg(0)}, Data(0, {2, 0xAA}), 9},
        Case{"SequencedDataEmpty", kIhex2, {Seg(0)}, Data(0, {1}), 7},
        Case{"SectorTheDeviceDidNotReport", kIhex2, {}, Seg(0x1000), 2, MemoryMap(0x1000, 8, 0), "",
             {{0, 0xFFF}, {0x2000, 0x2FFF}}},
        Case{"LpcVectorWordAgain", kIhex, {Seg(0), Data(0, kTable)}, Data(0x14, kWord), 0, MemoryMap(0x1000, 8, 0), "LPCARM"},
        Case{"VectorWordAgainOnOtherTargets", kIhex, {Seg(0), Data(0, kTable)}, Data(0x14, kWord), 8},
        Case{"LpcVectorWordThirdTime", kIhex2, {Seg(0), Seq(0, kTable), Seq(0x14, kWord), Seq(0x20, {1})}, Seq(0x14, kWord),
             8, MemoryMap(0x1000, 8, 0), "LPCARM"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
