#include "platform/StreamComm.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "platform/Clock.h"

using namespace comm_error;

namespace {
// Deadline `ms` from now, or none for 0 (a Win32 total time-out of 0 means "no limit").
double DeadlineAfter(double ms) { return ms > 0 ? NowMilliseconds() + ms : -1; }

double Earlier(double a, double b) {
  if (a < 0) return b;
  if (b < 0) return a;
  return std::min(a, b);
}
}  // namespace

void CStreamComm::ResetState() {
  m_dcb = Dcb{};
  m_timeouts = CommTimeouts{};
  m_dwMask = 0;
  CancelAll();
}

bool CStreamComm::SetupComm(uint32_t, uint32_t) {
  // Driver buffers have a fixed size here; any request is accepted.
  return RawIsOpen() ? Succeed() : Fail(kInvalidHandle);
}

bool CStreamComm::GetCommState(Dcb& dcb) {
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  // Answered from the settings last accepted: a pseudo-terminal forgets parity, and a getter
  // must report what a real port would.
  dcb = m_dcb;
  return Succeed();
}

bool CStreamComm::SetCommState(const Dcb& dcb) {
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2)
    return Fail(kInvalidParameter, "unsupported line settings");
  if (!RawApplyState(dcb)) return false;
  m_dcb = dcb;
  return Succeed();
}

bool CStreamComm::GetCommTimeouts(CommTimeouts& timeouts) {
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  timeouts = m_timeouts;
  return Succeed();
}

bool CStreamComm::SetCommTimeouts(const CommTimeouts& timeouts) {
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  m_timeouts = timeouts;
  return Succeed();
}

bool CStreamComm::SetCommMask(uint32_t mask) {
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  m_dwMask = mask;
  return Succeed();
}

uint32_t CStreamComm::TakeLookahead(uint8_t* buffer, uint32_t length) {
  const uint32_t n = std::min<uint32_t>(length, static_cast<uint32_t>(m_lookahead.size()));
  std::copy_n(m_lookahead.begin(), n, buffer);
  m_lookahead.erase(m_lookahead.begin(), m_lookahead.begin() + n);
  return n;
}

bool CStreamComm::FillLookahead() {
  uint8_t chunk[256];
  while (m_lookahead.size() < 65536) {
    const long n = RawRead(chunk, sizeof chunk);
    if (n < 0) return false;
    if (n == 0) break;
    m_lookahead.insert(m_lookahead.end(), chunk, chunk + n);
  }
  return true;
}

uint32_t CStreamComm::PendingEvents() {
  // Event waits look at received bytes without consuming them: what the line holds moves into
  // the look-ahead, which reads drain first.
  if (!FillLookahead()) return 0;
  uint32_t events = 0;
  if (!m_lookahead.empty()) events |= EV_RXCHAR;
  if (std::find(m_lookahead.begin(), m_lookahead.end(), static_cast<uint8_t>(m_dcb.EvtChar)) !=
      m_lookahead.end())
    events |= EV_RXFLAG;
  if (RawOutputQueued() == 0) events |= EV_TXEMPTY;
  // A raw line reports neither breaks nor framing errors; EV_BREAK and EV_ERR never fire.
  return events & m_dwMask;
}

void CStreamComm::PrepareRead(Overlapped& op, void* buffer, uint32_t length) const {
  op.Begin(Overlapped::Op::Read);
  op.readBuffer = static_cast<uint8_t*>(buffer);
  op.length = length;
  op.generation = m_uCancelGeneration;
  op.firstByteEnds = false;
  op.intervalMs = -1;
  const CommTimeouts& t = m_timeouts;
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    op.totalDeadline = NowMilliseconds();  // return at once with what is buffered
  } else if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
             t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD) {
    op.firstByteEnds = true;  // return when anything is there, else wait up to the constant
    op.totalDeadline = DeadlineAfter(t.ReadTotalTimeoutConstant);
  } else {
    op.totalDeadline =
        DeadlineAfter(double(t.ReadTotalTimeoutMultiplier) * length + t.ReadTotalTimeoutConstant);
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD)
      op.intervalMs = t.ReadIntervalTimeout;
  }
}

void CStreamComm::PrepareWrite(Overlapped& op, const void* buffer, uint32_t length) const {
  op.Begin(Overlapped::Op::Write);
  op.writeBuffer = static_cast<const uint8_t*>(buffer);
  op.length = length;
  op.generation = m_uCancelGeneration;
  op.totalDeadline = DeadlineAfter(double(m_timeouts.WriteTotalTimeoutMultiplier) * length +
                                   m_timeouts.WriteTotalTimeoutConstant);
}

