#include "app/Language.h"

#include <QCoreApplication>
#include <QTranslator>

#include "comm/ConnectionSettings.h"

namespace language {

namespace {

constexpr const char* kSection = "Settings\\Interface";
constexpr const char* kEntry = "Language";
// Compiled into the program from translations/kelmora_en.ts.
constexpr const char* kEnglishTranslation = ":/i18n/kelmora_en.qm";

QTranslator& English() {
  static QTranslator translator;
  return translator;
}

Language g_current = Language::Russian;

}  // namespace

std::optional<Language> Parse(std::string_view code) {
  if (code == "ru") return Language::Russian;
  if (code == "en") return Language::English;
  return std::nullopt;
}

const char* Code(Language language) { return language == Language::English ? "en" : "ru"; }

Language Stored() { return Parse(ReadStoredSetting(kSection, kEntry)).value_or(Language::Russian); }

bool Store(Language language) { return WriteStoredSetting(kSection, kEntry, Code(language)); }

bool Apply(Language language) {
  QTranslator& english = English();
  if (language == Language::English && english.isEmpty() && !english.load(QString::fromLatin1(kEnglishTranslation)))
    return false;
  // Removed first so that the translator is installed once however often this is called.
  QCoreApplication::removeTranslator(&english);
  if (language == Language::English) QCoreApplication::installTranslator(&english);
  g_current = language;
  return true;
}

Language Current() { return g_current; }

}  // namespace language
