// kelmora-gallery: renders every widget of the widgets folder in its typical states to PNG
// files, so their looks can be reviewed without a display.
//
//   kelmora-gallery [output folder]   (default: <build dir>/gallery)
// Exits non-zero when a picture could not be written.
#include "widgets/AdvComboBox.h"
#include "widgets/DialogTemplate.h"
#include "widgets/GradientProgressCtrl.h"
#include "widgets/LedButton.h"
#include "widgets/PageContainer.h"
#include "widgets/SegmentDisplayCtrl.h"
#include "widgets/SplashScreen.h"
#include "widgets/StaticGraphCtrl.h"
#include "widgets/StaticLogo.h"
#include "widgets/TabCtrl.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <cmath>
#include <cstdio>

#ifndef KELMORA_GALLERY_DIR
#define KELMORA_GALLERY_DIR "gallery"
#endif

namespace {

QString g_outputDir;
int g_failures = 0;
int g_written = 0;

// Renders `widget` at `scale` times its size (2 shows the antialiasing of small shapes).
void Save(QWidget* widget, const QString& name, qreal scale = 1.0) {
  widget->ensurePolished();
  if (QLayout* layout = widget->layout()) layout->activate();
  widget->show();
  QApplication::processEvents();
  QImage image((widget->size() * scale), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(widget->palette().color(QPalette::Window));
  widget->render(&image);
  const QString path = QDir(g_outputDir).filePath(name);
  if (image.save(path, "PNG")) {
    ++g_written;
    std::printf("wrote %s\n", qPrintable(path));
  } else {
    ++g_failures;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  }
  widget->hide();
}

QLabel* Caption(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, QColor(0x55, 0x5F, 0x6A));
  label->setPalette(p);
  return label;
}

CLedButton* VisualObjectLed(QWidget* parent, const QString& text, int state) {
  auto* led = new CLedButton(parent);
  led->SetStateCount(4, false);
  led->SetStateColor(0, 255, 205, 205, 205);
  led->SetStateColor(1, 255, 255, 255, 255);
  led->SetStateColor(2, 255, 0, 255, 0);
  led->SetStateColor(3, 255, 255, 255, 0);
  led->SetState(state);
  led->setText(text);
  led->setMinimumSize(led->sizeHint());
  return led;
}

void LedGallery() {
  QWidget panel;
  auto* grid = new QGridLayout(&panel);
  grid->setContentsMargins(12, 12, 12, 12);
  grid->setHorizontalSpacing(18);
  const char* names[] = {"Device Error", "Timeout", "Updated", "In Process"};
  for (int s = 0; s < 4; ++s) {
    grid->addWidget(Caption(QStringLiteral("state %1").arg(s), &panel), s, 0);
    grid->addWidget(VisualObjectLed(&panel, QString::fromLatin1(names[s]), s), s, 1);
  }
  auto* lampless = new CLedButton(&panel);
  lampless->setText(QStringLiteral("No lamp: caption 3 px from the edge"));
  lampless->setMinimumSize(lampless->sizeHint());
  grid->addWidget(Caption(QStringLiteral("no lamp"), &panel), 4, 0);
  grid->addWidget(lampless, 4, 1);

  auto* left = VisualObjectLed(&panel, QStringLiteral("Caption on the left"), 2);
  left->SetButtonStyle(ButtonStyle::kLeftText | ButtonStyle::kRight);
  grid->addWidget(Caption(QStringLiteral("left text"), &panel), 5, 0);
  grid->addWidget(left, 5, 1);

  auto* disabled = VisualObjectLed(&panel, QStringLiteral("Disabled (embossed)"), 0);
  disabled->setEnabled(false);
  grid->addWidget(Caption(QStringLiteral("disabled"), &panel), 6, 0);
  grid->addWidget(disabled, 6, 1);

  auto* colours = VisualObjectLed(&panel, QStringLiteral("Own text and back colours"), 2);
  colours->SetStateTextColor(2, QColor(0xF0, 0xF4, 0xF8));
  colours->SetStateBackColor(2, QColor(0x24, 0x33, 0x44));
  grid->addWidget(Caption(QStringLiteral("colours"), &panel), 7, 0);
  grid->addWidget(colours, 7, 1);
  Save(&panel, QStringLiteral("led_button.png"));
  Save(&panel, QStringLiteral("led_button@2x.png"), 2.0);
}

void ProgressGallery() {
  QWidget panel;
  auto* grid = new QGridLayout(&panel);
  grid->setContentsMargins(12, 12, 12, 12);
  int row = 0;
  auto add = [&](const QString& caption, CGradientProgressCtrl* bar) {
    bar->setMinimumSize(260, 22);
    grid->addWidget(Caption(caption, &panel), row, 0);
    grid->addWidget(bar, row++, 1);
  };
  auto* empty = new CGradientProgressCtrl(&panel);
  empty->SetTextMode(CGradientProgressCtrl::kShowPercent);
  add(QStringLiteral("empty, percent"), empty);

  auto* third = new CGradientProgressCtrl(&panel);
  third->SetTextMode(CGradientProgressCtrl::kShowPercent);
  third->SetPos(35);
  add(QStringLiteral("35 %"), third);

  auto* value = new CGradientProgressCtrl(&panel);
  value->SetRange(0, 4096);
  value->SetPos(4096);
  value->SetTextMode(CGradientProgressCtrl::kShowValue);
  value->SetGradientColors({MakeColorRef(0xC0, 0x39, 0x2B), MakeColorRef(0xF3, 0x9C, 0x12),
                            MakeColorRef(0xF1, 0xC4, 0x0F), MakeColorRef(0x27, 0xAE, 0x60)});
  add(QStringLiteral("full, value, 4 colours"), value);

  auto* wizard = new CGradientProgressCtrl(&panel);
  wizard->SetRange(500, 600);
  wizard->SetTextFormat(QStringLiteral("%d%%"), 256);
  wizard->SetPos(562);
  add(QStringLiteral("500..600, \"%d%%\""), wizard);

  for (int offset : {0, 90}) {
    // The wait dialog's bar: full, green gradient, running; pictured at two offsets.
    auto* wait = new CGradientProgressCtrl(&panel);
    wait->SetGradientColors({0x008000, 0xCAF0A6, 0x008000});
    wait->SetPos(600);
    wait->resize(260, 22);
    wait->SetAnimation(true);
    wait->SetAnimationStep(offset);
    wait->AdvanceAnimation();
    add(QStringLiteral("animated, offset %1").arg(wait->AnimationOffset()), wait);
  }
  auto* vertical = new CGradientProgressCtrl(&panel);
  vertical->setOrientation(Qt::Vertical);
  vertical->SetPos(70);
  vertical->setMinimumSize(26, 90);
  grid->addWidget(Caption(QStringLiteral("vertical 70 %"), &panel), 0, 2);
  grid->addWidget(vertical, 1, 2, row - 1, 1, Qt::AlignHCenter);
  Save(&panel, QStringLiteral("progress_bar.png"));
}

void GraphGallery() {
  CStaticGraphCtrl graph;
  graph.resize(480, 220);
  const int a = graph.AddSeries();
  const int b = graph.AddSeries();
  for (int i = 0; i < 200; ++i) {
    graph.AppendValue(a, 20.0 + 8.0 * std::sin(i / 9.0) + 1.5 * std::sin(i * 1.7));
    graph.AppendValue(b, 14.0 + 4.0 * std::cos(i / 14.0));
  }
  graph.SetPixelsPerSample(4);
  graph.ScrollTo(a, 199);
  graph.ScrollTo(b, 199);
  graph.FitToWindow(a);
  Save(&graph, QStringLiteral("graph.png"));

  CStaticGraphCtrl flat;
  flat.resize(320, 160);
  const int f = flat.AddSeries();
  for (int i = 0; i < 20; ++i) flat.AppendValue(f, 7.0);
  flat.SetPixelsPerSample(12);
  flat.ScrollTo(f, 19);
  flat.FitToWindow(f);
  Save(&flat, QStringLiteral("graph_flat.png"));
}

void SegmentGallery() {
  QWidget panel;
  auto* grid = new QGridLayout(&panel);
  grid->setContentsMargins(12, 12, 12, 12);
  int row = 0;
  auto add = [&](const QString& caption, const QString& text, COLORREF off, COLORREF on,
                 COLORREF back, std::uint8_t flags, QSize size) {
    auto* display = new CSegmentDisplayCtrl(&panel);
    display->SetBackColor(back);
    display->SetDisplayColors(off, on);
    display->SetFlags(flags);
    display->SetDisplayText(text);
    display->setFixedSize(size);
    grid->addWidget(Caption(caption, &panel), row, 0);
    grid->addWidget(display, row++, 1);
  };
  const QSize wide(300, 64);
  add(QStringLiteral("default colours"), QStringLiteral("1234.5"), 0x003400, 0x00FF00, 0, 0, wide);
  add(QStringLiteral("soft edge"), QStringLiteral("-0.25"), 0x003400, 0x00FF00, 0,
      CSegmentDisplayCtrl::kSoftEdge, wide);
  add(QStringLiteral("amber, lower case"), QStringLiteral("err 42"), 0x001A33, 0x00A5FF, 0x000508,
      CSegmentDisplayCtrl::kSoftEdge, wide);
  add(QStringLiteral("time"), QStringLiteral("12:45"), 0x0A0A3A, 0x5050FF, 0, 0, QSize(200, 64));
  add(QStringLiteral("letters"), QStringLiteral("ABCDEFGHIJKLM"), 0x202020, 0xFFE0B0, 0x101010,
      CSegmentDisplayCtrl::kSoftEdge, QSize(560, 56));
  add(QStringLiteral("letters"), QStringLiteral("NOPQRSTUVWXYZ"), 0x202020, 0xFFE0B0, 0x101010,
      CSegmentDisplayCtrl::kSoftEdge, QSize(560, 56));
  add(QStringLiteral("symbols"), QStringLiteral("0123456789 +-=/*()[]\u00B0"), 0x202020, 0x70FFFF,
      0x101010, CSegmentDisplayCtrl::kSoftEdge, QSize(560, 48));
  add(QStringLiteral("small"), QStringLiteral("3.3V"), 0x003400, 0x00FF00, 0, 0, QSize(90, 28));
  Save(&panel, QStringLiteral("segment_display.png"));

  CSegmentDisplayCtrl closeUp;
  closeUp.SetDisplayColors(0x262626, 0xFFE0B0);
  closeUp.SetBackColor(0x101010);
  closeUp.SetFlags(CSegmentDisplayCtrl::kSoftEdge);
  closeUp.SetDisplayText(QStringLiteral("KMNVWXYZ/8.:"));
  closeUp.resize(640, 110);
  Save(&closeUp, QStringLiteral("segment_display_closeup@2x.png"), 2.0);
}

void ComboGallery() {
  QWidget panel;
  auto* grid = new QGridLayout(&panel);
  grid->setContentsMargins(12, 12, 12, 12);
  auto* combo = new AdvComboBox(0, &panel);
  for (const char* port : {"COM1", "COM3", "COM4"}) combo->AddItem(-1, QString::fromLatin1(port));
  combo->setEditText(QStringLiteral("com3"));
  combo->CommitText();
  combo->setMinimumWidth(200);
  grid->addWidget(Caption(QStringLiteral("committed \"com3\""), &panel), 0, 0);
  grid->addWidget(combo, 0, 1);
  auto* typed = new AdvComboBox(AdvComboBox::kCaseSensitive, &panel);
  typed->AddItem(-1, QStringLiteral("9600"));
  typed->AddItem(-1, QStringLiteral("115200"));
  typed->setEditText(QStringLiteral("57600"));
  typed->setMinimumWidth(200);
  grid->addWidget(Caption(QStringLiteral("typing, not committed"), &panel), 1, 0);
  grid->addWidget(typed, 1, 1);
  Save(&panel, QStringLiteral("adv_combo.png"));
}

void SplashGallery() {
  CSplashScreen splash;
  splash.View()->SetVersionText(1, 0, 1, 0x0a);
  Save(&splash, QStringLiteral("splash.png"));
  splash.SetStatusText(QStringLiteral("Загрузка профилей устройств..."));
  Save(&splash, QStringLiteral("splash_status.png"));

  QWidget panel;
  auto* grid = new QGridLayout(&panel);
  grid->setContentsMargins(12, 12, 12, 12);
  auto* big = new CStaticLogo(CStaticLogo::kLogoResource, &panel);
  big->setFixedSize(420, 110);
  big->setFrameStyle(QFrame::Box);
  auto* small = new CStaticLogo(CStaticLogo::kLogoResource, &panel);
  small->setFixedSize(180, 48);
  small->setFrameStyle(QFrame::Box);
  grid->addWidget(big, 0, 0);
  grid->addWidget(small, 0, 1, Qt::AlignTop);
  Save(&panel, QStringLiteral("logo.png"));
}

void PagesGallery() {
  QWidget dialog;
  const DialogTemplate tmpl{
      100,
      QStringLiteral("Kelmora"),
      260,
      150,
      {{CPageContainer::kTabControlId, ControlKind::Tab, QString(), 7, 7, 246, 118, 0, {}},
       {1, ControlKind::DefButton, QStringLiteral("OK"), 149, 130, 50, 14, 0, {}},
       {2, ControlKind::Button, QStringLiteral("Cancel"), 203, 130, 50, 14, 0, {}}}};
  BuildDialog(tmpl, &dialog);
  CPageContainer pages(&dialog, control<CTabCtrl>(&dialog, CPageContainer::kTabControlId));
  const char* names[] = {"Измерения", "", "Settings"};
  for (const char* name : names) pages.AddPage(QString::fromUtf8(name));
  CSimpleView* first = pages.FindPage(0);
  const DialogTemplate page{0, QString(), 0, 0,
                            {{-1, ControlKind::Static, QStringLiteral("Temperature, °C"), 4, 6, 80, 10, 0, {}},
                             {-1, ControlKind::Custom, QString(), 90, 2, 90, 22, 0, QStringLiteral("Segment")},
                             {1033, ControlKind::CheckBox, QStringLiteral("Updated"), 186, 8, 60, 10, 0, {}},
                             {-1, ControlKind::Static, QStringLiteral("Setpoint"), 4, 34, 80, 10, 0, {}},
                             {1040, ControlKind::Slider, QString(), 90, 32, 150, 14, 0, {}},
                             {-1, ControlKind::Static, QStringLiteral("Port"), 4, 58, 80, 10, 0, {}},
                             {1041, ControlKind::AdvCombo, QString(), 90, 56, 90, 14, 0, {}}}};
  RegisterControlClass(QStringLiteral("Segment"), [](const ControlTemplate&, QWidget* parent) {
    auto* display = new CSegmentDisplayCtrl(parent);
    display->SetDisplayText(QStringLiteral("23.7"));
    return display;
  });
  const std::map<int, ControlFactory> overrides{{1033, [](const ControlTemplate&, QWidget* parent) {
                                                   return VisualObjectLed(parent, QStringLiteral("Updated"), 2);
                                                 }}};
  BuildDialog(page, first, overrides);
  if (auto* led = control<CLedButton>(first, 1033)) led->setText(QStringLiteral("Updated"));
  if (auto* combo = control<AdvComboBox>(first, 1041)) {
    combo->AddItem(-1, QStringLiteral("COM1"));
    combo->setEditText(QStringLiteral("COM1"));
  }
  Save(&dialog, QStringLiteral("page_container.png"));
  pages.TabCtrl()->SetCurSel(1);
  Save(&dialog, QStringLiteral("page_container_tab2.png"));
}

}  // namespace

int main(int argc, char** argv) {
  // The gallery renders into images only, so it needs no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  g_outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(KELMORA_GALLERY_DIR);
  if (!QDir().mkpath(g_outputDir)) {
    std::fprintf(stderr, "cannot make %s\n", qPrintable(g_outputDir));
    return 1;
  }
  LedGallery();
  ProgressGallery();
  GraphGallery();
  SegmentGallery();
  ComboGallery();
  SplashGallery();
  PagesGallery();
  std::printf("%d pictures written, %d failed\n", g_written, g_failures);
  return g_failures == 0 && g_written > 0 ? 0 : 1;
}
