#include "widgets/SplashScreen.h"

#include "widgets/StaticLogo.h"
#include "widgets/Templates.h"

#include <QApplication>
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
  if (QLabel* status = StatusLabel()) {
    QPalette p = status->palette();
    p.setColor(QPalette::WindowText, QColor(0x50, 0x5A, 0x66));
    status->setPalette(p);
  }
  SetVersionText();
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
  QLinearGradient back(0, 0, 0, height());
  back.setColorAt(0.0, QColor(0xFF, 0xFF, 0xFF));
  back.setColorAt(1.0, QColor(0xE9, 0xEE, 0xF3));
  painter.fillRect(rect(), back);
  painter.setPen(QColor(0xC5, 0xCD, 0xD6));
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
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(0x8A, 0x96, 0xA3));
  setPalette(p);
  setAutoFillBackground(true);
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
