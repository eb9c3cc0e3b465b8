#include "firmware/FlashLoader.h"

#include <chrono>
#include <cstdio>

#include "comm/DataGram.h"
#include "comm/FaultLog.h"
#include "platform/Clock.h"
#include "platform/CommTypes.h"

namespace {

constexpr const char* kErrorTexts[] = {
    "No Error",
    "Program image file not found",
    "Unknown program image file format",
    "No device or device has not re-program compability",
    "Device has incompatitble version",
    "Unknown error",
    "Segment CRC or Flash operation failed",
    "Try to write segment that not accessiable, check chip settings",
    "Flash write operation failed. Check hardware.",
    "Post-write verification failed. Check hardware.",
};

constexpr const char* kStartingSegment = "Starting segment...";

bool VersionAbove(std::uint8_t major, std::uint8_t minor, const Version& limit) {
  if (major != limit.m_v1) return major > limit.m_v1;
  return minor > limit.m_v2;
}

}  // namespace

const char* FlashLoaderErrorText(int code) {
  if (code < 0 || code > 9) return "";
  return kErrorTexts[code];
}

FlashLoader::FlashLoader(DataChannel* channel, const FirmwareDescription& description, Version supported,
                         bool descending)
    : m_pChannel(channel),
      m_description(description),
      m_image(description.memoryMap),
      m_map(description.memoryMap),
      m_supported(supported),
      m_bDescending(descending) {}

FlashLoader::~FlashLoader() { JoinWorker(); }

void FlashLoader::JoinWorker() {
  m_bStopRequest = true;
  {
    // Under the lock, so that a worker about to sleep in `Pause` cannot miss it.
    std::lock_guard lock(m_finishMutex);
    m_bAbort = true;
  }
  m_finishCv.notify_all();
  if (m_worker.joinable()) {
    if (m_pChannel != nullptr) m_pChannel->Interrupt();
    m_worker.join();
  }
}

// ---------------------------------------------------------------------------------------------
// Image

bool FlashLoader::OpenImage(const std::string& path) {
  if (WorkerRunning()) return false;
  const bool read = ReadImage(
      path, m_image, [this](std::uint8_t type, const LoaderMessage& record) { return AcceptRecordType(type, record); },
      m_pNotifier);
  if (read) ApplyTargetStep(m_image, m_description.target);
  return read;
}

bool FlashLoader::AcceptRecordType(std::uint8_t type, const LoaderMessage& record) {
  return AcceptCommonRecordType(type, record);
}

// ---------------------------------------------------------------------------------------------
// Life cycle

bool FlashLoader::Start() {
  if (m_worker.joinable()) {
    // The worker of the last update must have ended: two workers on one line would garble it.
    if (!m_bFinished) return false;
    m_worker.join();
  }
  m_bStopRequest = false;
  m_iErrorCode = 0;
  m_bRun = true;
  m_bFinished = false;
  try {
    m_worker = std::thread([this] { Run(); });
  } catch (...) {
    KELMORA_EXCEPTION("m_worker = std::thread([this] { Run(); })");
    m_bRun = false;
    return false;
  }
  faultlog::PlainLine("Loader started");
  return true;
}

bool FlashLoader::Stop() {
  m_bStopRequest = true;
  if (!m_worker.joinable()) return true;
  {
    std::unique_lock lock(m_finishMutex);
    const bool ended = m_finishCv.wait_for(lock, std::chrono::milliseconds(m_timings.stopWaitMs),
                                           [this] { return m_bFinished.load(); });
    if (!ended) {
      lock.unlock();
      if (m_pNotifier != nullptr) m_pNotifier->Notify("Correct stop failed", NoticeKind::Error);
      return false;
    }
  }
  m_worker.join();
  return true;
}

