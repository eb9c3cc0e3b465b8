// What a test plug-in saw of its host.
#pragma once

#include <string>

struct TestProbe {
  void* host = nullptr;  // the interface ConnectComponent received
  void* parent = nullptr;
  int x = -1;
  int y = -1;
  int connects = 0;
  int creates = 0;
  int destroys = 0;
  int shows = 0;
  int hides = 0;
  int propertyCount = -1;
  std::string parameter;
};

using TestProbeProc = TestProbe* (*)();
