// CMonitorPages: the device's pages and visual objects inside the main dialog. It turns the
// representation server's profile into tab pages (from the header entry of keyword "") and
// makes one visual object per profile entry, keyword by keyword in the factory table's order.
// It then hides the splash (timer 2) and, with "force_update", makes every input object send
// its value every two seconds (timer 3).
//
// The owner keeps it for the dialog's life and calls Shutdown before the server goes away.
// The visual objects see the dialog only as an IPageHost: the pages and their dialog units.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "visualobject/PageHost.h"
#include "visualobject/VisualObject.h"
#include "widgets/PageContainer.h"
#include "widgets/TabCtrl.h"
#include "widgets/WindowTimers.h"

class CComPortChannel;
class CDeviceView;

class CMonitorPages : public QObject, public IPageHost {
  Q_OBJECT

 public:
  static constexpr int kSplashTimer = 2;
  static constexpr int kForceUpdateTimer = 3;
  static constexpr int kForceUpdatePeriodMs = 2000;

  // One row of the factory table: a profile keyword and the object class it makes.
  struct Factory {
    const char* keyword;
    std::function<std::unique_ptr<CVisualObject>()> make;
  };
  // The keywords in the order their objects are made.
  static const std::vector<Factory>& FactoryTable();

  // `dialog` gives the font, the title and the size; `tabCtrl` frames the pages.
  CMonitorPages(QWidget* dialog, CTabCtrl* tabCtrl);
  ~CMonitorPages() override;

  // Builds the pages and objects of `server`'s profile. `channel` (may be null) takes the
  // "no_purge" flag; `splash` (may be null) is hidden at the first timer tick afterwards.
  void Build(CDeviceView* server, CComPortChannel* channel = nullptr, QWidget* splash = nullptr);
  // Stops the server, then lets every object shut down. Nothing queries afterwards.
  void Shutdown();

  // IPageHost
  QWidget* FindPage(int index) const override;
  DialogBaseUnits Units() const override;

  CPageContainer& Pages() { return m_pages; }
  const std::vector<std::unique_ptr<CVisualObject>>& Objects() const { return m_objects; }
  bool TimerRunning(int id) const { return m_timers.running(id); }

 private:
  void OnTimer(int id);

  QPointer<QWidget> m_pDialog;
  CPageContainer m_pages;
  CDeviceView* m_dvRepresentationServer = nullptr;
  QPointer<QWidget> m_pSplash;
  // Made in table order and destroyed before the pages that hold them.
  std::vector<std::unique_ptr<CVisualObject>> m_objects;
  CWindowTimers m_timers;
};
