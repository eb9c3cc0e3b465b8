#include "visualobject/PluginLibrary.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "comm/FaultLog.h"

namespace fs = std::filesystem;

namespace {

bool EndsWithDll(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".dll";
}

// "dir/Lumora.dll" → "dir/liblumora.so"; empty for a name that is not a ".dll".
std::string SharedObjectAlias(const std::string& name) {
  if (!EndsWithDll(name)) return {};
  const size_t slash = name.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::string base = name.substr(start, name.size() - 4 - start);
  if (base.empty()) return {};
  for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name.substr(0, start) + "lib" + base + ".so";
}

// A folder that others may write to, unless its sticky bit keeps them from replacing files
// they do not own.
bool FolderOpenToOthers(const struct stat& st) {
  return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

}  // namespace

std::vector<CPluginLibrary::Candidate> CPluginLibrary::Candidates(const std::string& profileName,
                                                                  const std::vector<std::string>& pluginFolders,
                                                                  const std::string& workFolder) {
  std::string name = profileName;
  for (char& c : name)
    if (c == '\\') c = '/';
  if (name.empty()) return {};

  std::vector<std::string> names{name};
  if (const std::string alias = SharedObjectAlias(name); !alias.empty()) names.push_back(alias);

  std::vector<Candidate> candidates;
  if (name.front() == '/') {
    for (const std::string& n : names) candidates.push_back({n, false});
    return candidates;
  }
  std::vector<std::string> folders = pluginFolders;
  folders.push_back(workFolder);
  for (const std::string& folder : folders)
    for (const std::string& n : names) candidates.push_back({(fs::path(folder) / n).lexically_normal().string(), false});
  // A bare name is also left to the system loader (its library path and cache); a relative
  // path with folders in it means the working folder, which was tried above.
  if (name.find('/') == std::string::npos)
    for (const std::string& n : names) candidates.push_back({n, true});
  return candidates;
}

std::vector<std::string> CPluginLibrary::ProgramPluginFolders() {
  fs::path exeDir;
  if (QCoreApplication::instance() != nullptr) {
    exeDir = QCoreApplication::applicationDirPath().toStdString();
  } else {
    std::error_code error;
    exeDir = fs::read_symlink("/proc/self/exe", error).parent_path();
  }
  if (exeDir.empty()) return {};
  return {(exeDir / "plugins").string(), (exeDir / ".." / "lib" / "kelmora" / "plugins").lexically_normal().string()};
}

std::string CPluginLibrary::Distrust(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::string("it cannot be examined: ") + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "the file is writable by its group or by others";

  // The folder that holds the name, and the folder that holds the file a link leads to.
  std::error_code error;
  const fs::path named = fs::absolute(path, error);
  std::vector<fs::path> folders{named.parent_path()};
  const fs::path real = fs::canonical(path, error);
  if (!error && real.parent_path() != folders.front()) folders.push_back(real.parent_path());
  for (const fs::path& folder : folders) {
    struct stat fst {};
    if (::stat(folder.c_str(), &fst) != 0) return "its folder " + folder.string() + " cannot be examined";
    if (FolderOpenToOthers(fst))
      return "the folder " + folder.string() + " is writable by its group or by others and has no sticky bit";
  }
  return {};
}

CPluginLibrary::~CPluginLibrary() { Unload(); }

bool CPluginLibrary::Load(const std::string& name) {
  if (name.empty()) {
    faultlog::PlainLine("Plug-in object without a \"plugin\" element: nothing to load");
    return false;
  }
  const std::vector<std::string> folders = ProgramPluginFolders();
  std::error_code error;
  const std::string workFolder = fs::current_path(error).string();
  for (const Candidate& candidate : Candidates(name, folders, workFolder)) {
    if (candidate.systemSearch) {
      if (LoadFile(candidate.path)) break;
      continue;
    }
    struct stat st {};
    if (::stat(candidate.path.c_str(), &st) != 0) continue;
    if (const std::string reason = Distrust(candidate.path); !reason.empty()) {
      KELMORA_FAULT("Plug-in " + candidate.path + " refused: " + reason);
      return false;
    }
    if (LoadFile(candidate.path)) break;
    faultlog::PlainLine("Plug-in " + candidate.path + " could not be loaded: " + m_library.errorString().toStdString());
    return false;
  }
  if (!IsLoaded()) {
    std::vector<std::string> places = folders;
    places.push_back(workFolder);
    faultlog::PlainLine("Plug-in \"" + name + "\" not found in " + Join(places) + " nor by the system loader");
    return false;
  }
  faultlog::PlainLine("Plug-in \"" + name + "\": " + m_path);
  return true;
}

bool CPluginLibrary::LoadFile(const std::string& path) {
  m_library.setFileName(QString::fromStdString(path));
  m_library.setLoadHints(QLibrary::ResolveAllSymbolsHint);  // a missing symbol fails now, not later
  if (!m_library.load()) return false;

  // Where the file really is: the system loader's search, or the target of a link.
  m_path = fs::weakly_canonical(fs::absolute(path)).string();
  for (const char* symbol : {"ConnectComponent", "ComponentVersion"}) {
    Dl_info info{};
    const QFunctionPointer address = m_library.resolve(symbol);
    if (address != nullptr && ::dladdr(reinterpret_cast<void*>(address), &info) != 0 && info.dli_fname != nullptr) {
      m_path = fs::weakly_canonical(info.dli_fname).string();
      break;
    }
  }
  return true;
}

void CPluginLibrary::Unload() {
  if (m_library.isLoaded()) m_library.unload();
  m_path.clear();
}
