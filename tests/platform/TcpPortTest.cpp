// The TCP port against a converter played by the test on the loopback address: connecting,
// the bytes both ways, kept line settings, refused and silent hosts, a connection that the
// other end closes or resets, purge and interrupted waits.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "platform/Clock.h"
#include "platform/TcpSerialPort.h"
#include "tests/support/SocatRelay.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;
using namespace comm_error;

namespace {

// The converter's side: a listening socket on the loopback address and the connections it
// accepted.
class Converter {
 public:
  // `backlog` 0 with `Stall`: a host that takes no more connections and never answers.
  explicit Converter(int family = AF_INET, int backlog = 4) {
    m_listen = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
      v6->sin6_family = AF_INET6;
      v6->sin6_addr = in6addr_loopback;
      length = sizeof *v6;
    } else {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *v4;
    }
    m_ok = m_listen >= 0 && bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
           listen(m_listen, backlog) == 0 && getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    m_port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  }
  ~Converter() {
    if (m_peer >= 0) close(m_peer);
    if (m_filler >= 0) close(m_filler);
    if (m_listen >= 0) close(m_listen);
  }
  bool Ok() const { return m_ok; }
  uint16_t Port() const { return m_port; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

  // Accepts the port's connection; false when none came within `timeoutMs`.
  bool Accept(int timeoutMs = 20000) {
    pollfd pfd{m_listen, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) != 1) return false;
    m_peer = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    return m_peer >= 0;
  }
  // Fills the queue of a listener made with backlog 0, so that further connection requests
  // get no answer at all: a host that is switched off, or a firewall that drops them.
  bool Stall() {
    m_filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_port);
    return connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  void Send(const Bytes& bytes) const {
    ASSERT_EQ(send(m_peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // What arrives within `timeoutMs`, stopping after `expected` bytes.
  Bytes Receive(size_t expected, int timeoutMs = 20000) const {
    Bytes got;
    const double deadline = NowMilliseconds() + timeoutMs;
    while (got.size() < expected && NowMilliseconds() < deadline) {
      pollfd pfd{m_peer, POLLIN, 0};
      if (poll(&pfd, 1, 50) != 1) continue;
      uint8_t chunk[256];
      const ssize_t n = recv(m_peer, chunk, std::min(sizeof chunk, expected - got.size()), 0);
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }
  // The converter closes the connection in order (FIN).
  void Close() {
    close(m_peer);
    m_peer = -1;
  }
  // The converter drops the connection at once (RST), as after a restart.
  void Reset() {
    const linger abort{1, 0};
    setsockopt(m_peer, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    Close();
  }

 private:
  int m_listen = -1;
  int m_peer = -1;
  int m_filler = -1;
  uint16_t m_port = 0;
  bool m_ok = false;
};

class TcpPortTest : public ::testing::Test {
 protected:
  Converter converter;
  TcpSerialPort port;

  void Connect() {
    ASSERT_TRUE(converter.Ok());
    ASSERT_EQ(port.Open(converter.Address(), 0, 0, true), kSuccess) << port.GetLastErrorText();
    ASSERT_TRUE(converter.Accept());
  }
  // Reads until `expected` bytes came or the port reports anything but success.
  Bytes ReadAll(size_t expected) {
    Bytes got;
    const double deadline = NowMilliseconds() + 20000;
    while (got.size() < expected && NowMilliseconds() < deadline) {
      if (port.WaitReadable(1000) != kSuccess) continue;
      uint8_t buffer[64];
      uint32_t count = 0;
      if (port.Read(buffer, sizeof buffer, &count, nullptr, -1) != kSuccess) break;
      got.insert(got.end(), buffer, buffer + count);
    }
    return got;
  }
};

TEST_F(TcpPortTest, ConnectsAndCarriesTheBytesBothWaysAtOnce) {
  Connect();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Address(), converter.Address());
  // A frame leaves in one segment without waiting for the previous one's acknowledgement.
  int noDelay = 0;
  socklen_t length = sizeof noDelay;
  ASSERT_EQ(getsockopt(port.Socket(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
  EXPECT_NE(noDelay, 0);

  uint32_t written = 0;
  EXPECT_EQ(port.Write("\x0A\x03\x00\x01", 4, &written, nullptr, -1), kSuccess);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(converter.Receive(4), (Bytes{0x0A, 0x03, 0x00, 0x01}));
  converter.Send({0x0A, 0x03, 0x02, 0x12, 0x34});
  EXPECT_EQ(ReadAll(5), (Bytes{0x0A, 0x03, 0x02, 0x12, 0x34}));
  // Nothing waiting: a read returns at once with nothing, as on a COM port.
  uint8_t buffer[8];
  uint32_t count = 9;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kSuccess);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(port.Open(converter.Address(), 0, 0, true), kAlreadyOpen);
}

TEST_F(TcpPortTest, LineSettingsAreKeptAndReportedAsSet) {
  Connect();
  EXPECT_EQ(port.GetBaudrate(), 9600);
  EXPECT_EQ(port.GetDataBits(), 8);
  struct Case { uint32_t baud; uint8_t bits, parity, stop; };
  for (const Case c : {Case{38400, 8, 2, 0}, Case{115200, 7, 1, 2}, Case{892857, 8, 0, 0}, Case{57600, 8, 4, 2}}) {
    ASSERT_EQ(port.Setup(c.baud, c.bits, c.parity, c.stop), kSuccess) << c.baud;
    EXPECT_EQ(port.GetBaudrate(), static_cast<int32_t>(c.baud));
    EXPECT_EQ(port.GetDataBits(), c.bits);
    EXPECT_EQ(port.GetParity(), c.parity);
    EXPECT_EQ(port.GetStopBits(), c.stop);
  }
  EXPECT_EQ(port.Setup(9600, 9, 0, 0), kInvalidParameter);
  EXPECT_EQ(port.GetDataBits(), 8);
  for (int mode : {1, 2, 0}) {
    EXPECT_EQ(port.SetupHandshaking(mode), kSuccess);
    EXPECT_EQ(port.GetHandshaking(), mode);
  }
  EXPECT_EQ(port.SetupHandshaking(3), kInvalidArg);
  // None of it reached the connection: the converter's serial side has its own settings.
  EXPECT_EQ(converter.Receive(1, 100), Bytes{});
}

TEST_F(TcpPortTest, ARefusedConnectionFailsAtOnceWithTheSystemsReason) {
  const std::string address = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
  EXPECT_EQ(port.Open(address, 0, 0, true), kDeviceNotConnected);
  EXPECT_EQ(port.lastError, kDeviceNotConnected);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.GetLastErrorText(), "Connection refused");
  uint8_t byte = 0;
  EXPECT_EQ(port.Read(&byte, 1, nullptr, nullptr, -1), kInvalidHandle);
  EXPECT_EQ(port.WaitReadable(10), kInvalidHandle);
}

TEST(TcpPortAddress, AddressesAreParsedAndFormatted) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
    const char* why;
  } cases[] = {
      {"127.0.0.1:4001", true, "127.0.0.1", 4001, ""},
      {"nport-5110.plant.local:950", true, "nport-5110.plant.local", 950, ""},
      {"[::1]:502", true, "::1", 502, ""},
      {"[fd00::7]:65535", true, "fd00::7", 65535, ""},
      {"127.0.0.1", false, "", 0, "has no port number"},
      {"127.0.0.1:", false, "", 0, "has no port number"},
      {":4001", false, "", 0, "has no host"},
      {"127.0.0.1:0", false, "", 0, "the port number is not a number from 1 to 65535"},
      {"127.0.0.1:65536", false, "", 0, "the port number is not a number from 1 to 65535"},
      {"127.0.0.1:40x1", false, "", 0, "the port number is not a number from 1 to 65535"},
      {"127.0.0.1:-1", false, "", 0, "the port number is not a number from 1 to 65535"},
      {"127.0.0.1:4001000", false, "", 0, "the port number is not a number from 1 to 65535"},
      {"::1:4001", false, "", 0, "in brackets"},
      {"[::1]4001", false, "", 0, "[IPv6 address]:PORT"},
      {"[::1", false, "", 0, "[IPv6 address]:PORT"},
  };
  for (const auto& c : cases) {
    std::string host = "unchanged", why;
    uint16_t port = 0;
    EXPECT_EQ(ParseTcpAddress(c.text, host, port, why), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
      EXPECT_EQ(FormatTcpAddress(host, port), c.text);  // the form it came in
    } else {
      EXPECT_NE(why.find(c.why), std::string::npos) << c.text << ": " << why;
    }
  }
}

TEST(TcpPortConnect, ReachesHostNamesAndBothAddressFamilies) {
  const struct {
    int family;
    const char* host;
  } cases[] = {{AF_INET, "localhost"}, {AF_INET, "127.0.0.1"}, {AF_INET6, "[::1]"}};
  for (const auto& c : cases) {
    Converter converter(c.family);
    if (!converter.Ok() && c.family == AF_INET6) continue;  // a system without IPv6 loopback
    ASSERT_TRUE(converter.Ok()) << c.host;
    TcpSerialPort port;
    const std::string address = std::string(c.host) + ":" + std::to_string(converter.Port());
    ASSERT_EQ(port.Open(address, 0, 0, true), kSuccess) << address << ": " << port.GetLastErrorText();
    ASSERT_TRUE(converter.Accept()) << address;
    EXPECT_EQ(port.Address(), address);
    EXPECT_EQ(port.Write("\x07", 1, nullptr, nullptr, -1), kSuccess);
    EXPECT_EQ(converter.Receive(1), Bytes{7}) << address;
  }
}

TEST(TcpPortConnect, AHostThatDoesNotAnswerTimesOut) {
  Converter silent(AF_INET, 0);
  ASSERT_TRUE(silent.Ok());
  ASSERT_TRUE(silent.Stall());
  TcpSerialPort port;
  port.SetConnectTimeout(300);
  const double start = NowMilliseconds();
  EXPECT_EQ(port.Open("127.0.0.1:" + std::to_string(silent.Port()), 0, 0, true), kTimeout);
  EXPECT_GE(NowMilliseconds() - start, 299.0);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_NE(port.GetLastErrorText().find("within 300 ms"), std::string::npos) << port.GetLastErrorText();
}

TEST(TcpPortConnect, InterruptEndsAConnectInProgress) {
  Converter silent(AF_INET, 0);
  ASSERT_TRUE(silent.Ok());
  ASSERT_TRUE(silent.Stall());
  TcpSerialPort port;
  port.SetConnectTimeout(100000);  // longer than the test may run: only the interrupt ends it
  std::atomic<bool> done{false};
  // Interrupts until the attempt ended: a wake that came before Open started is not for it.
  std::thread other([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      port.InterruptWait();
    }
  });
  EXPECT_EQ(port.Open("127.0.0.1:" + std::to_string(silent.Port()), 0, 0, true), kOperationAborted);
  done = true;
  other.join();
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(TcpPortTest, WaitReadableTimesOutAndIsWoken) {
  Connect();
  const double start = NowMilliseconds();
  EXPECT_EQ(port.WaitReadable(80), kTimeout);
  EXPECT_GE(NowMilliseconds() - start, 79.0);
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    port.InterruptWait();
  });
  EXPECT_EQ(port.WaitReadable(-1), kOperationAborted);  // without the wake it never returns
  other.join();
  port.InterruptWait();  // a wake before the wait is not lost
  EXPECT_EQ(port.WaitReadable(20000), kOperationAborted);
  converter.Send({1});
  EXPECT_EQ(port.WaitReadable(20000), kSuccess);
}

TEST_F(TcpPortTest, PurgeDropsWhatWaitsToBeRead) {
  Connect();
  converter.Send({1, 2, 3, 4, 5});
  ASSERT_TRUE(WaitFor(
      [&] {
        int waiting = 0;
        return ioctl(port.Socket(), FIONREAD, &waiting) == 0 && waiting == 5;
      },
      20000));
  EXPECT_EQ(port.Purge(), kSuccess);
  uint8_t buffer[8];
  uint32_t count = 1;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kSuccess);
  EXPECT_EQ(count, 0u);
  converter.Send({6});
  EXPECT_EQ(ReadAll(1), Bytes{6});
}

