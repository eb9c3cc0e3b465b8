#include "comm/Modbus.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "comm/FaultLog.h"
#include "comm/TimedLog.h"
#include "platform/Clock.h"
#include "platform/CommTypes.h"

using namespace modbus_code;

namespace {

// The CRC of each byte value split into its low and high byte: the table form of the Modbus
// serial-line guide, which updates the two halves of the CRC register without shifting.
const uint8_t kCrcLow[256] = {
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40, 0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41,
    0x00, 0xC1, 0x81, 0x40, 0x01, 0xC0, 0x80, 0x41, 0x01, 0xC0, 0x80, 0x41, 0x00, 0xC1, 0x81, 0x40,
};

const uint8_t kCrcHigh[256] = {
    0x00, 0xC0, 0xC1, 0x01, 0xC3, 0x03, 0x02, 0xC2, 0xC6, 0x06, 0x07, 0xC7, 0x05, 0xC5, 0xC4, 0x04,
    0xCC, 0x0C, 0x0D, 0xCD, 0x0F, 0xCF, 0xCE, 0x0E, 0x0A, 0xCA, 0xCB, 0x0B, 0xC9, 0x09, 0x08, 0xC8,
    0xD8, 0x18, 0x19, 0xD9, 0x1B, 0xDB, 0xDA, 0x1A, 0x1E, 0xDE, 0xDF, 0x1F, 0xDD, 0x1D, 0x1C, 0xDC,
    0x14, 0xD4, 0xD5, 0x15, 0xD7, 0x17, 0x16, 0xD6, 0xD2, 0x12, 0x13, 0xD3, 0x11, 0xD1, 0xD0, 0x10,
    0xF0, 0x30, 0x31, 0xF1, 0x33, 0xF3, 0xF2, 0x32, 0x36, 0xF6, 0xF7, 0x37, 0xF5, 0x35, 0x34, 0xF4,
    0x3C, 0xFC, 0xFD, 0x3D, 0xFF, 0x3F, 0x3E, 0xFE, 0xFA, 0x3A, 0x3B, 0xFB, 0x39, 0xF9, 0xF8, 0x38,
    0x28, 0xE8, 0xE9, 0x29, 0xEB, 0x2B, 0x2A, 0xEA, 0xEE, 0x2E, 0x2F, 0xEF, 0x2D, 0xED, 0xEC, 0x2C,
    0xE4, 0x24, 0x25, 0xE5, 0x27, 0xE7, 0xE6, 0x26, 0x22, 0xE2, 0xE3, 0x23, 0xE1, 0x21, 0x20, 0xE0,
    0xA0, 0x60, 0x61, 0xA1, 0x63, 0xA3, 0xA2, 0x62, 0x66, 0xA6, 0xA7, 0x67, 0xA5, 0x65, 0x64, 0xA4,
    0x6C, 0xAC, 0xAD, 0x6D, 0xAF, 0x6F, 0x6E, 0xAE, 0xAA, 0x6A, 0x6B, 0xAB, 0x69, 0xA9, 0xA8, 0x68,
    0x78, 0xB8, 0xB9, 0x79, 0xBB, 0x7B, 0x7A, 0xBA, 0xBE, 0x7E, 0x7F, 0xBF, 0x7D, 0xBD, 0xBC, 0x7C,
    0xB4, 0x74, 0x75, 0xB5, 0x77, 0xB7, 0xB6, 0x76, 0x72, 0xB2, 0xB3, 0x73, 0xB1, 0x71, 0x70, 0xB0,
    0x50, 0x90, 0x91, 0x51, 0x93, 0x53, 0x52, 0x92, 0x96, 0x56, 0x57, 0x97, 0x55, 0x95, 0x94, 0x54,
    0x9C, 0x5C, 0x5D, 0x9D, 0x5F, 0x9F, 0x9E, 0x5E, 0x5A, 0x9A, 0x9B, 0x5B, 0x99, 0x59, 0x58, 0x98,
    0x88, 0x48, 0x49, 0x89, 0x4B, 0x8B, 0x8A, 0x4A, 0x4E, 0x8E, 0x8F, 0x4F, 0x8D, 0x4D, 0x4C, 0x8C,
    0x44, 0x84, 0x85, 0x45, 0x87, 0x47, 0x46, 0x86, 0x82, 0x42, 0x43, 0x83, 0x41, 0x81, 0x80, 0x40,
};

constexpr int32_t kMaxFrame = 1 + 2 + 255 + 2 + 16;  // the longest answer a header and CRC frame
// A silence this long inside an unfinished frame means the frame will not be finished.
constexpr int32_t kSilenceMs = 3;

bool RefuseAddressZero(uint16_t address) {
  if (address != 0) return false;
  faultlog::PlainLine("WARNING: You use 0 modbus address, minimum allowed address is 1");
  return true;
}

void PutWord(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value & 0xFF);
}

