// Folders found relative to the running program, so that one build works from its build tree
// and from an installation under any prefix: `<prefix>/bin/kelmora` finds its plug-ins in
// `<prefix>/lib/kelmora/plugins` and its shipped profiles in `<prefix>/share/kelmora/profiles`.
// The build tree mirrors that layout (`build/app/kelmora`, `build/share/kelmora/profiles`).
#pragma once

#include <filesystem>
#include <string>

namespace programfolders {

// The folder that holds the running executable; empty when the system cannot tell.
std::filesystem::path ExecutableFolder();

// `<executable folder>/../share/kelmora/profiles` when that folder exists, else empty.
std::filesystem::path ShippedProfiles();

// The per-user data folder: `$XDG_DATA_HOME/Kelmora`, or `~/.local/share/Kelmora` when
// XDG_DATA_HOME is unset or not an absolute path; empty without either.
std::filesystem::path UserDataFolder();

// Makes `folder` with a `profiles` folder in it, and in that a link `shipped` to `shipped`
// (when given). A link that points elsewhere is renewed (the program was installed under
// another prefix); anything else already named `shipped` is the user's and is kept. Returns
// false with the reason in `why` when the folder cannot be made.
bool PrepareUserDataFolder(const std::filesystem::path& folder, const std::filesystem::path& shipped,
                           std::string& why);

// Prepares the per-user data folder (with the shipped profiles beside the program) and makes
// it the working folder, as the desktop menu starts the program; false with `why` if it fails.
bool EnterUserDataFolder(std::string& why);

}  // namespace programfolders