void FlashLoader::Run() {
  m_iState = kConnect;
  m_iRetryCounter = 0;
  while (!m_bStopRequest && !m_bAbort) {
    if (m_bRun) {
      Step();
    } else {
      Pause(10);
    }
  }
  {
    std::lock_guard lock(m_finishMutex);
    m_bFinished = true;
  }
  m_finishCv.notify_all();
}

void FlashLoader::Step() {
  switch (m_iState.load()) {
    case kConnect: StepConnect(); break;
    case kSegmentStart: StepSegmentStart(); break;
    case kSendData: StepSendData(); break;
    case kFlashRequest: StepFlashRequest(); break;
    case kFlashWait: StepFlashWait(); break;
    case kSegmentWait: StepSegmentWait(); break;
    case kIdentityCheck: StepIdentityCheck(); break;
    case kMapRead: StepMapRead(); break;
    default: m_bStopRequest = true; break;  // Complete, or a state without a step
  }
}

void FlashLoader::Pause(int ms) {
  std::unique_lock lock(m_finishMutex);
  m_finishCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bAbort.load(); });
}

void FlashLoader::Fail(int code) {
  m_iErrorCode = code;
  m_bStopRequest = true;
}

std::string FlashLoader::StatusLine1() const {
  std::lock_guard lock(m_statusMutex);
  return m_strStatus1;
}

std::string FlashLoader::StatusLine2() const {
  std::lock_guard lock(m_statusMutex);
  return m_strStatus2;
}

void FlashLoader::SetStatus1(std::string text) {
  std::lock_guard lock(m_statusMutex);
  m_strStatus1 = std::move(text);
}

void FlashLoader::SetStatus2(std::string text) {
  std::lock_guard lock(m_statusMutex);
  m_strStatus2 = std::move(text);
}

// ---------------------------------------------------------------------------------------------
// Messages on the line

bool FlashLoader::Send(LoaderMessage message) {
  if (m_pChannel == nullptr) return false;
  const std::string text = message.Encode();
  const DataGram datagram(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::int32_t>(text.size()));
  return m_pChannel->Write(datagram) == datagram.GetSize();
}

bool FlashLoader::Receive(LoaderMessage& message, int timeoutMs) {
  faultlog::PlainLine("Start record");
  if (m_pChannel == nullptr) return false;
  const double start = NowMilliseconds();
  std::uint8_t buffer[LoaderMessage::kOverhead + 255];
  std::size_t length = 0;
  int highNibble = -1;  // the first character of a pair, while its second is awaited
  for (;;) {
    if (m_bAbort) return false;
    const double elapsed = NowMilliseconds() - start;
    if (timeoutMs >= 1 && elapsed > timeoutMs) {
      faultlog::PlainLine("Stop record -> timeout");
      return false;
    }
    char c = 0;
    if (m_pChannel->Read(reinterpret_cast<std::uint8_t*>(&c), 1) != 1) {
      // Nothing waiting: sleep until something is, or the time is up.
      const int left = timeoutMs >= 1 ? static_cast<int>(timeoutMs - elapsed) + 1 : -1;
      const std::int32_t ready = m_pChannel->WaitReadable(left);
      if (ready != comm_error::kSuccess && ready != comm_error::kTimeout && ready != comm_error::kOperationAborted) {
        // A failed line answers at once; do not turn that into a busy loop.
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 0 || left > 20 ? 20 : left));
      }
      continue;
    }
    if (c == ':') {
      buffer[0] = ':';
      length = 1;
      highNibble = -1;
      continue;
    }
    if (highNibble < 0) {
      highNibble = HexDigitValue(c);
      continue;
    }
    buffer[length++] = static_cast<std::uint8_t>(highNibble << 4 | HexDigitValue(c));
    highNibble = -1;
    if (length >= 2 && length >= buffer[1] + LoaderMessage::kOverhead) {
      faultlog::PlainLine("Stop record -> to crc");
      LoaderMessage::FromBytes(buffer, length, message);
      return message.CrcValid();
    }
  }
}

