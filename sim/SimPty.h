// The simulator's end of the line: a pseudo-terminal pair whose program side is published as a
// COM port, a link `comN` in the ports folder (or a link of the caller's choice).
#pragma once

#include <string>

namespace sim {

class CSimPty {
 public:
  CSimPty() = default;
  ~CSimPty();
  CSimPty(const CSimPty&) = delete;
  CSimPty& operator=(const CSimPty&) = delete;

  // Opens the pair, puts the program side in raw mode at `baud` and keeps a descriptor of it
  // open, so the device side never sees a hang-up while programs open and close the port.
  bool Open(int baud, std::string& error);
  void Close();
  // The device side, where the simulated device reads and writes.
  int DeviceFd() const { return m_device; }
  // The program side's path, e.g. /dev/pts/4.
  const std::string& ProgramPath() const { return m_path; }

 private:
  int m_device = -1;
  int m_program = -1;
  std::string m_path;
};

// The link of COM `number` in the ports folder.
std::string ComLinkPath(int number);

// Makes `link` a symbolic link to `target`, creating the folders above it. A link that is
// already there is replaced when it leads nowhere; one that leads to an existing file, or any
// other kind of file, is kept and reported as an error.
bool CreatePortLink(const std::string& link, const std::string& target, std::string& error);
// Removes `link` when it still leads to `target`.
void RemovePortLink(const std::string& link, const std::string& target);

}  // namespace sim
