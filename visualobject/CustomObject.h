// CCustomObject ("custom"): the host of a plug-in component. It loads the shared library its
// entry names ("plugin"), agrees on an interface version, hands the component a host
// interface and lets it create its own window on the page; the host's own window stays
// hidden. The component reads and writes the entry's properties only through the host
// operations below, each of which keeps one query handle per property.
//
// Everything runs on the GUI thread. The host owns the library and its three interface
// objects; the component belongs to the plug-in and is never deleted here.
#pragma once

#include <boost/any.hpp>
#include <memory>
#include <string>
#include <vector>

#include "visualobject/ComponentInterface.h"
#include "visualobject/VisualObject.h"

class CPluginLibrary;

class CCustomObject : public CVisualObject {
  Q_OBJECT

 public:
  CCustomObject();
  // Destroys a component still running, then unloads the library.
  ~CCustomObject() override;

  bool Create(IPageHost* parent, CDeviceView* server) override;
  // The first value of the last write made through the host interface.
  int32_t GetValue() override;
  // Lets the component destroy its window.
  void Shutdown() override;
  // The own window stays hidden; showing or hiding it shows or hides the component.
  void setVisible(bool visible) override;

  // The host operations. `iProp` indexes the entry's properties; an index out of range never
  // reaches the server.
  void GetProperty(int32_t iProp);
  void SetProperty(int32_t iProp, const std::vector<int32_t>& values);
  int32_t QueryState(int32_t iProp, std::vector<int32_t>& result);
  std::string GetParameter(const std::string& key);
  int32_t SetParameter(const std::string& key, const std::string& value);
  int32_t GetPropertyCount();
  void SetValues(int32_t iProp, const std::vector<boost::any>& values);
  int32_t GetValues(int32_t iProp, std::vector<boost::any>& result);
  std::string GetPropertyParameter(int32_t iProp, const std::string& name);

  // The interfaces of versions 4.2, 3.2 and 2.2.
  IComponentHost* HostInterface();
  IComponentHostV3* HostInterfaceV3();
  IComponentHostV2* HostInterfaceV2();

  bool LibraryLoaded() const;
  IComponent* Component() const { return m_pComponent; }
  bool ComponentRunning() const { return m_bRunning; }
  const std::vector<QueryHandle>& MultiHandles() const { return m_hCurMultiHandle; }

 private:
  class HostV2;
  class HostV3;
  class Host;

  bool InRange(int32_t iProp) const;
  bool CreateSteps(IPageHost* parent, CDeviceView* server);
  bool ConnectAndCreate(QWidget* page, QPoint position);
  void DestroyComponent();

  int32_t m_nLastWritten = 0;
  std::unique_ptr<CPluginLibrary> m_hModule;
  IComponent* m_pComponent = nullptr;
  std::unique_ptr<HostV2> m_hostV2;
  std::unique_ptr<HostV3> m_hostV3;
  std::unique_ptr<Host> m_host;
  std::vector<QueryHandle> m_hCurMultiHandle;
  bool m_bRunning = false;  // the component's Create succeeded and Destroy was not called yet
};