// The request PDU of functions 1 to 6: function, address - 1, one 16-bit field.
DataGram ShortPdu(uint8_t function, uint16_t address, uint16_t field) {
  DataGram pdu(5);
  pdu[0] = function;
  PutWord(pdu.GetBuffer() + 1, static_cast<uint16_t>(address - 1));
  PutWord(pdu.GetBuffer() + 3, field);
  return pdu;
}

// The length of the frame whose first `available` bytes are at `p`, judged by its function
// code as soon as that is known; otherwise the smallest length it can have.
int32_t FrameLength(const uint8_t* p, int32_t available, int32_t headerLength, int32_t crcLength) {
  const int32_t shortest = headerLength + 2 + crcLength;
  if (available <= headerLength) return shortest;
  const uint8_t function = p[headerLength];
  if (function == 5 || function == 6 || function == 15 || function == 16) return headerLength + 5 + crcLength;
  if (function > 4 || available < headerLength + 2) return shortest;
  return headerLength + 2 + p[headerLength + 1] + crcLength;
}

}  // namespace

uint16_t ModbusCrc(const uint8_t* data, int32_t length) {
  uint8_t low = 0xFF, high = 0xFF;
  for (int32_t i = 0; i < length; ++i) {
    const uint8_t index = low ^ data[i];
    low = high ^ kCrcLow[index];
    high = kCrcHigh[index];
  }
  return static_cast<uint16_t>(high << 8 | low);
}

ModbusRtuProtocol::ModbusRtuProtocol(DataChannel* channel_, uint16_t slaveAddress_, int32_t timeoutMs_)
    : channel(channel_), timeoutMs(timeoutMs_), slaveAddress(slaveAddress_) {
  stopRequested.Attach(channel);
}

bool ModbusRtuProtocol::IsCrcValid(const DataGram& header, const DataGram& pdu, const DataGram& crc) {
  // The residue of a CRC run over a frame that ends in its own CRC (low byte first) is 0.
  uint8_t frame[kMaxFrame];
  const int32_t total = header.GetSize() + pdu.GetSize() + crc.GetSize();
  if (total > static_cast<int32_t>(sizeof frame)) return false;
  std::copy_n(header.GetBuffer(), header.GetSize(), frame);
  std::copy_n(pdu.GetBuffer(), pdu.GetSize(), frame + header.GetSize());
  std::copy_n(crc.GetBuffer(), crc.GetSize(), frame + header.GetSize() + pdu.GetSize());
  return ModbusCrc(frame, total) == 0;
}

bool ModbusRtuProtocol::IsOwnAddress(const DataGram& header) {
  return header.GetSize() > 0 && static_cast<uint16_t>(header[0]) == slaveAddress;
}

DataGram ModbusRtuProtocol::BuildAdu(const DataGram& pdu) const {
  DataGram adu(pdu.GetSize() + 3);
  adu[0] = static_cast<uint8_t>(slaveAddress & 0xFF);
  adu.Copy(pdu, 1);
  const uint16_t crc = ModbusCrc(adu.GetBuffer(), adu.GetSize() - 2);
  adu[adu.GetSize() - 2] = static_cast<uint8_t>(crc & 0xFF);
  adu[adu.GetSize() - 1] = static_cast<uint8_t>(crc >> 8);
  return adu;
}

