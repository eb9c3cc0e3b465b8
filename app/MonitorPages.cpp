#include "app/MonitorPages.h"

#include "comm/ComPortChannel.h"
#include "comm/DeviceView.h"
#include "comm/FaultLog.h"
#include "profiles/ProfileNumbers.h"
#include "visualobject/CustomObject.h"
#include "visualobject/DisplayObjects.h"
#include "visualobject/InputObjects.h"

namespace {

template <typename T>
CMonitorPages::Factory Row(const char* keyword) {
  return {keyword, [] { return std::unique_ptr<CVisualObject>(new T()); }};
}

}  // namespace

const std::vector<CMonitorPages::Factory>& CMonitorPages::FactoryTable() {
  static const std::vector<Factory> table{
      Row<CSliderProperty>("slider"), Row<CPropertyBinary>("check"), Row<CPropertyCombo>("combo"),
      Row<CGaugeChart>("graph"),      Row<CGaugeText>("text"),       Row<CButonObject>("button"),
      Row<CGaugeDigi>("watch"),       Row<CPropertyEdit>("edit"),    Row<CStatsWnd>("stats"),
      Row<CCustomObject>("custom"),
  };
  return table;
}

CMonitorPages::CMonitorPages(QWidget* dialog, CTabCtrl* tabCtrl)
    : QObject(dialog), m_pDialog(dialog), m_pages(dialog, tabCtrl), m_timers(this, [this](int id) { OnTimer(id); }) {}

CMonitorPages::~CMonitorPages() {
  m_timers.killAll();
  m_objects.clear();
}

QWidget* CMonitorPages::FindPage(int index) const { return m_pages.FindPage(index); }

DialogBaseUnits CMonitorPages::Units() const { return m_pages.Units(); }

void CMonitorPages::Build(CDeviceView* server, CComPortChannel* channel, QWidget* splash) {
  m_dvRepresentationServer = server;
  m_pSplash = splash;
  if (server == nullptr) return;

  // The header entry carries the window-level settings; without one the defaults hold.
  VisualObjectEntry tmpdevprop;
  const KeywordList* header = FindKeywordList(server->Profile().keywordLists, "");
  if (header != nullptr && header->Count() > 0) {
    try {
      tmpdevprop = m_dvRepresentationServer->PropertiesByKeyWord("");
    } catch (...) {
      KELMORA_EXCEPTION("tmpdevprop = m_dvRepresentationServer->PropertiesByKeyWord(\"\")");
      tmpdevprop = VisualObjectEntry{};
    }
  }

  if (channel != nullptr) channel->noPurge = tmpdevprop.Keyword("no_purge") == "1";

  const std::string sizeX = tmpdevprop.Keyword("sizex");
  const std::string sizeY = tmpdevprop.Keyword("sizey");
  if (!sizeX.empty() && !sizeY.empty()) {
    const int cx = profilenumbers::ReadInt(sizeX);
    const int cy = profilenumbers::ReadInt(sizeY);
    if (cx != 0 && cy != 0) m_pages.SetClientSize(cx, cy);
  }

  const int pageCount = std::max(tmpdevprop.page + 1, 1);
  for (int index = 0; index < pageCount; ++index)
    m_pages.AddPage(QString::fromStdString(tmpdevprop.Keyword("pagename" + std::to_string(index))));

  const std::string caption = tmpdevprop.Keyword("caption");
  if (!caption.empty() && m_pDialog) m_pDialog->setWindowTitle(QString::fromStdString(caption));

  for (const Factory& row : FactoryTable()) {
    const KeywordList* list = FindKeywordList(server->Profile().keywordLists, row.keyword);
    const size_t count = list != nullptr ? list->Count() : 0;
    for (size_t made = 0; made < count; ++made) {
      std::unique_ptr<CVisualObject> object = row.make();
      object->Create(this, m_dvRepresentationServer);  // a failed object stays in the list
      m_objects.push_back(std::move(object));
    }
  }

  if (m_pDialog) m_pDialog->repaint();
  m_timers.start(kSplashTimer, 1);
  if (tmpdevprop.Keyword("force_update") == "1") m_timers.start(kForceUpdateTimer, kForceUpdatePeriodMs);
}

void CMonitorPages::OnTimer(int id) {
  if (id == kSplashTimer) {
    if (m_pSplash) m_pSplash->hide();
    m_timers.kill(kSplashTimer);
  } else if (id == kForceUpdateTimer) {
    // Every idle input object sends its current value again.
    for (const auto& object : m_objects) {
      if (object->KeyWord() == "button" || object->IsGauge() || !object->IsIdle()) continue;
      object->InstantQuery(true);
    }
  }
}

void CMonitorPages::Shutdown() {
  m_timers.killAll();
  if (m_dvRepresentationServer) m_dvRepresentationServer->Shutdown();
  for (const auto& object : m_objects) object->Shutdown();
}