bool FlashLoader::UntypedTransaction(const LoaderMessage& request, LoaderMessage& answer, int timeoutMs) {
  if (m_pChannel != nullptr) m_pChannel->Purge();
  if (!Send(request)) return false;
  if (!Receive(answer, timeoutMs)) {
    char text[48];
    std::snprintf(text, sizeof text, "FlashLoader timeout msg=(%d)", request.Type());
    faultlog::PlainLine(text);
    return false;
  }
  return true;
}

bool FlashLoader::TypedTransaction(const LoaderMessage& request, LoaderMessage& answer, int timeoutMs) {
  if (!UntypedTransaction(request, answer, timeoutMs)) return false;
  if (answer.IsError()) {
    char text[96];
    std::snprintf(text, sizeof text, "FlashLoader error reply; send %d; rec %d code %d", request.Type(),
                  answer.Type(), answer.ErrorCode());
    faultlog::PlainLine(text);
  }
  return answer.Type() == request.Type();
}

FlashLoader::PingOutcome FlashLoader::Ping(LoaderMessage& other) {
  LoaderMessage answer;
  if (!UntypedTransaction(LoaderMessage(loader_type::kPing, 0), answer, m_timings.answerMs)) return PingOutcome::Nothing;
  if (answer.BaseType() == loader_type::kPing) return PingOutcome::Answered;
  other = answer;
  return PingOutcome::OtherMessage;
}

bool FlashLoader::TypedWithAttempts(const LoaderMessage& request, LoaderMessage& answer) {
  for (int attempt = 0; attempt < m_timings.attempts; ++attempt) {
    if (m_bAbort) return false;
    if (TypedTransaction(request, answer, m_timings.answerMs)) return true;
    Pause(m_timings.retrySleepMs);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Sector walk

std::uint64_t FlashLoader::SectorBase(int sector) const {
  if (sector < 0 || static_cast<std::size_t>(sector) >= m_map.Size()) return 0;
  return m_map[static_cast<std::size_t>(sector)].Base();
}

void FlashLoader::StartSectorWalk() {
  m_iSectorsWithData = m_image.SlotsWithData();
  m_iCurrentSector = m_bDescending ? FirmwareImage::kSlots : -1;
  NextSector();
}

void FlashLoader::NextSector() {
  int next = -1;
  if (m_bDescending) {
    for (int i = m_iCurrentSector - 1; i >= 0; --i)
      if (m_image.Slot(i).hasData) {
        next = i;
        break;
      }
  } else {
    for (int i = m_iCurrentSector + 1; i < FirmwareImage::kSlots; ++i)
      if (m_image.Slot(i).hasData) {
        next = i;
        break;
      }
  }
  if (next >= 0) {
    m_iCurrentSector = next;
    SetStatus2(kStartingSegment);
    m_dSectorProgress = -1;
    m_iState = kSegmentStart;
    return;
  }
  m_iCurrentSector = m_bDescending ? -1 : FirmwareImage::kSlots;
  Send(LoaderMessage(loader_type::kFinish, 0));
  m_dSectorProgress = 100;
  SetStatus2("Complete...");
  m_iState = kComplete;
  m_bStopRequest = true;
}

const char* FlashLoader::FlashText(bool longForm) const {
  if (m_iCurrentSector == 0) return longForm ? "Finalizing...It could take a minute" : "Finalizing...";
  return longForm ? "Flashing...It could take a minute" : "Flashing...";
}

void FlashLoader::ToSegmentStart() {
  SetStatus2(kStartingSegment);
  m_dSectorProgress = -1;
  m_iState = kSegmentStart;
}

void FlashLoader::ToFlashRequest() {
  m_dSectorProgress = -1;
  SetStatus2(FlashText(false));
  m_iState = kFlashRequest;
}

void FlashLoader::ToFlashWait() {
  m_dSectorProgress = -1;
  SetStatus2(FlashText(true));
  m_iState = kFlashWait;
}

void FlashLoader::BeginSectorData() {
  if (m_image.Slot(m_iCurrentSector).messages.empty()) {
    NextSector();
    return;
  }
  m_iCursor = 0;
  SetStatus2("Sending data...");
  m_dSectorProgress = 0;
  m_iState = kSendData;
}

// ---------------------------------------------------------------------------------------------
// States

void FlashLoader::StepConnect() {
  m_dOverallProgress = 0;
  SetStatus1("Initialization...");
  m_dSectorProgress = -1;
  SetStatus2("Connecting to device");
  LoaderMessage answer;
  if (!TypedWithAttempts(LoaderMessage(loader_type::kPing, 0), answer)) {
    Fail(loader_error::kNoDevice);
    return;
  }
  m_dSectorProgress = -1;
  SetStatus2("Check flash loader version");
  if (answer.Count() > 1 && VersionAbove(answer.DataByte(0), answer.DataByte(1), m_supported)) {
    Fail(loader_error::kIncompatible);
    return;
  }
  AfterConnect();
}

void FlashLoader::AfterConnect() { StartSectorWalk(); }

void FlashLoader::StepIdentityCheck() {
  LoaderMessage answer;
  if (!TypedWithAttempts(LoaderMessage(loader_type::kIdentity, 0), answer)) {
    Fail(loader_error::kIncompatible);
    return;
  }
  const std::vector<std::uint8_t> payload = answer.Payload();
  auto word = [&](std::size_t at) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(payload[at]) | payload[at + 1] << 8 |
                                     payload[at + 2] << 16 | static_cast<std::uint32_t>(payload[at + 3]) << 24);
  };
  if (payload.size() != 8 || word(0) != m_image.identity1 || word(4) != m_image.identity2) {
    Fail(loader_error::kIncompatible);
    return;
  }
  m_iState = kMapRead;
}

