#include "platform/ProgramFolders.h"

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace programfolders {

fs::path ExecutableFolder() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : exe.parent_path();
}

fs::path ShippedProfiles() {
  const fs::path exeFolder = ExecutableFolder();
  if (exeFolder.empty()) return {};
  const fs::path shipped = (exeFolder / ".." / "share" / "kelmora" / "profiles").lexically_normal();
  std::error_code error;
  return fs::is_directory(shipped, error) ? shipped : fs::path();
}

fs::path UserDataFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') return fs::path(dataHome) / "Kelmora";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return fs::path(home) / ".local" / "share" / "Kelmora";
  return {};
}

bool PrepareUserDataFolder(const fs::path& folder, const fs::path& shipped, std::string& why) {
  std::error_code error;
  const fs::path profiles = folder / "profiles";
  fs::create_directories(profiles, error);
  if (error || !fs::is_directory(profiles)) {
    why = "cannot create " + profiles.string() + ": " + (error ? error.message() : "not a folder");
    return false;
  }
  if (shipped.empty()) return true;

  const fs::path link = profiles / "shipped";
  const fs::file_status status = fs::symlink_status(link, error);
  if (fs::is_symlink(status)) {
    if (fs::read_symlink(link, error) == shipped) return true;
    fs::remove(link, error);
  } else if (fs::exists(status)) {
    return true;
  }
  fs::create_directory_symlink(shipped, link, error);
  if (error) {
    why = "cannot link " + link.string() + " to " + shipped.string() + ": " + error.message();
    return false;
  }
  return true;
}

bool EnterUserDataFolder(std::string& why) {
  const fs::path folder = UserDataFolder();
  if (folder.empty()) {
    why = "neither XDG_DATA_HOME nor HOME names a folder";
    return false;
  }
  if (!PrepareUserDataFolder(folder, ShippedProfiles(), why)) return false;
  std::error_code error;
  fs::current_path(folder, error);
  if (error) {
    why = "cannot enter " + folder.string() + ": " + error.message();
    return false;
  }
  return true;
}

}  // namespace programfolders
