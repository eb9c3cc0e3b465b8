#include "widgets/SplashScreen.h"

#include "widgets/Contrast.h"
#include "widgets/StaticLogo.h"
#include "widgets/Templates.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#ifndef KELMORA_VERSION_PARTS
#define KELMORA_VERSION_PARTS 0, 0, 0, 0
#endif

namespace {
constexpr std::uint16_t kVersion[4] = {KELMORA_VERSION_PARTS};

}  // namespace

CSplashView::CSplashView(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(false);
  BuildDialog(templates::Splash(), this);
  if (QLabel* version = VersionLabel()) {
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
  }
  TakePaletteColors();
  SetVersionText();
}

void CSplashView::TakePaletteColors() {
  // The status line is quieter than the version: its text colour a third of the way towards
  // the background, as long as it still reads there.
  QLabel* status = StatusLabel();
  if (status == nullptr) return;
  const QColor text = palette().color(QPalette::WindowText);
  const QColor back = palette().color(QPalette::Window);
  auto mix = [](int a, int b) { return (2 * a + b) / 3; };
  const QColor quiet(mix(text.red(), back.red()), mix(text.green(), back.green()), mix(text.blue(), back.blue()));
  QPalette p = status->palette();
  p.setColor(QPalette::WindowText, contrast::Readable(quiet, back));
  status->setPalette(p);
}

void CSplashView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) TakePaletteColors();
}

QString CSplashView::FormatVersionText(std::uint16_t major, std::uint16_t minor,
                                       std::uint16_t build, std::uint16_t revision) {
  return QString::asprintf("Drennix Device Monitor v %x.%x.%x.%x", unsigned{major}, unsigned{minor},
                           unsigned{build}, unsigned{revision});
}

void CSplashView::SetVersionText(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                                 std::uint16_t revision) {
  if (QLabel* label = VersionLabel()) label->setText(FormatVersionText(major, minor, build, revision));
}

void CSplashView::SetVersionText() { SetVersionText(kVersion[0], kVersion[1], kVersion[2], kVersion[3]); }

void CSplashView::SetStatusText(const QString& text) {
  if (QLabel* label = StatusLabel()) label->setText(text);
}

QLabel* CSplashView::StatusLabel() const { return control<QLabel>(this, templates::kSplashStatus); }
QLabel* CSplashView::VersionLabel() const { return control<QLabel>(this, templates::kSplashVersion); }
CStaticLogo* CSplashView::Logo() const { return control<CStaticLogo>(this, templates::kSplashLogo); }

void CSplashView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // From the palette's field colour at the top to its window colour at the bottom: white to
  // light grey on a light desktop, and dark on a dark one, where the texts are light.
  QLinearGradient back(0, 0, 0, height());
  back.setColorAt(0.0, palette().color(QPalette::Base));
  back.setColorAt(1.0, palette().color(QPalette::Window));
  painter.fillRect(rect(), back);
  painter.setPen(palette().color(QPalette::Mid));
  const int y = control(this, templates::kSplashStatus) ? control(this, templates::kSplashStatus)->y() - 4 : height() - 24;
  painter.drawLine(12, y, width() - 13, y);
}

CSplashScreen::CSplashScreen(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_pView(new CSplashView(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->addWidget(m_pView);
  setFixedSize(m_pView->size() + QSize(2, 2));
}

void CSplashScreen::paintEvent(QPaintEvent*) {
  // A one-pixel border around the view, in the palette's shadow side.
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Dark));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CSplashScreen::SetStatusText(const QString& text) {
  m_pView->SetStatusText(text);
  if (isVisible()) repaint();
}

void CSplashScreen::ShowCentered() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - rect().center());
  }
  show();
  repaint();
}
