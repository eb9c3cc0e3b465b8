// The simulated device's boot loader: once the device has been told over Modbus to start its
// boot loader, it answers the flash loader's hex-text messages on the same line and programs
// a flash memory of its own, which can be written out as a binary.
//
// It speaks the variant its profile's `firmware_upgrade` names:
//   "FU$-IHST" 1.01  ping, segment start, data acknowledged by address, flash request 0x61
//                    (0x62 for sector 0), flash done
//   "FU$-IHEX" 1.00  as above plus extended addresses and segment ready after segment start
//   "FU$-IHEX" 2.00  as 1.00 plus identity, memory map and a sequence byte in data messages
// A flash request carries the CRC-16/ARC of the sector's data; the boot loader checks it and
// reports error 6 on flash done when they differ. What it checks depends on who made the CRC:
//   1.x   the host computes it over the data of the messages it sent, in the order sent, so
//         the boot loader checks the data it received, in order, repeats included;
//   2.00  the CRC comes from the image file, made from the firmware before any host cut it
//         into messages, so the boot loader checks what the sector holds once programmed:
//         every address it received, in address order, with its last value. A word the host
//         sends twice (the LPC ARM vector checksum at 0x14) then counts once.
//
// It checks every request as a device that must not write where it was not asked to would,
// and refuses what it cannot take with an error answer (the request's type | 0x80, the code
// in the low address byte):
//   - the map it checks against is its flash map; in 2.00 the map it reports, since the host
//     names sectors by that one. Sectors are named by their base (start with the size mask
//     cleared, the start itself for aligned sectors of a power-of-two size).
//   - upper address bits. Data takes them from the last extended-address message. A segment
//     start or flash request takes them (1.00, 2.00) from an extended-address message sent
//     right before it, and is in the lowest 64 KiB without one. IHST has 16 bits only: a
//     segment start names the sectors whose base has those low bits, and where that is more
//     than one, the segment's first data message picks the one it lies in. IHST takes an
//     extended-address message only among a segment's data.
//   - a segment start opens one sector; its data must lie wholly inside that sector and the
//     flash. The flash request must follow data, name the same sector and, in IHST, be 0x62
//     (address 0) for the map's first sector and 0x61 for every other. Once the request is
//     taken the segment takes no more data, but the request may come again (its answer or the
//     flash done got lost). In IHST the first sector is programmed last: after its 0x62 no
//     segment starts.
//   - every byte of a segment arrives once. Two exceptions: a data message identical to the
//     one just acknowledged (the host did not get the acknowledgement and sends it again) is
//     acknowledged again and kept once; and on an "LPCARM" target, whose host appends the
//     vector checksum word at 0x14 after the image's own copy of it, that 4-byte word may
//     arrive once more in its segment.
//   - 2.00: a data message starts with the sequence byte, which is 1 in every message.
//
// Error codes of its answers:
//   1  busy, send again                                        (only injected)
//   2  address not accessible: outside the flash or the map, outside the open segment's
//      sector, a segment start that names no sector, a flash request for another sector
//   3  out of order: data or flash request without an open segment, data after the flash
//      request, flash request before any data, IHST extended address outside a segment's
//      data, 0x62 in 1.00/2.00, IHST 0x62 for a sector other than the first or 0x61 for
//      the first, IHST segment start after the first sector was programmed
//   4  start the segment again                                 (only injected)
//   5  flash write failed                                      (only injected)
//   6  the flash request's CRC does not match (on flash done; injected elsewhere)
//   7  wrong length: extended address or flash request without 2 data bytes, data message
//      without data
//   8  data for an address this segment has already received
//   9  2.00: sequence byte other than 1
//
// Faults for tests: answers dropped or sent with a bad CRC (drawn from a seed, so a run
// repeats), error answers at chosen steps, data acknowledgements that do not match, and a
// flash-done message that comes late or never. Injected errors are answered after the
// checks above, so a request the boot loader refuses does not count as an occurrence.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "XMLParser/DeviceProfile.h"
#include "profiles/MemoryMap.h"
#include "profiles/Version.h"

