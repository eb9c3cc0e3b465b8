// The window of the Lumora component: a panel of LEDs on the page, each lit while the bits of
// its mask are set in the first value of property 0. A read starts once a second and its end
// is polled every 10 ms; only LEDs whose masked bits changed are redrawn.
#pragma once

#include <QBasicTimer>
#include <QWidget>
#include <cstdint>

#include "plugin/LedLayout.h"
#include "visualobject/ComponentInterface.h"

class CLedsView : public QWidget {
 public:
  static constexpr int kControlId = 2098;

  CLedsView() = default;

  // Reads the layout from the host, places the window on `parent` at (x, y) pixels and starts
  // the reads. Throws a text (const char*) when the host or the parent cannot serve.
  void Initialise(IComponentHost* host, QWidget* parent, int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void StartRead();
  void PollRead();
  // Lights the LEDs for a value; repaints only those whose masked bits changed.
  void ShowValue(int32_t value);
  int ReadInterval() const { return 1000 / m_rate; }

  int32_t m_rate = 1;  // reads per second
  LedLayout m_layout;
  IComponentHost* m_host = nullptr;
  QBasicTimer m_readTimer;  // starts a read
  QBasicTimer m_waitTimer;  // polls the read in progress
};
