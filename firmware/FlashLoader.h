// The flash loader: on a worker thread of its own it talks to the device's boot loader over
// the serial channel, sector by sector, until the firmware image is programmed.
//
// Three boot loaders exist, named by the `firmware_upgrade` element of the device profile:
//   FlashLoaderIhst   "FU$-IHST" 1.01  sectors from the highest down, 0x62 for sector 0
//   FlashLoaderIhex   "FU$-IHEX" 1.00  sectors upward, extended addresses, segment ready
//   FlashLoaderIhex2  "FU$-IHEX" 2.00  as 1.00 plus identity check, the device's own memory
//                                      map, a sequence byte in data and CRCs from the file
//
// Threads: the GUI thread calls `OpenImage`, `Start`, `Stop` and the accessors; the worker
// runs `Run`. Flags and numbers are atomics, the status lines are copied under a lock.
//
// The worker calls the object's virtual functions, so it must end before any part of the
// object is destroyed: the destructor of every class derived from FlashLoader begins with
// `JoinWorker()`. (The most derived one does the work; the others find the worker gone.)
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "XMLParser/DeviceProfile.h"
#include "comm/DataChannel.h"
#include "firmware/FirmwareImage.h"
#include "firmware/LoaderMessage.h"
#include "firmware/ProgramLoaderFileRead.h"
#include "firmware/UserNotifier.h"
#include "profiles/Version.h"

// The update's outcome: 0 success, 3..9 set by the loader (1, 2 and 6 are the wizard's).
namespace loader_error {
inline constexpr int kNone = 0;
inline constexpr int kNoDevice = 3;
inline constexpr int kIncompatible = 4;
inline constexpr int kUnknown = 5;
inline constexpr int kNotAccessible = 7;
inline constexpr int kFlashWrite = 8;
inline constexpr int kVerification = 9;
}  // namespace loader_error

// The text of error code 0..9 (string resource 146 + code); empty for other codes.
const char* FlashLoaderErrorText(int code);

// The worker's time limits, in milliseconds. The defaults are the boot loader's; tests that
// inject lost answers shorten them so that each loss costs less.
struct LoaderTimings {
  int answerMs = 500;         // ping, connect, identity, map, extended address, segment start, data
  int flashRequestMs = 1000;  // flash request
  int waitMs = 10000;         // segment ready and flash done
  int retrySleepMs = 1000;    // after a failed connect, identity or map attempt
  int attempts = 4;           // connect, identity and map
  int stopWaitMs = 5000;      // how long `Stop` waits for the worker
};

class FlashLoader {
 public:
  enum State : std::int32_t {
    kConnect = 0,
    kSegmentStart = 1,
    kSendData = 2,
    kFlashRequest = 3,
    kFlashWait = 4,
    kComplete = 5,
    kSegmentWait = 6,
    kIdentityCheck = 7,
    kMapRead = 8,
  };

  virtual ~FlashLoader();
  FlashLoader(const FlashLoader&) = delete;
  FlashLoader& operator=(const FlashLoader&) = delete;

  // Reads the image file for this boot loader (GUI thread). False, with the image left as it
  // is, while the worker of an update runs: it reads the image.
  virtual bool OpenImage(const std::string& path);
  // A record type other than 0x00 and 0x04 met while reading.
  virtual bool AcceptRecordType(std::uint8_t type, const LoaderMessage& record);
  // The worker body.
  virtual void Run();

  // Starts a fresh update from Connect on a new worker. False when the thread cannot be made,
  // or while the worker of an earlier update is still running.
  bool Start();
  // Asks the worker to stop and waits up to 5 s for it; on time-out tells the operator
  // "Correct stop failed" and returns false, leaving the worker running.
  bool Stop();

  std::string StatusLine1() const;
  std::string StatusLine2() const;
  double OverallProgress() const { return m_dOverallProgress.load(); }
  double SectorProgress() const { return m_dSectorProgress.load(); }
  bool Finished() const { return m_bFinished.load(); }
  int ErrorCode() const { return m_iErrorCode.load(); }
  std::int32_t RetryCounter() const { return m_iRetryCounter.load(); }
  std::int32_t CurrentState() const { return m_iState.load(); }
  std::string Parameter(std::string_view key) const { return m_description.Parameter(key); }
  const FirmwareDescription& Description() const { return m_description; }
  DataChannel* Channel() const { return m_pChannel; }

  // The image and map, for the GUI before `Start` and for checks after the worker ended.
  const FirmwareImage& Image() const { return m_image; }
  const MemoryMap& Map() const { return m_map; }
  Version SupportedVersion() const { return m_supported; }

  void SetNotifier(IUserNotifier* notifier) { m_pNotifier = notifier; }
  void SetTimings(const LoaderTimings& timings) { m_timings = timings; }

 protected:
  FlashLoader(DataChannel* channel, const FirmwareDescription& description, Version supported, bool descending);

  // How the variants differ inside the common states.
  virtual void AfterConnect();  // start the sector walk, or check the identity
  virtual bool SendsExtendedAddress() const { return false; }
  virtual bool WaitsForSegmentReady() const { return false; }
  virtual bool LogsDataError() const { return false; }
  virtual LoaderMessage DataMessageToSend(const LoaderMessage& stored) const { return stored; }
  virtual bool DataAnswerMatches(const LoaderMessage& sent, const LoaderMessage& answer) const;
  virtual bool SectorCrcFor(int sector, std::uint16_t& crc) const;
  virtual LoaderMessage FlashRequestFor(int sector, std::uint16_t crc) const;

