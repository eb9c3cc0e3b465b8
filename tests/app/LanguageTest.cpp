// The interface in Russian and in English: the choice from the command line and the settings,
// and every window the program opens, in both languages, with no text of the program left in
// Russian under English and none wider than the control that shows it.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>
#include <QXmlStreamReader>
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/AppTemplates.h"
#include "app/FirmwareWizard.h"
#include "app/KelmoraApp.h"
#include "app/Language.h"
#include "app/SnapshotDlg.h"
#include "app/SpecialDialog.h"
#include "app/TrafficDlg.h"
#include "firmware/FlashLoader.h"
#include "tests/app/AppTestSupport.h"
#include "widgets/TabCtrl.h"

namespace {

using namespace apptest;
using language::Language;

TEST(Language, ChosenOnTheCommandLineOrStored) {
  struct Case {
    std::vector<std::string> arguments;
    bool ok;
    std::optional<Language> chosen;
  };
  for (const Case& c : std::vector<Case>{{{}, true, std::nullopt},
                                         {{"--lang", "en"}, true, Language::English},
                                         {{"--lang=ru", "--auto-connect"}, true, Language::Russian},
                                         {{"--lang", "de"}, false, std::nullopt},
                                         {{"--lang=EN"}, false, std::nullopt},
                                         {{"--lang"}, false, std::nullopt}}) {
    kelmora::AppOptions options;
    std::string error;
    const std::string name = c.arguments.empty() ? "(none)" : c.arguments.back();
    EXPECT_EQ(kelmora::ParseAppOptions(c.arguments, options, error), c.ok) << name;
    if (c.ok) {
      EXPECT_EQ(options.language, c.chosen) << name;
    } else {
      EXPECT_NE(error.find("ru or en"), std::string::npos) << error;
    }
  }

  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  EXPECT_EQ(language::Stored(), Language::Russian);  // nothing stored yet
  ASSERT_TRUE(language::Store(Language::English));
  EXPECT_EQ(language::Stored(), Language::English);
  WriteStoredSetting("Settings\\Interface", "Language", "fr");
  EXPECT_EQ(language::Stored(), Language::Russian);
}

// Whether `text` holds a Cyrillic letter.
bool Cyrillic(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x400 && c.unicode() <= 0x4FF; });
}

