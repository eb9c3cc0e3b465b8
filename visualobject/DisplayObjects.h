// The display objects: they only show their property's value, read on the base's query cycle.
//   CGaugeDigi   "watch"  a segment-style digital readout
//   CGaugeText   "text"   a caption with a read-only field, which can show the data texts
//   CStatsWnd    "stats"  current value with the minimum and maximum seen
//   CGaugeChart  "graph"  a running line chart
// None overrides GetValue, so a non-gauge display writes 0 when its page forces a write.
#pragma once

#include <QPointer>
#include <vector>

#include "visualobject/VisualObject.h"
#include "widgets/SegmentDisplayCtrl.h"
#include "widgets/StaticGraphCtrl.h"


class CGaugeDigi : public CVisualObject {
  Q_OBJECT

 public:
  CGaugeDigi();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  void SetValue(int32_t raw) override;
  CSegmentDisplayCtrl* Display() const { return m_display; }

 protected:
  void DoDataExchange() override;

 private:
  QPointer<CSegmentDisplayCtrl> m_display;
};

class CGaugeText : public CVisualObject {
  Q_OBJECT

 public:
  CGaugeText();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  void SetValue(int32_t raw) override;
};

class CStatsWnd : public CVisualObject {
  Q_OBJECT

 public:
  CStatsWnd();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  void SetValue(int32_t raw) override;
  int32_t Minimum() const { return m_nMin; }
  int32_t Maximum() const { return m_nMax; }

 private:
  bool m_bSeen = false;
  int32_t m_nMin = 0;
  int32_t m_nMax = 0;
  std::vector<int32_t> m_values;  // every raw value read, oldest first
};

class CGaugeChart : public CVisualObject {
  Q_OBJECT

 public:
  CGaugeChart();
  bool Create(IPageHost* parent, CDeviceView* server) override;
  void SetValue(int32_t raw) override;
  CStaticGraphCtrl* Graph() const { return m_graph; }
  bool AutoScale() const { return m_bAutoScale; }

 protected:
  void DoDataExchange() override;

 private:
  bool m_bAutoScale = true;
  QPointer<CStaticGraphCtrl> m_graph;
};
