// CTrafficLog: the frames on the line and the link's health, for the traffic monitor window and
// `kelmora-cli --trace`. It listens to the Modbus master's exchanges (on the worker thread) and
// keeps the last 10,000 frames in a ring whose slots are reused, so recording a frame costs a
// short lock and a copy of its bytes and never an allocation once the ring has filled.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "comm/Modbus.h"

struct TrafficFrame {
  uint64_t seq = 0;  // counts every frame since the log was made (or cleared), from 1
  int64_t wallMs = 0;  // milliseconds since the epoch, for the time column
  double steadyMs = 0;  // NowMilliseconds(), for rates
  bool outgoing = false;
  std::vector<uint8_t> bytes;
  bool crcOk = false;
  // For answers: 0 a good answer, 1..127 the exception code, 255 nothing valid came (the bytes,
  // if any, are what the line brought instead), 4 the port failed. -1 for requests.
  int32_t code = -1;
  double roundTripMs = -1;  // good and exception answers only

  // The function code (the frame's second byte), -1 for a frame shorter than two bytes.
  int Function() const { return bytes.size() >= 2 ? bytes[1] : -1; }
};

struct TrafficFigures {
  uint64_t transactions = 0, timeouts = 0, crcErrors = 0, exceptions = 0;  // since cleared
  double transactionsPerSecond = 0;  // over the last 10 s, or the time the ring covers
  double rttMinMs = -1, rttMedianMs = -1, rttP99Ms = -1;  // over the answers in the ring
  double lineUse = 0;  // share of the line's capacity the frames took, same span as the rate
  int32_t baudRate = 0;  // the line's, which `lineUse` is measured against
};

class CTrafficLog final : public IExchangeTap {
 public:
  static constexpr size_t kCapacity = 10000;
  static constexpr double kRateSpanMs = 10000;

  CTrafficLog();

  // The line, for its use: bits per second and bits per character (start, data, parity, stop).
  void SetLine(int32_t baudRate, double bitsPerCharacter);
  static double BitsPerCharacter(int32_t dataBits, int32_t parity, int32_t stopBitsCode);

  // From the master: the request as one frame, then what came back as one or two (stray bytes
  // before the answer, and the answer itself; or all that came, or a "no answer" frame).
  void OnExchange(const ModbusExchange& exchange) override;

  // Frames with a sequence number above `seq`, oldest first (at most the ring's worth).
  std::vector<TrafficFrame> FramesAfter(uint64_t seq) const;
  TrafficFigures Figures() const;
  void Clear();
  // Hears every frame as it is logged, on the worker thread (the command line's trace).
  void SetOnFrame(std::function<void(const TrafficFrame&)> onFrame);

  // "15:04:05.123  ->  0A 03 00 00 00 02 C4 B0  03 Read Holding Registers  CRC ok" and, for
  // answers, the result and the round trip: the line the trace prints and Copy and Save write.
  static std::string FrameLine(const TrafficFrame& frame);
  static std::string HexBytes(const std::vector<uint8_t>& bytes);
  static std::string FunctionText(int function);
  static std::string ResultText(const TrafficFrame& frame);

 private:
  void Add(bool outgoing, const uint8_t* bytes, int32_t length, bool crcOk, int32_t code, double roundTripMs,
           double steadyMs, int64_t wallMs);

  mutable std::mutex m_mutex;
  std::vector<TrafficFrame> m_ring;  // kCapacity slots once full; m_next is the oldest then
  size_t m_next = 0;
  uint64_t m_seq = 0;
  uint64_t m_transactions = 0, m_timeouts = 0, m_crcErrors = 0, m_exceptions = 0;
  double m_clearedAtMs = 0;
  int32_t m_baudRate = 9600;
  double m_bitsPerCharacter = 10;
  std::function<void(const TrafficFrame&)> m_onFrame;
};