void FlashLoader::StepMapRead() {
  LoaderMessage answer;
  if (!TypedWithAttempts(LoaderMessage(loader_type::kMemoryMap, 0), answer)) {
    Fail(loader_error::kIncompatible);
    return;
  }
  const std::vector<std::uint8_t> payload = answer.Payload();
  auto word = [&](std::size_t at) {
    return static_cast<std::uint64_t>(payload[at]) | static_cast<std::uint64_t>(payload[at + 1]) << 8 |
           static_cast<std::uint64_t>(payload[at + 2]) << 16 | static_cast<std::uint64_t>(payload[at + 3]) << 24;
  };
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;
  for (std::size_t k = 0; k < payload.size() / 8; ++k) pairs.emplace_back(word(8 * k), word(8 * k + 4));
  m_map = MemoryMap(pairs);
  const bool hadData = m_image.SlotsWithData() > 0;
  m_image.Resort(m_map);
  if (hadData && m_image.SlotsWithData() == 0) {
    // None of the image lies in the device's flash: "complete" would claim an update that
    // never happened.
    KELMORA_FAULT("The device's memory map holds none of the image");
    Fail(loader_error::kIncompatible);
    return;
  }
  StartSectorWalk();
}

void FlashLoader::StepSegmentStart() {
  const std::uint64_t base = SectorBase(m_iCurrentSector);
  LoaderMessage answer;
  if (SendsExtendedAddress() && base > 0xFFFF) {
    if (!TypedTransaction(LoaderMessage::ExtendedAddress(static_cast<std::uint32_t>(base >> 16)), answer,
                          m_timings.answerMs)) {
      faultlog::PlainLine("Can't set address before new segment start");
      Fail(loader_error::kNotAccessible);
      return;
    }
  }
  if (!UntypedTransaction(LoaderMessage(loader_type::kSegmentStart, static_cast<std::uint16_t>(base & 0xFFFF)), answer,
                          m_timings.answerMs)) {
    SetStatus2("Starting segment... (RETRY)");
    return;
  }
  if (answer.BaseType() != loader_type::kSegmentStart) {
    Fail(loader_error::kUnknown);
    return;
  }
  if (answer.IsError()) {
    if (answer.ErrorCode() == 1) {
      SetStatus2("Starting segment... (RETRY)");
    } else if (answer.ErrorCode() == 2) {
      if (LogsDataError()) faultlog::PlainLine("Data error found in message");
      Fail(loader_error::kNotAccessible);
    } else {
      Fail(loader_error::kUnknown);
    }
    return;
  }
  if (!WaitsForSegmentReady()) {
    BeginSectorData();
    return;
  }
  SetStatus2("Starting segment...It could take a minute");
  m_dSectorProgress = -1;
  m_iState = kSegmentWait;
}