CStreamComm::Step CStreamComm::AdvanceRead(Overlapped& op) {
  if (op.done < op.length) {
    const uint32_t taken = TakeLookahead(op.readBuffer + op.done, op.length - op.done);
    if (taken > 0) {
      op.done += taken;
      op.lastByteAt = NowMilliseconds();
    }
  }
  if (op.done < op.length) {
    // One read: a short count means the driver holds nothing more right now.
    const long n = RawRead(op.readBuffer + op.done, op.length - op.done);
    if (n < 0) return Step::Failed;
    if (n > 0) {
      op.done += static_cast<uint32_t>(n);
      op.lastByteAt = NowMilliseconds();
    }
  }
  if (op.done == op.length || (op.firstByteEnds && op.done > 0)) return Step::Done;
  const double now = NowMilliseconds();
  if (op.totalDeadline >= 0 && now >= op.totalDeadline) return Step::Done;
  if (op.intervalMs >= 0 && op.done > 0 && now - op.lastByteAt >= op.intervalMs) return Step::Done;
  return Step::Pending;
}

CStreamComm::Step CStreamComm::AdvanceWrite(Overlapped& op) {
  if (op.done < op.length) {
    const long n = RawWrite(op.writeBuffer + op.done, op.length - op.done);
    if (n < 0) return Step::Failed;
    op.done += static_cast<uint32_t>(n);
  }
  if (op.done == op.length) return Step::Done;
  // A write time-out ends the write with what went out, as a successful call.
  if (op.totalDeadline >= 0 && NowMilliseconds() >= op.totalDeadline) return Step::Done;
  return Step::Pending;
}

CStreamComm::Step CStreamComm::AdvanceEventWait(Overlapped& op) {
  if (m_dwMask == 0) {
    Fail(kInvalidParameter, "no event mask set");
    return Step::Failed;
  }
  m_iLastError = 0;
  const uint32_t events = PendingEvents();
  if (m_iLastError != 0) return Step::Failed;
  if (events == 0) return Step::Pending;
  if (op.events != nullptr) *op.events = events;
  return Step::Done;
}

CStreamComm::Step CStreamComm::Advance(Overlapped& op) {
  if (!RawIsOpen()) {
    Fail(kInvalidHandle);
    return Step::Failed;
  }
  if (op.generation != m_uCancelGeneration) {
    Fail(kOperationAborted);
    return Step::Failed;
  }
  switch (op.op) {
    case Overlapped::Op::Read: return AdvanceRead(op);
    case Overlapped::Op::Write: return AdvanceWrite(op);
    case Overlapped::Op::WaitEvent: return AdvanceEventWait(op);
    case Overlapped::Op::None: break;
  }
  Fail(kInvalidParameter);
  return Step::Failed;
}

bool CStreamComm::WaitForProgress(const Overlapped& op, double deadline) {
  double until = Earlier(deadline, op.totalDeadline);
  if (op.op == Overlapped::Op::Read && op.intervalMs >= 0 && op.done > 0)
    until = Earlier(until, op.lastByteAt + op.intervalMs);
  return RawWait(op.op == Overlapped::Op::Write, until, nullptr) != Ready::Failed;
}

bool CStreamComm::RunToEnd(Overlapped& op, uint32_t* transferred) {
  for (;;) {
    const Step step = Advance(op);
    if (transferred != nullptr) *transferred = op.done;
    if (step == Step::Done) break;
    if (step == Step::Failed || !WaitForProgress(op, -1)) return false;
  }
  op.op = Overlapped::Op::None;
  return Succeed();
}

// Starts `op`: finished at once (true), pending (false, 997) or failed (false).
#define KELMORA_START_OVERLAPPED(op, countOut)        \
  do {                                                 \
    const Step step = Advance(op);                     \
    if (step == Step::Failed) return false;            \
    if (step == Step::Pending) return Fail(kIoPending); \
    (op).op = Overlapped::Op::None;                    \
    if ((countOut) != nullptr) *(countOut) = (op).done; \
    if ((op).hEvent != nullptr) (op).hEvent->Set();    \
    return Succeed();                                  \
  } while (false)

bool CStreamComm::ReadFile(void* buffer, uint32_t length, uint32_t* read, Overlapped* ov) {
  if (read != nullptr) *read = 0;
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  Overlapped local;
  Overlapped& op = ov != nullptr ? *ov : local;
  PrepareRead(op, buffer, length);
  if (ov == nullptr) return RunToEnd(op, read);
  KELMORA_START_OVERLAPPED(op, read);
}

