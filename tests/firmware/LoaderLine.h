// A flash loader and the simulated boot loader meeting on a pseudo-terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "comm/ComPortChannel.h"
#include "comm/FaultLog.h"
#include "firmware/FlashLoader.h"
#include "platform/Clock.h"
#include "platform/ComSerialPort.h"
#include "sim/bootloader/BootLoaderSim.h"
#include "tests/support/TestSupport.h"

struct LoaderLine {
  testing_support::TempWorkDir dir;
  testing_support::PtyPair pty;
  ComSerialPort port;
  std::unique_ptr<CComPortChannel> channel;
  std::unique_ptr<simboot::BootLoaderSim> sim;
  std::atomic<bool> stopSim{false};
  std::thread simThread;

  LoaderLine() {
    faultlog::Truncate();
    port.Open(pty.slavePath, 0, 0, true);
    port.Setup(115200, 8, 0, 0);
    channel = std::make_unique<CComPortChannel>(&port);
  }
  ~LoaderLine() { StopSim(); }

  simboot::BootLoaderSim& MakeSim(const simboot::BootLoaderOptions& options) {
    StopSim();
    sim = std::make_unique<simboot::BootLoaderSim>(pty.master, options);
    return *sim;
  }
  void RunSim() {
    stopSim = false;
    simThread = std::thread([this] { sim->Serve(stopSim); });
  }
  void StopSim() {
    stopSim = true;
    if (simThread.joinable()) simThread.join();
  }

  // Starts the loader and waits for its worker to finish, as the wizard's timer does.
  static int RunUpdate(FlashLoader& loader, double limitMs = 60000) {
    if (!loader.Start()) return -1;
    const double start = NowMilliseconds();
    while (!loader.Finished() && NowMilliseconds() - start < limitMs)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return loader.Finished() ? loader.ErrorCode() : -2;
  }
};