void FlashLoader::HandleSegmentWaitMessage(const LoaderMessage& message) {
  if (message.BaseType() == loader_type::kSegmentReady) {
    if (!message.IsError()) {
      BeginSectorData();
    } else {
      Fail(message.ErrorCode() == 5 ? loader_error::kFlashWrite : loader_error::kUnknown);
    }
  } else if (message.BaseType() == loader_type::kPing) {
    ToSegmentStart();
  } else if (message.Type() == (loader_type::kSegmentStart | loader_type::kErrorBit)) {
    Fail(message.ErrorCode() == 2 ? loader_error::kNotAccessible : loader_error::kUnknown);
  } else {
    Fail(loader_error::kUnknown);
  }
}

void FlashLoader::StepSegmentWait() {
  LoaderMessage message;
  if (Receive(message, m_timings.waitMs)) {
    HandleSegmentWaitMessage(message);
    return;
  }
  LoaderMessage other;
  switch (Ping(other)) {
    case PingOutcome::Answered: ToSegmentStart(); break;
    case PingOutcome::OtherMessage: HandleSegmentWaitMessage(other); break;
    case PingOutcome::Nothing: break;
  }
}

bool FlashLoader::DataAnswerMatches(const LoaderMessage& sent, const LoaderMessage& answer) const {
  if (sent.Type() != loader_type::kData) return true;
  return answer.Address() == sent.Address();
}

void FlashLoader::StepSendData() {
  const auto& messages = m_image.Slot(m_iCurrentSector).messages;
  if (m_iCursor >= messages.size()) {
    Fail(loader_error::kUnknown);
    return;
  }
  const LoaderMessage& stored = messages[m_iCursor];
  const LoaderMessage request = DataMessageToSend(stored);
  LoaderMessage answer;
  if (!TypedTransaction(request, answer, m_timings.answerMs) || !DataAnswerMatches(request, answer)) {
    // The device refused the message itself. Code 1 asks for it again; any other refusal
    // would come back however often the message is sent, so the update ends here.
    if (answer.CrcValid() && answer.IsError() && answer.BaseType() == request.Type() && answer.ErrorCode() != 1) {
      if (answer.ErrorCode() == 2 && LogsDataError()) faultlog::PlainLine("Data error found in message");
      Fail(answer.ErrorCode() == 2 ? loader_error::kNotAccessible : loader_error::kUnknown);
      return;
    }
    const std::int32_t retries = ++m_iRetryCounter;
    char text[48];
    std::snprintf(text, sizeof text, "Sending data... (RETRY %d)", retries);
    SetStatus2(text);
    return;
  }
  m_dSectorProgress = m_dSectorProgress.load() + 100.0 / static_cast<double>(messages.size());
  if (++m_iCursor < messages.size()) {
    SetStatus2("Sending data...");
    return;
  }
  ToFlashRequest();
}

bool FlashLoader::SectorCrcFor(int sector, std::uint16_t& crc) const {
  crc = m_image.SectorCrc(sector);
  return true;
}