// Every text of the program has its English in the translation file: lupdate adds a new text
// as unfinished, and lrelease would compile it as it stands.
TEST(Language, TheTranslationIsFinished) {
  QFile file(QStringLiteral(KELMORA_SOURCE_DIR "/translations/kelmora_en.ts"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
  QXmlStreamReader ts(&file);
  int messages = 0;
  QString source;
  while (!ts.atEnd()) {
    if (ts.readNext() != QXmlStreamReader::StartElement) continue;
    if (ts.name() == QLatin1String("source")) source = ts.readElementText();
    if (ts.name() != QLatin1String("translation")) continue;
    ++messages;
    const bool unfinished = ts.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
    const QString english = ts.readElementText();
    EXPECT_FALSE(unfinished || english.isEmpty() || Cyrillic(english)) << source.toStdString();
  }
  EXPECT_FALSE(ts.hasError()) << ts.errorString().toStdString();
  EXPECT_GT(messages, 100);
}

// The texts of the profiles in the working folder (captions, page names, item texts), longest
// first: they are the profile's own and stand as written in every language.
QStringList ProfileTexts() {
  QStringList texts;
  QDirIterator files(QStringLiteral("profiles"), {QStringLiteral("*.xml")}, QDir::Files, QDirIterator::Subdirectories);
  while (files.hasNext()) {
    QFile file(files.next());
    if (!file.open(QIODevice::ReadOnly)) continue;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
      xml.readNext();
      for (const QXmlStreamAttribute& attribute : xml.attributes())
        if (Cyrillic(attribute.value().toString())) texts << attribute.value().toString().trimmed();
      if (xml.isCharacters() && Cyrillic(xml.text().toString())) texts << xml.text().toString().trimmed();
    }
  }
  std::sort(texts.begin(), texts.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
  texts.removeDuplicates();
  return texts;
}

// A text a window shows and what shows it.
struct Shown {
  QString text;
  QString where;
};

// Every text `window` shows: its title, and the texts, titles, tool tips and column headings of
// its visible controls, with what is too narrow for its text reported in `clipped`.
std::vector<Shown> TextsOf(QWidget* window, QStringList& clipped) {
  std::vector<Shown> shown{{window->windowTitle(), QStringLiteral("title of ") + window->metaObject()->className()}};
  auto tooNarrow = [&clipped](QWidget* w, const QString& text, int needed, int width) {
    if (needed > width) clipped << QStringLiteral("%1 \"%2\" needs %3 px, has %4").arg(w->metaObject()->className(), text).arg(needed).arg(width);
  };
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    const QString where = QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') + w->objectName();
    if (!w->toolTip().isEmpty()) shown.push_back({w->toolTip(), where + QStringLiteral(" tool tip")});
    const QFontMetrics metrics = w->fontMetrics();
    if (auto* label = qobject_cast<QLabel*>(w)) {
      shown.push_back({label->text(), where});
      if (label->textFormat() == Qt::RichText || Qt::mightBeRichText(label->text())) continue;
      if (label->wordWrap()) {
        tooNarrow(label, label->text(), label->heightForWidth(label->width()), label->height());
      } else {
        for (const QString& line : label->text().split(QLatin1Char('\n')))
          tooNarrow(label, line, metrics.horizontalAdvance(line), label->contentsRect().width());
      }
    } else if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr) {
      auto* button = static_cast<QAbstractButton*>(w);
      shown.push_back({button->text(), where});
      tooNarrow(button, button->text(), button->sizeHint().width(), button->width());
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      shown.push_back({button->text(), where});
      if (w->inherits("CLedButton")) continue;  // a lamp: its text is its tool tip's, never drawn
      const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
      tooNarrow(button, button->text(), metrics.horizontalAdvance(QString(button->text()).remove(QLatin1Char('&'))) + margin,
                button->width());
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
      shown.push_back({group->title(), where});
      tooNarrow(group, group->title(), metrics.horizontalAdvance(group->title()) + 2 * metrics.averageCharWidth(), group->width());
    } else if (auto* header = qobject_cast<QHeaderView*>(w)) {
      for (int section = 0; section < header->count(); ++section) {
        const QString text = header->model()->headerData(section, header->orientation()).toString();
        shown.push_back({text, where});
        if (header->orientation() == Qt::Horizontal && !header->stretchLastSection())
          tooNarrow(header, text, metrics.horizontalAdvance(text), header->sectionSize(section));
      }
    } else if (auto* view = qobject_cast<QTableView*>(w)) {
      for (int row = 0; row < view->model()->rowCount(); ++row)
        for (int column = 0; column < view->model()->columnCount(); ++column)
          shown.push_back({view->model()->index(row, column).data().toString(), where});
    }
  }
  return shown;
}

// Checks one window in `lang`: under English no Russian text of the program is left (the
// profile's own texts aside); in both languages no text is clipped.
void ExpectWholeTexts(QWidget* window, Language lang, const QStringList& profileTexts, const char* name) {
  QStringList clipped;
  for (const Shown& s : TextsOf(window, clipped)) {
    if (lang != Language::English) continue;
    QString rest = s.text;
    for (const QString& own : profileTexts) rest.remove(own);
    EXPECT_FALSE(Cyrillic(rest)) << name << ": " << s.where.toStdString() << " shows \"" << s.text.toStdString() << "\"";
  }
  EXPECT_TRUE(clipped.isEmpty()) << name << " (" << language::Code(lang) << "): " << clipped.join("; ").toStdString();
}

class EveryWindow : public ::testing::TestWithParam<Language> {
 protected:
  void SetUp() override { ASSERT_TRUE(language::Apply(GetParam())); }
  void TearDown() override { language::Apply(Language::Russian); }
};

