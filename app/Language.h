// The interface language. Russian is the program's own: its texts are written in the code and
// shown as they stand. English comes from the translation built out of translations/kelmora_en.ts
// into the program. Profile texts (captions, page names, item texts) are the profile's own and
// are never translated.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace language {

enum class Language { Russian, English };

// "ru" or "en" (the code --lang takes and the setting stores); nullopt for anything else.
std::optional<Language> Parse(std::string_view code);
const char* Code(Language language);

// The stored choice ("Settings\Interface", "Language"); Russian when none or unknown.
Language Stored();
// Stores the choice for the next start; false when the settings could not be written.
bool Store(Language language);

// Switches the texts of windows made from now on to `language` (installs or removes the
// translation). False when the English translation cannot be loaded; Russian is kept then.
bool Apply(Language language);
Language Current();

}  // namespace language