bool CStreamComm::WriteFile(const void* buffer, uint32_t length, uint32_t* written,
                            Overlapped* ov) {
  if (written != nullptr) *written = 0;
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  Overlapped local;
  Overlapped& op = ov != nullptr ? *ov : local;
  PrepareWrite(op, buffer, length);
  if (ov == nullptr) return RunToEnd(op, written);
  KELMORA_START_OVERLAPPED(op, written);
}

bool CStreamComm::WaitCommEvent(uint32_t* events, Overlapped* ov) {
  if (events != nullptr) *events = 0;
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  Overlapped local;
  Overlapped& op = ov != nullptr ? *ov : local;
  op.Begin(Overlapped::Op::WaitEvent);
  op.events = events;
  op.totalDeadline = -1;
  op.generation = m_uCancelGeneration;
  uint32_t* noCount = nullptr;
  if (ov == nullptr) return RunToEnd(op, noCount);
  KELMORA_START_OVERLAPPED(op, noCount);
}

#undef KELMORA_START_OVERLAPPED

bool CStreamComm::GetOverlappedResult(Overlapped* ov, uint32_t* transferred, bool wait,
                                      int32_t timeoutMs) {
  if (ov == nullptr) return Fail(kInvalidParameter);
  const double waitDeadline = timeoutMs < 0 ? -1 : NowMilliseconds() + timeoutMs;
  for (;;) {
    if (ov->op == Overlapped::Op::None) {  // finished
      if (transferred != nullptr) *transferred = ov->done;
      return Succeed();
    }
    const Step step = Advance(*ov);
    if (transferred != nullptr) *transferred = ov->done;
    if (step == Step::Failed) {
      ov->op = Overlapped::Op::None;
      return false;
    }
    if (step == Step::Done) {
      ov->op = Overlapped::Op::None;
      if (ov->hEvent != nullptr) ov->hEvent->Set();
      continue;
    }
    if (!wait) return Fail(kIoIncomplete);
    if (waitDeadline >= 0 && NowMilliseconds() >= waitDeadline) return Fail(kTimeout);
    if (!WaitForProgress(*ov, waitDeadline)) return false;
  }
}

bool CStreamComm::CancelIo() {
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  ++m_uCancelGeneration;  // every operation started before now ends as aborted
  return Succeed();
}

bool CStreamComm::PurgeComm(uint32_t flags) {
  if (!RawIsOpen()) return Fail(kInvalidHandle);
  if (flags & (PURGE_RXABORT | PURGE_TXABORT)) ++m_uCancelGeneration;
  const bool rx = flags & PURGE_RXCLEAR, tx = flags & PURGE_TXCLEAR;
  if (rx) m_lookahead.clear();
  if ((rx || tx) && !RawPurge(rx, tx)) return false;
  return Succeed();
}

int32_t CStreamComm::WaitReadable(int32_t timeoutMs, CWakeup& wakeup) {
  if (!RawIsOpen()) return kInvalidHandle;
  m_iLastError = 0;
  if (!m_lookahead.empty()) return kSuccess;
  const double deadline = timeoutMs < 0 ? -1 : NowMilliseconds() + timeoutMs;
  switch (RawWait(false, deadline, &wakeup)) {
    case Ready::Yes: return kSuccess;
    case Ready::Timeout: return kTimeout;
    case Ready::Woken: return kOperationAborted;
    case Ready::Failed: break;
  }
  return m_iLastError != 0 ? m_iLastError : kGenFailure;
}

CStreamComm::Ready CStreamComm::PollDescriptor(int fd, short events, double deadline, CWakeup* wakeup, short& revents,
                                               int& error) {
  pollfd pfd[2] = {{fd, events, 0}, {wakeup != nullptr ? wakeup->Fd() : -1, POLLIN, 0}};
  for (;;) {
    if (wakeup != nullptr && wakeup->Pending()) {
      wakeup->Consume();
      return Ready::Woken;
    }
    int waitMs = -1;
    if (deadline >= 0) {
      const double left = deadline - NowMilliseconds();
      waitMs = left <= 0 ? 0 : static_cast<int>(std::ceil(left));
    }
    const int r = ::poll(pfd, wakeup != nullptr ? 2 : 1, waitMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      error = errno;
      return Ready::Failed;
    }
    if (r == 0) return Ready::Timeout;
    if (wakeup != nullptr && (pfd[1].revents & POLLIN)) {
      wakeup->Consume();
      return Ready::Woken;
    }
    revents = pfd[0].revents;
    return Ready::Yes;
  }
}