namespace simboot {

enum class BootVariant { Ihst, Ihex, Ihex2 };

// The steps at which an error answer can be injected.
enum class BootStep { Ping, ExtendedAddress, SegmentStart, SegmentReady, Data, FlashRequest, FlashDone };

// The `occurrence`-th time (1-based) the step happens, and the `times` - 1 times after it,
// the boot loader answers with error `code` instead.
struct ErrorInjection {
  BootStep step = BootStep::SegmentStart;
  int occurrence = 1;
  std::uint8_t code = 1;
  int times = 1;
};

struct BootLoaderFaults {
  std::uint64_t seed = 1;
  double drop = 0.0;     // chance that a message the boot loader sends is lost
  double corrupt = 0.0;  // chance that it goes out with a bad CRC
  std::vector<ErrorInjection> errors;
  // Data messages (1-based count of data messages received) acknowledged with the wrong
  // address (1.x) or sequence byte (2.00).
  std::vector<int> wrongDataAcks;
};

// The codes of the error answers the boot loader makes itself (see the top of this file).
namespace boot_code {
inline constexpr std::uint8_t kNotAccessible = 2;
inline constexpr std::uint8_t kOutOfOrder = 3;
inline constexpr std::uint8_t kVerification = 6;
inline constexpr std::uint8_t kLength = 7;
inline constexpr std::uint8_t kRepeated = 8;
inline constexpr std::uint8_t kSequence = 9;
}  // namespace boot_code

struct BootLoaderOptions {
  BootVariant variant = BootVariant::Ihex;
  MemoryMap map;                    // the flash; its first sector's start is address 0 of a dump
  std::string target;               // the profile's target; "LPCARM" takes the vector word twice
  std::optional<Version> version;   // the version the ping reports; default: the variant's
  std::int32_t identity1 = 0;       // 2.00: the identity the device reports
  std::int32_t identity2 = 0;
  // 2.00: the memory map the device reports as (first, last inclusive) pairs. Empty: the
  // flash map, with neighbouring sectors merged until it fits one message (31 pairs).
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reportedMap;
  int mapPadding = 0;               // 2.00: bytes of 0 after the pairs (a map not a multiple of 8)
  int baud = 0;                     // pace the line at this speed (8N1); 0: as fast as the pty
  double eraseMs = 1.0;             // segment start to segment ready
  double programMs = 2.0;           // flash request to flash done
  BootLoaderFaults faults;
};

// Picks the variant from the profile's format name and version and takes its memory map.
// False with `error` for a boot loader the simulator does not speak.
bool BootLoaderOptionsFor(const FirmwareDescription& description, BootLoaderOptions& options, std::string& error);

// Command-line forms, for kelmora-sim:
//   version   "1.02" (major.minor as profiles write it)
//   identity  "A,B" (two decimal 32-bit numbers)
//   error     "STEP=CODE[@OCCURRENCE[xTIMES]]", STEP one of ping, extended-address,
//             segment-start, segment-ready, data, flash-request, flash-done; CODE 1..127;
//             e.g. "flash-done=6@2" answers the second flash request's completion with error 6.
bool ParseBootVersion(const std::string& text, Version& version, std::string& error);
bool ParseBootIdentity(const std::string& text, std::int32_t& identity1, std::int32_t& identity2, std::string& error);
bool ParseErrorInjection(const std::string& text, ErrorInjection& injection, std::string& error);

// One message the boot loader received (CRC good).
struct BootRequest {
  std::uint8_t type = 0;
  std::uint16_t address = 0;
  std::vector<std::uint8_t> data;
};

struct BootLoaderCounters {
  long requests = 0;       // messages received with a good CRC
  long badRequests = 0;    // messages received with a bad CRC
  long sent = 0;           // messages sent (corrupted ones included)
  long dropped = 0;
  long corrupted = 0;
  long errorAnswers = 0;   // injected error answers, refusals and CRC mismatches
  long refused = 0;        // requests refused by the checks (also counted in errorAnswers)
  long sectorsProgrammed = 0;
  long crcMismatches = 0;
  long bytesReceived = 0;  // characters on the line, both directions
  long bytesSent = 0;
};

class BootLoaderSim {
 public:
  enum class End { Finished, Stopped, LineClosed };

  // Serves on `fd`, the device side of a pseudo-terminal (not owned).
  BootLoaderSim(int fd, BootLoaderOptions options);

  // Answers messages until the host sends finish (0x71), `stop` becomes true, or the line
  // closes. Call on one thread; the accessors below are safe from any other.
  End Serve(const std::atomic<bool>& stop);