TEST_P(EveryWindow, ShowsItsTextsInTheLanguageWhole) {
  const Language lang = GetParam();
  const bool english = lang == Language::English;
  // The wizard: the profile page it ends on, and the serial page behind it.
  {
    Workplace place;
    const QStringList own = ProfileTexts();
    ASSERT_FALSE(own.isEmpty());
    CSetupDialog wizard;
    wizard.Open();
    wizard.show();
    ASSERT_TRUE(wizard.ProfilesPage()->isVisible());
    ExpectWholeTexts(&wizard, lang, own, "setup wizard, profile page");
    Click(&wizard, templates::setup::kBack);
    ASSERT_TRUE(wizard.SerialPage()->isVisible());
    ExpectWholeTexts(&wizard, lang, own, "setup wizard, serial page");
    EXPECT_EQ(wizard.windowTitle(), english ? "Kelmora setup" : Ru("Настройка программы"));
  }

  OpenWindow w;
  ASSERT_TRUE(w.opened);
  const QStringList own = ProfileTexts();

  // The main window, page by page, once every value is in, and its context menu.
  ASSERT_TRUE(WaitFor(
      [&] {
        return std::all_of(w.dialog.Pages()->Objects().begin(), w.dialog.Pages()->Objects().end(), [](const auto& object) {
          return object->KeyWord() == "custom" || object->Led()->GetState() == CVisualObject::LedUpdated;
        });
      },
      20000));
  auto* tabs = control<CTabCtrl>(&w.dialog, templates::monitor::kTabs);
  for (int page = 0; page < w.dialog.Pages()->Pages().PageCount(); ++page) {
    tabs->SetCurSel(page);
    ExpectWholeTexts(&w.dialog, lang, own, "main window");
  }
  EXPECT_EQ(control<QGroupBox>(&w.dialog, templates::monitor::kInfoGroup)->title(),
            english ? "Device information" : Ru("Информация об устройстве"));
  const QStringList menu = english ? QStringList{"Record values...", "Traffic monitor...", "Save configuration...",
                                                 "Compare with configuration...", "Language", "&About Kelmora..."}
                                   : QStringList{Ru("Записывать значения..."), Ru("Монитор обмена..."),
                                                 Ru("Сохранить конфигурацию..."), Ru("Сравнить с конфигурацией..."),
                                                 Ru("Язык"), "&About Kelmora..."};
  EXPECT_EQ(MenuTexts(w.dialog), menu);

  // The traffic monitor with frames in it.
  CTrafficDlg* traffic = w.dialog.ShowTraffic();
  ASSERT_TRUE(WaitFor([&] { return traffic->Model()->rowCount() > 10; }, 20000));
  traffic->Refresh();
  ExpectWholeTexts(traffic, lang, own, "traffic monitor");
  traffic->close();

  // A configuration compared, with a difference to show, then applied.
  {
    Boxes boxes;
    ASSERT_TRUE(w.dialog.SaveConfiguration("drive.json"));
    ExpectWholeTexts(&w.dialog, lang, own, "main window");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(english && Cyrillic(boxes.shown[0].text)) << boxes.shown[0].text.toStdString();
    w.place.SetHolding(104, w.place.Holding(104) + 3);
    bool seen = false;
    OnModal<CSnapshotDlg>([&](CSnapshotDlg* compare) {
      seen = true;
      ExpectWholeTexts(compare, lang, own, "configuration compared");
      compare->ApplyButton()->click();
      ExpectWholeTexts(compare, lang, own, "configuration applied");
      compare->reject();
    });
    w.dialog.CompareConfiguration("drive.json");
    EXPECT_TRUE(seen);
  }

  CAboutDlg about(&w.dialog);
  about.show();
  ExpectWholeTexts(&about, lang, own, "About");

  CDeviceView* server = w.dialog.Server();
  CSpecialDialog wait(server, server->RequestFlashSave(), &w.dialog);
  wait.show();
  ExpectWholeTexts(&wait, lang, own, "long query");
  ASSERT_TRUE(WaitFor([&] { return !wait.isVisible(); }, 20000));

  auto loader = CreateFlashLoader(nullptr, w.dialog.Profile().firmware);
  ASSERT_NE(loader, nullptr);
  CLoaderSheet firmware(loader.get(), w.dialog.Profile().identity, nullptr, &w.dialog);
  firmware.show();
  ExpectWholeTexts(&firmware, lang, own, "firmware wizard");
  EXPECT_EQ(control<QPushButton>(&firmware, templates::loadersheet::kNext)->text(), english ? "Next >" : Ru("Далее >"));

  // The menu's choice is stored for the next start, and the operator is told so.
  Boxes boxes;
  const Language other = english ? Language::Russian : Language::English;
  w.dialog.ChooseLanguage(other);
  EXPECT_EQ(language::Stored(), other);
  EXPECT_EQ(language::Current(), lang);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].icon, QMessageBox::Information);
}

INSTANTIATE_TEST_SUITE_P(Language, EveryWindow, ::testing::Values(Language::Russian, Language::English),
                         [](const auto& info) { return std::string(info.param == Language::English ? "English" : "Russian"); });

}  // namespace
