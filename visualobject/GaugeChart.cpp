#include "visualobject/DisplayObjects.h"
#include "visualobject/Guarded.h"
#include "visualobject/ObjectTemplates.h"
#include "widgets/StaticGraphCtrl.h"

#include <algorithm>
#include <cmath>

CGaugeChart::CGaugeChart() : CVisualObject(objtemplates::Chart(), "graph") {}

bool CGaugeChart::Create(IPageHost* parent, CDeviceView* server) {
  const bool created = CreateBase(QSize(215, 95), parent, server);
  if (m_graph) {
    m_graph->AddSeries();
    m_graph->SetCaption(QString::fromStdString(m_pProp.caption));
    m_graph->ShowCaption(true);
  }
  // Only the exact text "Off" stops the automatic scaling.
  m_bAutoScale = m_pProperties.Keyword("auto_scale") != "Off";
  if (created) StartUpdate();
  return created;
}

void CGaugeChart::DoDataExchange() {
  CVisualObject::DoDataExchange();
  m_graph = Item<CStaticGraphCtrl>(objtemplates::kGraph);
}

void CGaugeChart::SetValue(int32_t raw) {
  CGraphSeries* pSerie = m_graph ? m_graph->Series(0) : nullptr;
  if (!KELMORA_ASSERT_NOT_NULL(pSerie)) return;
  const double y = m_pProp.IsFixed() ? m_pProp.ConvertFixedFromSend(raw) : static_cast<double>(raw);
  std::vector<double>& samples = pSerie->Samples();
  samples.push_back(y);

  // The newest points stay in view: the window starts at max(n - k + 1, 0).
  const int n = static_cast<int>(samples.size());
  m_graph->ScrollTo(0, n);
  if (m_bAutoScale) {
    m_graph->FitToWindow(0);
  } else {
    // Keep the span (whole units) and move the range so that it starts at half the newest
    // value in view.
    const int k = m_graph->TimeAxis().VisibleCount();
    const int start = pSerie->WindowStart();
    const int newest = std::min(start + std::max(k, 1), n) - 1;
    const double v = samples[static_cast<size_t>(std::max(newest, 0))];
    const double span = std::trunc(m_graph->ValueMaximum() - m_graph->ValueMinimum());
    if (span == 0)
      m_graph->SetValueRange(v * 0.5 - 1, v * 0.5 + 1);
    else
      m_graph->SetValueRange(v * 0.5, v * 0.5 + span);
  }
  m_graph->Redraw();
}
