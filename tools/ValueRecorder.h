// CValueRecorder: writes every value read from the device into a file, one row per answer, as
// CSV or JSON Lines. The window's recording and `kelmora-cli watch --csv/--jsonl` both attach
// one to the representation server, which hands it each finished read on its worker thread.
//
// Each row goes to the file in a single write(2) as soon as it is made, so a program that is
// killed loses nothing it recorded and never leaves half a row. A write that fails (a full
// disk) or a file that was removed meanwhile stops the recording; `Failure` says why and the
// `onStopped` callback hears it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "comm/DeviceView.h"

class CValueRecorder final : public IReadListener {
 public:
  enum class Format { Csv, JsonLines };

  CValueRecorder() = default;
  ~CValueRecorder() override;
  CValueRecorder(const CValueRecorder&) = delete;
  CValueRecorder& operator=(const CValueRecorder&) = delete;

  // The format a file name asks for: JSON Lines for ".jsonl" and ".json" (any case), else CSV.
  static Format FormatOf(const std::string& path);

  // Creates (or empties) `path` and writes the CSV header; false with the reason in `why`.
  // A recording already running is stopped first.
  bool Start(const std::string& path, Format format, std::string& why);
  // Ends the recording; the file holds every row written so far.
  void Stop();

  // One finished read: a row with the time it was filed (ISO 8601, milliseconds, local time
  // with its offset), the property's id and caption, the raw value, the value as shown and
  // the request's state. Failed reads have empty raw and shown values. Ignored when idle.
  void OnRead(const QueryHandle& result) override;

  bool Recording() const { return m_bRecording.load(); }
  uint64_t Rows() const { return m_uRows.load(); }
  std::string Path() const;
  // Why the recording stopped by itself; empty when it did not.
  std::string Failure() const;
  // Hears the reason when the recording stops by itself, on the thread that found it.
  void SetOnStopped(std::function<void(const std::string& why)> onStopped);

  // The row for `result` at `msSinceEpoch` (without its line end); what `OnRead` writes.
  static std::string Row(Format format, const QueryHandle& result, int64_t msSinceEpoch);
  static std::string Header(Format format);

 private:
  // Writes all of `text` or fails; under m_mutex.
  bool WriteAll(const std::string& text, std::string& why);
  void StopLocked(const std::string& failure);

  mutable std::mutex m_mutex;
  int m_fd = -1;
  Format m_format = Format::Csv;
  std::string m_path;
  std::string m_failure;
  std::function<void(const std::string&)> m_onStopped;
  std::atomic<bool> m_bRecording{false};
  std::atomic<uint64_t> m_uRows{0};
};