ModbusAnswer ModbusRtuProtocol::Transact(const DataGram& pdu) {
  const DataGram adu = BuildAdu(pdu);
  // The stop is cleared as the transaction starts, before the request goes out: a stop that
  // comes while it is being written is meant for this transaction and ends its wait.
  stopRequested = false;
  if (channel == nullptr || !channel->IsOpen()) return ReceiveAnswer(pdu[0]);
  channel->Purge();
  const double sentAt = NowMilliseconds();
  channel->Write(adu);
  const ModbusAnswer answer = ReceiveAnswer(pdu[0]);
  if (IExchangeTap* tap = exchangeTap.load()) {
    ModbusExchange exchange;
    exchange.request = adu.GetBuffer();
    exchange.requestLength = adu.GetSize();
    exchange.received = m_received.data();
    exchange.receivedLength = static_cast<int32_t>(m_received.size());
    exchange.answerAt = m_answerAt;
    exchange.answerLength = m_answerLength;
    exchange.code = answer.code;
    exchange.sentAtMs = sentAt;
    if (m_answerAt >= 0) exchange.roundTripMs = NowMilliseconds() - sentAt;
    tap->OnExchange(exchange);
  }
  return answer;
}

ModbusAnswer ModbusRtuProtocol::Read(uint8_t function, uint16_t address, uint16_t quantity) {
  if (RefuseAddressZero(address)) return {kIllegalAddress, {}};
  return Transact(ShortPdu(function, address, quantity));
}

ModbusAnswer ModbusRtuProtocol::WriteSingle(uint8_t function, uint16_t address, uint16_t value) {
  if (RefuseAddressZero(address)) return {kIllegalAddress, {}};
  return Transact(ShortPdu(function, address, value));
}

ModbusAnswer ModbusRtuProtocol::WriteMultiple(uint8_t function, uint16_t address, uint16_t count,
                                              const DataGram& data) {
  // Address 0 would go out as register 65535 and write where nobody meant to.
  if (RefuseAddressZero(address)) return {kIllegalAddress, {}};
  DataGram pdu(6 + data.GetSize());
  pdu[0] = function;
  PutWord(pdu.GetBuffer() + 1, static_cast<uint16_t>(address - 1));
  PutWord(pdu.GetBuffer() + 3, count);
  pdu[5] = static_cast<uint8_t>(data.GetSize());
  if (data.GetSize() > 0) pdu.Copy(data, 6);
  return Transact(pdu);
}

ModbusAnswer ModbusRtuProtocol::ReadCoils(uint16_t address, uint16_t quantity) {
  return Read(1, address, quantity);
}
ModbusAnswer ModbusRtuProtocol::ReadDiscreteInputs(uint16_t address, uint16_t quantity) {
  return Read(2, address, quantity);
}
ModbusAnswer ModbusRtuProtocol::ReadHoldingRegisters(uint16_t address, uint16_t quantity) {
  return Read(3, address, quantity);
}
ModbusAnswer ModbusRtuProtocol::ReadInputRegisters(uint16_t address, uint16_t quantity) {
  return Read(4, address, quantity);
}
ModbusAnswer ModbusRtuProtocol::WriteSingleCoil(uint16_t address, uint16_t value) {
  return WriteSingle(5, address, value != 0 ? 0xFF00 : 0x0000);
}
ModbusAnswer ModbusRtuProtocol::WriteSingleRegister(uint16_t address, uint16_t value) {
  return WriteSingle(6, address, value);
}

