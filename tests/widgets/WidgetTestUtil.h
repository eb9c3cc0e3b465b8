// Helpers shared by the widget tests: rendering into an image, waiting on the event loop,
// and running in a scratch working folder.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>

namespace testutil {

inline QImage Render(QWidget* widget) {
  QImage image(widget->size(), QImage::Format_ARGB32);
  image.fill(Qt::magenta);
  widget->render(&image);
  return image;
}

// Runs the event loop until `done` holds or `ms` pass; returns whether it held.
inline bool WaitFor(const std::function<bool()>& done, int ms = 2000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Lets the event loop run for `ms` milliseconds.
inline void Spin(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

inline int Luminance(QRgb c) { return (299 * qRed(c) + 587 * qGreen(c) + 114 * qBlue(c)) / 1000; }

// Switches the working folder to a fresh temporary one for the life of the object.
class ScratchFolder {
 public:
  ScratchFolder() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
  ~ScratchFolder() { QDir::setCurrent(m_previous); }
  QString Path() const { return m_dir.path(); }

 private:
  QTemporaryDir m_dir;
  QString m_previous;
};

}  // namespace testutil
