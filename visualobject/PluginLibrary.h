// CPluginLibrary: the shared library of one plug-in object, found by the name its profile
// gives and loaded only when no other user could have written it.
//
// A name is looked for in the program's plug-in folder (`plugins` next to the executable in
// the build tree, `<prefix>/lib/kelmora/plugins` next to an installed `<prefix>/bin`), then in
// the working folder, then (a bare name only) by the system loader's own search. Profiles
// written for Windows name libraries like "Lumora.dll"; such a name is also tried as
// "liblumora.so" in each place, and "\" separates folders as "/" does.
//
// The first file found is the one used. It is refused when it, or the folder it lies in, can
// be written by its group or by others (a folder with the sticky bit excepted, as /tmp): a
// profile must not make the program run code that another user could have put there.
#pragma once

#include <QLibrary>
#include <string>
#include <vector>

class CPluginLibrary {
 public:
  // One place to try: a file path, or a name left to the system loader.
  struct Candidate {
    std::string path;
    bool systemSearch = false;
  };

  // The places `name` is looked for, in order, given the program's plug-in folders and the
  // working folder.
  static std::vector<Candidate> Candidates(const std::string& name, const std::vector<std::string>& pluginFolders,
                                           const std::string& workFolder);
  // The program's plug-in folders, derived from where the running executable lies.
  static std::vector<std::string> ProgramPluginFolders();
  // Why the file at `path` must not be loaded; empty when it may be.
  static std::string Distrust(const std::string& path);

  CPluginLibrary() = default;
  ~CPluginLibrary();
  CPluginLibrary(const CPluginLibrary&) = delete;
  CPluginLibrary& operator=(const CPluginLibrary&) = delete;

  // Finds and loads `name`. Writes the loaded file's absolute path to the fault log, a fault
  // line when a file is refused, and a plain line saying where it looked when nothing loads.
  bool Load(const std::string& name);
  bool IsLoaded() const { return m_library.isLoaded(); }
  // The export `symbol` as a function of type Proc, null when the library has none.
  template <typename Proc>
  Proc Resolve(const char* symbol) {
    return reinterpret_cast<Proc>(m_library.resolve(symbol));
  }
  // The absolute path of the loaded file.
  const std::string& Path() const { return m_path; }
  void Unload();

 private:
  bool LoadFile(const std::string& path);

  QLibrary m_library;
  std::string m_path;
};