ModbusAnswer ModbusRtuProtocol::WriteMultipleCoils(uint16_t address, const std::vector<int32_t>& values) {
  const size_t byteCount = (values.size() + 7) / 8;
  if (byteCount > 255) {
    // The byte count travels in one byte: a longer list cannot be framed at all.
    KELMORA_FAULT("WriteMultipleCoils: " + std::to_string(values.size()) +
                  " coils do not fit one request (at most 2040)");
    return {kIllegalFunction, {}};
  }
  DataGram data(static_cast<int32_t>(byteCount));
  for (size_t k = 0; k < values.size(); ++k)
    if (values[k] != 0) data[static_cast<int32_t>(k / 8)] |= static_cast<uint8_t>(1u << (k % 8));
  return WriteMultiple(15, address, static_cast<uint16_t>(values.size()), data);
}

ModbusAnswer ModbusRtuProtocol::WriteMultipleRegisters(uint16_t address, const std::vector<int32_t>& values) {
  if (values.size() * 2 > 255) {
    KELMORA_FAULT("WriteMultipleRegisters: " + std::to_string(values.size()) +
                  " registers do not fit one request (at most 127)");
    return {kIllegalFunction, {}};
  }
  DataGram data(static_cast<int32_t>(values.size() * 2));
  for (size_t k = 0; k < values.size(); ++k)
    PutWord(data.GetBuffer() + 2 * k, static_cast<uint16_t>(values[k] & 0xFFFF));
  return WriteMultiple(16, address, static_cast<uint16_t>(values.size()), data);
}

bool ModbusRtuProtocol::IsPduComplete(const uint8_t* pdu, int32_t length) {
  if (length < 2) return false;
  const uint8_t function = pdu[0];
  if (function <= 4) return length == pdu[1] + 2;
  if (function == 5 || function == 6 || function == 15 || function == 16) return length == 5;
  return true;  // every other function and every exception answer ends at 2 bytes
}

bool ModbusRtuProtocol::IsPduComplete(const DataGram& pdu) {
  return IsPduComplete(pdu.GetBuffer(), pdu.GetSize());
}

ModbusAnswer ModbusRtuProtocol::DecodePdu(const DataGram& pdu) {
  ModbusAnswer answer;
  if (pdu.GetSize() < 1) return answer;
  const uint8_t function = pdu[0];
  if (function & 0x80) {
    answer.code = pdu.GetSize() > 1 ? pdu[1] : 0;
    return answer;
  }
  if (pdu.GetSize() < 2) return answer;
  const int32_t dataBytes = std::min<int32_t>(pdu[1], pdu.GetSize() - 2);
  if (function == 1 || function == 2) {
    answer.values.reserve(dataBytes * 8);
    for (int32_t i = 0; i < dataBytes; ++i)
      for (int bit = 0; bit < 8; ++bit) answer.values.push_back((pdu[2 + i] >> bit) & 1 ? 255 : 0);
  } else if (function == 3 || function == 4) {
    answer.values.reserve(dataBytes / 2);
    for (int32_t i = 0; i + 1 < dataBytes; i += 2)
      answer.values.push_back(static_cast<int16_t>(pdu[2 + i] << 8 | pdu[3 + i]));
  }
  return answer;
}