  // The flash memory from the map's first address, erased bytes 0xFF.
  std::vector<std::uint8_t> Flash() const;
  std::uint64_t FlashBase() const { return m_flashBase; }
  // Writes `Flash()` to `path`; false when the file cannot be written.
  bool DumpFlash(const std::string& path) const;
  std::vector<BootRequest> Requests() const;
  BootLoaderCounters Counters() const;
  // Why the last refused request was refused; empty while none was.
  std::string LastRefusal() const;
  // The (first, last) pairs a memory-map request is answered with.
  const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ReportedMap() const { return m_reportedMap; }

 private:
  struct Outgoing {
    double dueMs;
    std::vector<std::uint8_t> bytes;  // count, address, type, data (no CRC)
  };
  struct Piece {
    std::uint64_t address;
    std::vector<std::uint8_t> bytes;
  };

  // Where the current segment is: none started, taking data, or its flash request taken.
  enum class Segment { None, Open, Requested };

  void Handle(const std::vector<std::uint8_t>& message);
  void HandleExtended(std::uint8_t count, const std::vector<std::uint8_t>& data);
  // `afterExtended`: the request before was an extended address. `lastData`: the data
  // message acknowledged just before, as received, or empty.
  void HandleSegmentStart(std::uint16_t address, bool afterExtended);
  void HandleData(const std::vector<std::uint8_t>& message, std::uint16_t address, const std::vector<std::uint8_t>& data,
                  const std::vector<std::uint8_t>& lastData);
  void HandleFlashRequest(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data,
                          bool afterExtended);
  void Answer(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data = {});
  void AnswerError(std::uint8_t type, std::uint8_t code);
  // An error answer for a request the checks refuse; `why` is kept for LastRefusal.
  void Refuse(std::uint8_t type, std::uint8_t code, std::string why);
  // The upper 16 address bits of a segment start or flash request, shifted into place.
  std::uint64_t RequestUpper(bool afterExtended) const;
  // The sector of the open segment that holds [address, address + length), or -1.
  int SegmentSectorFor(std::uint64_t address, std::size_t length) const;
  // True when [address, address + length) overlaps data the segment already holds.
  bool Received(std::uint64_t address, std::size_t length) const;
  void Schedule(double delayMs, std::uint8_t type, std::uint16_t address, std::vector<std::uint8_t> data = {});
  void Transmit(std::vector<std::uint8_t> bytes);
  void PacedWrite(const std::string& text);
  // The code of an injected error for this occurrence of `step`, or 0.
  std::uint8_t InjectedError(BootStep step);
  bool Inside(std::uint64_t address, std::size_t length) const;
  // The CRC the flash request is checked against (see the top of this file).
  std::uint16_t SegmentCrc() const;

  int m_fd;
  BootLoaderOptions m_options;
  Version m_version;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> m_reportedMap;
  std::mt19937_64 m_random;
  double m_charMs = 0.0;
  double m_lineFreeMs = 0.0;  // when the line has sent what was written so far

  MemoryMap m_sectors;  // the sectors requests are checked against (see the top of this file)
  std::uint32_t m_upper = 0;  // upper 16 address bits from the last extended-address message
  bool m_afterExtended = false;  // the request just handled was an accepted extended address
  Segment m_state = Segment::None;
  std::vector<int> m_candidates;  // the sectors the last segment start may name
  int m_sector = -1;              // the one its data lies in, once known
  bool m_vectorWordAgain = false;  // the LPC ARM vector word came a second time
  bool m_firstSectorProgrammed = false;  // IHST: 0x62 taken, the update is at its end
  std::vector<std::uint8_t> m_lastData;  // the data message just acknowledged, as received
  std::vector<Piece> m_segment;  // data received since the last segment start
  std::map<std::uint64_t, std::uint64_t> m_received;  // its address ranges, start to end
  std::vector<Outgoing> m_outgoing;
  int m_stepCounts[7] = {};
  long m_dataCount = 0;
  bool m_finished = false;

  std::uint64_t m_flashBase = 0;
  mutable std::mutex m_mutex;  // guards what the accessors read
  std::vector<std::uint8_t> m_flash;
  std::vector<BootRequest> m_requests;
  BootLoaderCounters m_counters;
  std::string m_lastRefusal;
};

// CRC-16/ARC, computed bit by bit (the boot loader's own, independent of the host's table).
std::uint16_t BootCrc(const std::uint8_t* data, std::size_t length, std::uint16_t crc = 0);

}  // namespace simboot