// How the converter ends the connection, and whether bytes were on their way when it did.
struct Ending {
  const char* name;
  bool reset;
  Bytes last;
};

void PrintTo(const Ending& ending, std::ostream* os) { *os << ending.name; }

class TcpPortEnding : public TcpPortTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(TcpPortEnding, IsTheDeviceGoneNotAnEmptyLine) {
  Connect();
  const Ending& ending = GetParam();
  if (!ending.last.empty()) {
    converter.Send(ending.last);
    // Bytes that arrived before the close are delivered first.
    ASSERT_TRUE(WaitFor(
        [&] {
          int waiting = 0;
          return ioctl(port.Socket(), FIONREAD, &waiting) == 0 && waiting == static_cast<int>(ending.last.size());
        },
        20000));
  }
  ending.reset ? converter.Reset() : converter.Close();
  if (!ending.last.empty()) {
    EXPECT_EQ(ReadAll(ending.last.size()), ending.last);
  }
  EXPECT_EQ(port.WaitReadable(20000), kDeviceNotConnected);
  uint8_t buffer[8];
  uint32_t count = 9;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &count, nullptr, -1), kDeviceNotConnected);
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(port.GetLastErrorText().empty());
  EXPECT_EQ(port.Purge(), kDeviceNotConnected);
  // Writing on goes nowhere: it fails (the first write may still be taken by the system), and
  // the program is not killed by SIGPIPE.
  EXPECT_TRUE(WaitFor([&] { return port.Write("\x01", 1, nullptr, nullptr, -1) == kDeviceNotConnected; }, 20000));
}

INSTANTIATE_TEST_SUITE_P(Converter, TcpPortEnding,
                         ::testing::Values(Ending{"Closes", false, {}}, Ending{"Resets", true, {}},
                                           Ending{"ClosesAfterAnAnswer", false, {0x0A, 0x03, 0x02, 0x00, 0x2A}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TcpPortTest, OpensAgainAfterTheConnectionWasLost) {
  Connect();
  converter.Close();
  EXPECT_EQ(port.WaitReadable(20000), kDeviceNotConnected);
  EXPECT_EQ(port.Close(), kSuccess);
  EXPECT_EQ(port.Address(), "");
  // A wake left over from the lost connection does not end the next connect.
  port.InterruptWait();
  ASSERT_EQ(port.Open(converter.Address(), 0, 0, true), kSuccess) << port.GetLastErrorText();
  ASSERT_TRUE(converter.Accept());
  converter.Send({0x42});
  EXPECT_EQ(ReadAll(1), Bytes{0x42});
}

}  // namespace