ModbusAnswer ModbusRtuProtocol::ReceiveAnswer(uint8_t expectedFunction, int32_t headerLength,
                                              int32_t crcLength) {
  // The time-out runs from the call: any delay before the first wait counts against it.
  const double start = NowMilliseconds();
  if (channel == nullptr || !channel->IsOpen()) return {kNoChannel, {}};
  WorkerLog().Write("Begin Wait");

  // The bytes of this wait. Frames are taken one after the other from `frameStart`, as a slave
  // sends them: a frame from another slave or with a bad CRC is skipped whole. When the line
  // falls silent without an answer, every other start position is tried too, so noise in
  // front of an answer (which shifts the frame boundaries) costs the noise only.
  constexpr int32_t kHistory = 1024;
  uint8_t bytes[kHistory];
  int32_t length = 0, frameStart = 0;
  bool unscanned = false, justSent = true;
  DataGram header(headerLength), crc(crcLength);
  // For a listening tap: what the wait read, and where the answer stood in it.
  const bool tapped = exchangeTap.load() != nullptr;
  m_received.clear();
  m_answerAt = -1;
  auto keep = [&](int32_t answerAt, int32_t answerLength) {
    if (!tapped) return;
    m_received.assign(bytes, bytes + length);
    m_answerAt = answerAt;
    m_answerLength = answerLength;
  };

  // Whether the frame at `at` (known complete) is the answer; skips it otherwise.
  auto evaluate = [&](int32_t at, int32_t frameLength, bool logOtherFunction) -> std::optional<ModbusAnswer> {
    const int32_t pduLength = frameLength - headerLength - crcLength;
    std::copy_n(bytes + at, headerLength, header.GetBuffer());
    const DataGram pdu(bytes + at + headerLength, pduLength);
    std::copy_n(bytes + at + headerLength + pduLength, crcLength, crc.GetBuffer());
    if (!IsOwnAddress(header) || !IsCrcValid(header, pdu, crc)) return std::nullopt;
    if ((pdu[0] & 0x7F) != expectedFunction) {
      if (logOtherFunction) KELMORA_FAULT("Unexpected device behavior. Get answer for other request");
      return std::nullopt;
    }
    WorkerLog().Write("Begin PDU decode");
    return DecodePdu(pdu);
  };

  while (!stopRequested) {
    // Take every whole frame that is there.
    for (;;) {
      const int32_t frameLength = FrameLength(bytes + frameStart, length - frameStart, headerLength, crcLength);
      if (length - frameStart < frameLength) break;
      if (auto answer = evaluate(frameStart, frameLength, true)) {
        keep(frameStart, frameLength);
        return *answer;
      }
      frameStart += frameLength;
    }
    if (length == kHistory) {  // a babbling line: keep the unfinished frame only
      std::copy(bytes + frameStart, bytes + length, bytes);
      length -= frameStart;
      frameStart = 0;
    }
    // Right after the request went out nothing can be there yet: sleep first rather than ask.
    // Later reads take whatever is waiting; bytes beyond the answer would be purged by the
    // next request anyway.
    const int32_t got = justSent ? 0 : channel->Read(bytes + length, kHistory - length);
    if (got > 0) {
      length += got;
      unscanned = true;
      continue;
    }
    const int32_t limit = timeoutMs.load();
    const double elapsed = NowMilliseconds() - start;
    if (!justSent && limit >= 0 && elapsed > limit) break;
    // A thread that got here only after the deadline (it was not scheduled in time) still
    // takes one look without waiting and then times out: a negative wait would never end.
    int32_t waitMs = limit < 0 ? -1 : std::max(0, static_cast<int32_t>(std::floor(limit - elapsed)) + 1);
    if (unscanned) {
      // Bytes came that gave no answer: after a short silence, look for an answer that
      // starts anywhere in them.
      waitMs = waitMs < 0 ? kSilenceMs : std::min(waitMs, kSilenceMs);
    }
    justSent = false;
    const int32_t ready = channel->WaitReadable(waitMs);
    if (ready == comm_error::kTimeout && unscanned) {
      unscanned = false;
      for (int32_t at = 1; at < length; ++at) {
        const int32_t frameLength = FrameLength(bytes + at, length - at, headerLength, crcLength);
        if (length - at < frameLength) continue;
        if (auto answer = evaluate(at, frameLength, false)) {
          keep(at, frameLength);
          return *answer;
        }
      }
    } else if (ready != comm_error::kSuccess && ready != comm_error::kTimeout &&
               ready != comm_error::kOperationAborted) {
      // The port failed (the adapter was unplugged, the line hung up): waiting on cannot help.
      keep(-1, 0);
      return {kNoChannel, {}};
    }
  }
  char text[64];
  std::snprintf(text, sizeof text, "Timeout exceeded eplased %.2lf", NowMilliseconds() - start);
  KELMORA_FAULT(text);
  keep(-1, 0);
  return {kNoAnswer, {}};
}
