// The interface between Kelmora and a plug-in component: a shared library that draws one
// object of a device page and reads or writes that object's properties through its host.
//
// A plug-in library exports two functions with C linkage:
//
//   ComponentVersionInfo ComponentVersion();   optional; without it the library is version 1.1
//   IComponent* ConnectComponent(void* host);  the host interface of the agreed version
//
// The host serves versions 4.2 (`IComponentHost`), 3.2 (`IComponentHostV3`) and 2.2
// (`IComponentHostV2`); `ConnectComponent` receives a pointer to the interface of the version
// that `ComponentVersion` returned, and any other version is never connected.
//
// Each interface is an object whose first word points to its table of operations, called as
// virtual member functions in the order declared here. No table holds a destructor, so
// neither side ever deletes the other's objects through an interface pointer.
//
// What a component may rely on:
//   1. `ConnectComponent` is called once, right after loading; the host pointer stays valid
//      until the component's `Destroy` returned. Draw nothing yet.
//   2. `Create(parent, x, y)`: `parent` is the page, a `QWidget*` passed as an opaque pointer;
//      create the component's window as its child with the top-left corner at (x, y) pixels.
//      Host operations may be called from here on.
//   3. Reading property i: `GetProperty(i)`, then `QueryState` or `GetValues` on later timer
//      ticks until the state is final (0 "Updated", 1 "Timeout", 2 "Canceled", 3 "Device
//      Error"); while it is 4 "Queued" or 5 "In Process", ask again later. A property has one
//      query at a time: a new request on the same index replaces the previous one.
//   4. Writing: `SetProperty` or `SetValues`; the outcome is seen the same way.
//   5. `Show` and `Hide` come at any time, `Destroy` once at the end. After `Destroy` the host
//      calls nothing of the component and may unload the library at once, so `Destroy` must
//      delete the component's windows itself (no deferred deletion), and the component object
//      too: it is the component's last chance to free itself.
//
// Ownership: the host owns the host interfaces and the library handle; the component owns
// itself and everything it creates, and the host never deletes it. Strings and vectors cross
// the boundary by value or reference: both modules use the same shared C++ runtime.
//
// Threads: every call in either direction is made on the GUI thread. Exceptions never cross
// the boundary: host operations catch their own, and a component must catch its own.
#pragma once

#include <boost/any.hpp>
#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#define KELMORA_COMPONENT_EXPORT __declspec(dllexport)
#else
#define KELMORA_COMPONENT_EXPORT __attribute__((visibility("default")))
#endif

struct ComponentVersionInfo {
  int32_t major;
  int32_t minor;
};

// The query states the host returns (from the representation server's handles).
enum ComponentQueryState : int32_t {
  kComponentUpdated = 0,
  kComponentTimeout = 1,
  kComponentCanceled = 2,
  kComponentDeviceError = 3,
  kComponentQueued = 4,
  kComponentInProcess = 5,
};

// Made by the plug-in. Every operation returns nonzero on success.
class IComponent {
 public:
  // Creates the component's window as a child of `parent` (a QWidget*) at (x, y) pixels.
  virtual int32_t Create(void* parent, int32_t x, int32_t y) = 0;
  // Destroys the window; zero when there was none.
  virtual int32_t Destroy() = 0;
  virtual int32_t Show() = 0;
  virtual int32_t Hide() = 0;

 protected:
  ~IComponent() = default;
};

// Version 4.2. `iProp` indexes the properties of the object's profile entry (0 is the first);
// an index out of range never reaches the device.
class IComponentHost {
 public:
  // Starts a read of property iProp.
  virtual void GetProperty(int32_t iProp) = 0;
  // "Settings\<section>\<entry>" reads a stored setting; any other key the object's keyword
  // of that name. Empty when absent.
  virtual std::string GetParameter(const std::string& key) = 0;
  // "Settings\<section>\<entry>" stores a setting (nonzero on success); ".\Log" appends
  // "Custom: <value>" to the program's fault log (zero).
  virtual int32_t SetParameter(const std::string& key, const std::string& value) = 0;
  virtual int32_t GetPropertyCount() = 0;
  // Writes engineering values: a double or an int32 per register, scaled to raw by the
  // property's divisor when the property is fixed-point.
  virtual void SetValues(int32_t iProp, const std::vector<boost::any>& values) = 0;
  // The state of property iProp's query; on 0 "Updated", `result` holds one value per
  // register: a double for a fixed-point property, else an int32.
  virtual int32_t GetValues(int32_t iProp, std::vector<boost::any>& result) = 0;
  // The property's own keyword `name` from the profile, empty when absent.
  virtual std::string GetPropertyParameter(int32_t iProp, const std::string& name) = 0;

 protected:
  ~IComponentHost() = default;
};

// Version 2.2: raw register values.
class IComponentHostV2 {
 public:
  virtual void SetProperty(int32_t iProp, const std::vector<int32_t>& values) = 0;
  virtual void GetProperty(int32_t iProp) = 0;
  // The state of property iProp's query; `result` receives the raw values of a finished read.
  virtual int32_t QueryState(int32_t iProp, std::vector<int32_t>& result) = 0;
  virtual std::string GetParameter(const std::string& key) = 0;

 protected:
  ~IComponentHostV2() = default;
};

// Version 3.2: version 2.2 in the same slots, and the settings writer.
class IComponentHostV3 : public IComponentHostV2 {
 public:
  virtual int32_t SetParameter(const std::string& key, const std::string& value) = 0;

 protected:
  ~IComponentHostV3() = default;
};

// The exports' types, as the host looks them up.
using ComponentVersionProc = ComponentVersionInfo (*)();
using ConnectComponentProc = IComponent* (*)(void* host);

// The two exports, declared here so that a plug-in's definitions are checked against them.
extern "C" {
KELMORA_COMPONENT_EXPORT ComponentVersionInfo ComponentVersion();
KELMORA_COMPONENT_EXPORT IComponent* ConnectComponent(void* host);
}