  // Steps of the states the sequence-numbered variant adds.
  void StepIdentityCheck();
  void StepMapRead();

  // Protocol building blocks.
  bool Send(LoaderMessage message);
  bool Receive(LoaderMessage& message, int timeoutMs);
  bool TypedTransaction(const LoaderMessage& request, LoaderMessage& answer, int timeoutMs);
  bool UntypedTransaction(const LoaderMessage& request, LoaderMessage& answer, int timeoutMs);
  enum class PingOutcome { Answered, OtherMessage, Nothing };
  PingOutcome Ping(LoaderMessage& other);
  // A typed transaction repeated up to `attempts` times with a sleep after each failure.
  bool TypedWithAttempts(const LoaderMessage& request, LoaderMessage& answer);

  void Fail(int code);
  void SetStatus1(std::string text);
  void SetStatus2(std::string text);
  void StartSectorWalk();
  void NextSector();
  std::uint64_t SectorBase(int sector) const;
  // Sleeps `ms` unless the loader is being destroyed.
  void Pause(int ms);
  // True from `Start` until the worker has finished its last step.
  bool WorkerRunning() const { return m_worker.joinable() && !m_bFinished.load(); }
  // Ends the worker at once (every wait is cut short) and waits for it. The first statement
  // of every destructor in the hierarchy.
  void JoinWorker();

  DataChannel* m_pChannel;
  FirmwareDescription m_description;
  FirmwareImage m_image;
  MemoryMap m_map;
  Version m_supported;
  bool m_bDescending;
  LoaderTimings m_timings;
  IUserNotifier* m_pNotifier = nullptr;

  std::atomic<std::int32_t> m_iState{kConnect};
  std::int32_t m_iCurrentSector = -1;
  std::size_t m_iCursor = 0;  // index of the current message in the sector's list
  std::int32_t m_iSectorsWithData = 0;

 private:
  void Step();
  void StepConnect();
  void StepSegmentStart();
  void StepSegmentWait();
  void StepSendData();
  void StepFlashRequest();
  void StepFlashWait();
  void BeginSectorData();
  void ToSegmentStart();
  void ToFlashRequest();
  void ToFlashWait();
  const char* FlashText(bool longForm) const;
  // What an answer to a flash request means; may set the state or an error.
  enum class FlashCheck { Accepted, SendAgain, Handled };
  FlashCheck CheckFlashAnswer(const LoaderMessage& request, LoaderMessage answer);
  void HandleFlashWaitMessage(const LoaderMessage& message);
  void HandleSegmentWaitMessage(const LoaderMessage& message);

  std::atomic<bool> m_bRun{false};
  std::atomic<bool> m_bFinished{false};
  std::atomic<bool> m_bStopRequest{false};
  std::atomic<bool> m_bAbort{false};  // the loader is being destroyed: end every wait now
  std::atomic<int> m_iErrorCode{0};
  std::atomic<double> m_dOverallProgress{0.0};
  std::atomic<double> m_dSectorProgress{-1.0};
  std::atomic<std::int32_t> m_iRetryCounter{0};

  mutable std::mutex m_statusMutex;
  std::string m_strStatus1;
  std::string m_strStatus2;

  std::mutex m_finishMutex;
  std::condition_variable m_finishCv;
  std::thread m_worker;
};

class FlashLoaderIhst : public FlashLoader {
 public:
  // Throws "not for me =)" unless `description` names "FU$-IHST" 1.01.
  FlashLoaderIhst(DataChannel* channel, const FirmwareDescription& description);
  ~FlashLoaderIhst() override;

 protected:
  FlashLoaderIhst(DataChannel* channel, const FirmwareDescription& description, Version supported, bool descending);
  LoaderMessage FlashRequestFor(int sector, std::uint16_t crc) const override;
};

class FlashLoaderIhex : public FlashLoaderIhst {
 public:
  // Throws "not for me =)" unless `description` names "FU$-IHEX" 1.00.
  FlashLoaderIhex(DataChannel* channel, const FirmwareDescription& description);
  ~FlashLoaderIhex() override;

 protected:
  FlashLoaderIhex(DataChannel* channel, const FirmwareDescription& description, Version supported);
  bool SendsExtendedAddress() const override { return true; }
  bool WaitsForSegmentReady() const override { return true; }
  bool LogsDataError() const override { return true; }
  LoaderMessage FlashRequestFor(int sector, std::uint16_t crc) const override;
};

class FlashLoaderIhex2 : public FlashLoaderIhex {
 public:
  // Throws "not for me =)" unless `description` names "FU$-IHEX" 2.00.
  FlashLoaderIhex2(DataChannel* channel, const FirmwareDescription& description);
  ~FlashLoaderIhex2() override;

  bool OpenImage(const std::string& path) override;
  bool AcceptRecordType(std::uint8_t type, const LoaderMessage& record) override;

  // The sequence byte every data message carries.
  static constexpr std::uint8_t kSequence = 1;

 protected:
  void AfterConnect() override;
  LoaderMessage DataMessageToSend(const LoaderMessage& stored) const override;
  bool DataAnswerMatches(const LoaderMessage& sent, const LoaderMessage& answer) const override;
  bool SectorCrcFor(int sector, std::uint16_t& crc) const override;
};

// The loader for the boot loader that `description` names, or null when none speaks it.
std::unique_ptr<FlashLoader> CreateFlashLoader(DataChannel* channel, const FirmwareDescription& description);
