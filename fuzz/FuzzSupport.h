// Helpers shared by the fuzz targets: a reader of the fuzzer's bytes, a scripted line behind the
// `DataChannel` interface, and files in memory (a memfd, a folder in /dev/shm) for the readers
// that take a path.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "comm/DataChannel.h"
#include "platform/CommTypes.h"

namespace fuzz {

// Takes bytes off the front of the fuzzer's input; past the end every read gives 0.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  std::uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  std::uint32_t Word32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
  }
  // The next `count` bytes, fewer when the input ends first.
  std::vector<std::uint8_t> Take(std::size_t count) {
    count = std::min(count, Left());
    std::vector<std::uint8_t> out(m_data + m_at, m_data + m_at + count);
    m_at += count;
    return out;
  }
  std::vector<std::uint8_t> Rest() { return Take(Left()); }
  std::size_t Left() const { return m_size - m_at; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_at = 0;
};

// How the scripted line hands out its bytes, from one byte of the input: bits 0..4 give the
// most bytes one read returns (0: no limit), bit 5 puts a silence (one wait that times out)
// after every such piece.
struct LineShape {
  std::size_t piece = 0;  // 0: everything at once
  bool silences = false;

  static LineShape FromByte(std::uint8_t b) { return {static_cast<std::size_t>(b & 0x1F), (b & 0x20) != 0}; }
};

// A line whose far end has already sent `bytes`: reads hand them out piece by piece and a wait
// reports them at once. Once nothing is left, a wait calls `onDrained` and then either times
// out at once or, with `holdWhenDrained` (a receiver on a worker thread that only its owner
// can stop), sleeps until `Interrupt`; a receiver never sleeps on a timer. Writes are
// swallowed; purging keeps what is queued (the far end's answers count as sent after the
// request).
class ScriptedChannel final : public DataChannel {
 public:
  ScriptedChannel(std::vector<std::uint8_t> bytes, LineShape shape) : m_bytes(std::move(bytes)), m_shape(shape) {
    m_pieceLeft = m_shape.piece;
  }

  std::function<void()> onDrained;
  bool holdWhenDrained = false;

  bool IsOpen() override { return true; }
  std::int32_t Write(const DataGram& dgData) override { return dgData.GetSize(); }
  std::int32_t Read(DataGram& dgData) override { return Read(dgData.GetBuffer(), dgData.GetSize()); }
  void Purge() override {}
  std::int32_t Read(std::uint8_t* buffer, std::int32_t length) override {
    if (m_silent || length <= 0) return 0;
    std::size_t n = std::min(static_cast<std::size_t>(length), m_bytes.size() - m_at);
    if (m_shape.piece != 0) n = std::min(n, m_pieceLeft);
    std::copy_n(m_bytes.data() + m_at, n, buffer);
    m_at += n;
    if (m_shape.piece != 0 && n > 0) {
      m_pieceLeft -= n;
      if (m_pieceLeft == 0) {
        m_pieceLeft = m_shape.piece;
        m_silent = m_shape.silences;
      }
    }
    return static_cast<std::int32_t>(n);
  }
  std::int32_t WaitReadable(std::int32_t) override {
    if (m_silent) {
      m_silent = false;
      return comm_error::kTimeout;
    }
    if (m_at < m_bytes.size()) return comm_error::kSuccess;
    if (onDrained) onDrained();
    if (!holdWhenDrained) return comm_error::kTimeout;
    std::unique_lock lock(m_mutex);
    m_interruptCv.wait(lock, [this] { return m_interrupted; });
    return comm_error::kOperationAborted;
  }
  // Like a real port's, it also ends every later wait at once.
  void Interrupt() override {
    {
      std::lock_guard lock(m_mutex);
      m_interrupted = true;
    }
    m_interruptCv.notify_all();
  }

  bool Drained() const { return m_at == m_bytes.size(); }

 private:
  std::vector<std::uint8_t> m_bytes;
  LineShape m_shape;
  std::size_t m_at = 0;
  std::size_t m_pieceLeft = 0;
  bool m_silent = false;
  std::mutex m_mutex;
  std::condition_variable m_interruptCv;
  bool m_interrupted = false;
};

// A file that lives in memory only, named by a path under /proc/self/fd; for the readers
// that open a path. Rewritten for every input.
class MemoryFile {
 public:
  explicit MemoryFile(const char* name) : m_fd(memfd_create(name, 0)) {
    if (m_fd >= 0) m_path = "/proc/self/fd/" + std::to_string(m_fd);
  }
  ~MemoryFile() {
    if (m_fd >= 0) close(m_fd);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the contents; false when the file could not be written.
  bool Write(const std::uint8_t* data, std::size_t size) {
    if (m_fd < 0 || ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0) return false;
    while (size > 0) {
      const ssize_t n = ::write(m_fd, data, size);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  const std::string& Path() const { return m_path; }

 private:
  int m_fd;
  std::string m_path;
};

// A private folder in memory-backed /dev/shm (or the temporary folder when there is none),
// removed with everything in it when the process ends normally; for readers that also write
// files beside the one they read.
class ScratchFolder {
 public:
  ScratchFolder() {
    for (const char* base : {"/dev/shm", "/tmp"}) {
      std::string pattern = std::string(base) + "/kelmora-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
      if (mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
        break;
      }
    }
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Writes `name` in the folder; returns its path, empty when it could not be written.
  std::string Write(const std::string& name, const std::uint8_t* data, std::size_t size) const {
    if (m_path.empty()) return {};
    const std::string path = m_path + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return {};
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written ? path : std::string();
  }

 private:
  std::string m_path;
};

}  // namespace fuzz