LoaderMessage FlashLoader::FlashRequestFor(int sector, std::uint16_t crc) const {
  const std::uint8_t data[2] = {static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)};
  return LoaderMessage(loader_type::kFlashRequest, static_cast<std::uint16_t>(SectorBase(sector) & 0xFFFF), data, 2);
}

FlashLoader::FlashCheck FlashLoader::CheckFlashAnswer(const LoaderMessage& request, LoaderMessage answer) {
  while (answer.BaseType() != request.Type()) {
    LoaderMessage other;
    if (Ping(other) != PingOutcome::OtherMessage) return FlashCheck::SendAgain;
    answer = other;
  }
  if (!answer.IsError()) return FlashCheck::Accepted;
  switch (answer.ErrorCode()) {
    case 1: return FlashCheck::SendAgain;
    case 2: Fail(loader_error::kNotAccessible); break;
    case 4: ToSegmentStart(); break;
    default: Fail(loader_error::kUnknown); break;
  }
  return FlashCheck::Handled;
}

void FlashLoader::StepFlashRequest() {
  std::uint16_t crc = 0;
  if (!SectorCrcFor(m_iCurrentSector, crc)) {
    Fail(loader_error::kNotAccessible);
    return;
  }
  const std::uint64_t base = SectorBase(m_iCurrentSector);
  LoaderMessage answer;
  if (SendsExtendedAddress() && base > 0xFFFF) {
    if (!TypedTransaction(LoaderMessage::ExtendedAddress(static_cast<std::uint32_t>(base >> 16)), answer,
                          m_timings.answerMs)) {
      Fail(loader_error::kNotAccessible);
      return;
    }
  }
  const LoaderMessage request = FlashRequestFor(m_iCurrentSector, crc);
  SetStatus2("Sending flash request...");
  if (UntypedTransaction(request, answer, m_timings.flashRequestMs)) {
    if (CheckFlashAnswer(request, answer) == FlashCheck::Accepted) ToFlashWait();
    return;
  }
  LoaderMessage other;
  switch (Ping(other)) {
    case PingOutcome::Answered: break;  // sent again on the next step
    case PingOutcome::OtherMessage:
      if (CheckFlashAnswer(request, other) == FlashCheck::Accepted) ToFlashWait();
      break;
    case PingOutcome::Nothing: ToFlashWait(); break;
  }
}

void FlashLoader::HandleFlashWaitMessage(const LoaderMessage& message) {
  if (message.BaseType() == loader_type::kFlashDone) {
    if (message.IsError()) {
      const int code = message.ErrorCode();
      Fail(code == 5 ? loader_error::kFlashWrite : code == 6 ? loader_error::kVerification : loader_error::kUnknown);
      return;
    }
    if (m_iSectorsWithData > 0) m_dOverallProgress = m_dOverallProgress.load() + 100.0 / m_iSectorsWithData;
    SetStatus2("Complete");
    m_dSectorProgress = 100;
    NextSector();
    return;
  }
  if (message.IsError() &&
      (message.BaseType() == loader_type::kFlashRequest || message.BaseType() == loader_type::kFlashRequestSector0)) {
    switch (message.ErrorCode()) {
      case 1: ToFlashRequest(); break;
      case 2: Fail(loader_error::kNotAccessible); break;
      case 4: ToSegmentStart(); break;
      default: Fail(loader_error::kUnknown); break;
    }
    return;
  }
  if (message.BaseType() == loader_type::kPing) {
    ToFlashRequest();
    return;
  }
  Fail(loader_error::kUnknown);
}

void FlashLoader::StepFlashWait() {
  LoaderMessage message;
  if (Receive(message, m_timings.waitMs)) {
    HandleFlashWaitMessage(message);
    return;
  }
  LoaderMessage other;
  switch (Ping(other)) {
    case PingOutcome::Answered: ToFlashRequest(); break;
    case PingOutcome::OtherMessage: HandleFlashWaitMessage(other); break;
    case PingOutcome::Nothing: break;
  }
}
