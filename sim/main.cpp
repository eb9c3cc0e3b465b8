// kelmora-sim: the simulated device as a program. Everything it does lives in kelmora_sim;
// this only reads the command line, publishes the port and waits for a signal to stop.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ProgramFolders.h"
#include "sim/SimOptions.h"
#include "sim/SimProfile.h"
#include "sim/SimPty.h"
#include "sim/SimSlave.h"
#include "sim/bootloader/BootLoaderSim.h"

namespace {

// The demo profile among the shipped ones beside the program (installed or in the build tree);
// without them, the one below the working folder when started from the top of the source tree.
std::string DefaultProfile() {
  const std::filesystem::path shipped = programfolders::ShippedProfiles();
  if (!shipped.empty()) return (shipped / "PDC-4120.xml").string();
  return "demo/profiles/PDC-4120.xml";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sim;
  const std::vector<std::string> args(argv + 1, argv + argc);
  SimCommandLine options;
  std::string error;
  if (!ParseSimCommandLine(args, options, error)) {
    std::fprintf(stderr, "kelmora-sim: %s\nTry 'kelmora-sim --help'.\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(SimHelpText("the shipped PDC-4120.xml in <prefix>/share/kelmora/profiles").c_str(), stdout);
    return 0;
  }

  const std::string profilePath = options.profile.empty() ? DefaultProfile() : options.profile;
  DeviceProfile profile;
  if (!LoadSimProfile(profilePath, options.device, profile, error)) {
    std::fprintf(stderr, "kelmora-sim: %s\n", error.c_str());
    return 2;
  }
  CSimDevice device;
  device.SetFlashMs(options.flashMs);
  device.SetSeed(options.slave.faults.seed);
  for (const auto& [address, code] : options.exceptions) device.AddForcedException(address, code);
  std::vector<std::string> warnings;
  BuildSimDevice(profile, device, warnings);
  if (options.still) device.StopMotion();
  for (const std::string& warning : warnings) std::fprintf(stderr, "kelmora-sim: warning: %s\n", warning.c_str());

  // The signals that stop the simulator are taken by sigwait below, never by a handler, so
  // the serving thread (which inherits this mask) is never interrupted by them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  // Whoever reads our output may go away first; that is no reason to stop serving.
  signal(SIGPIPE, SIG_IGN);

  CSimPty pty;
  if (!pty.Open(options.slave.line.baud, error)) {
    std::fprintf(stderr, "kelmora-sim: %s\n", error.c_str());
    return 1;
  }
  const std::string link = options.link.empty() ? ComLinkPath(options.com) : options.link;
  if (!CreatePortLink(link, pty.ProgramPath(), error)) {
    std::fprintf(stderr, "kelmora-sim: %s\n", error.c_str());
    return 1;
  }

  // The boot loader, when the profile describes one.
  simboot::BootLoaderOptions boot;
  const bool hasBootLoader = profile.firmware.valid && simboot::BootLoaderOptionsFor(profile.firmware, boot, error);
  if (profile.firmware.valid && !hasBootLoader) std::fprintf(stderr, "kelmora-sim: warning: no boot loader: %s\n", error.c_str());
  if (hasBootLoader) {
    auto fail = [&](const std::string& what) {
      std::fprintf(stderr, "kelmora-sim: %s\n", what.c_str());
      RemovePortLink(link, pty.ProgramPath());
      return 2;
    };
    if (!options.bootVersion.empty()) {
      Version version;
      if (!simboot::ParseBootVersion(options.bootVersion, version, error)) return fail(error);
      boot.version = version;
    }
    if (!options.bootIdentity.empty() && !simboot::ParseBootIdentity(options.bootIdentity, boot.identity1, boot.identity2, error))
      return fail(error);
    for (const std::string& text : options.bootErrors) {
      simboot::ErrorInjection injection;
      if (!simboot::ParseErrorInjection(text, injection, error)) return fail(error);
      boot.faults.errors.push_back(injection);
    }
    boot.faults.seed = options.slave.faults.seed;
    boot.faults.drop = options.bootDrop;
    boot.faults.corrupt = options.bootCorrupt;
    const std::string baud = profile.firmware.Parameter("baudrate");
    if (options.slave.pace) boot.baud = baud.empty() ? options.slave.line.baud : std::atoi(baud.c_str());
  }

  const SimSlaveOptions slaveOptions = options.slave;
  CSimSlave slave(pty.DeviceFd(), std::move(device), slaveOptions);
  if (hasBootLoader) {
    const std::string dumpPath = options.dumpFlash;
    slave.SetBootLoader([boot, dumpPath](int fd, const std::atomic<bool>& stop) {
      simboot::BootLoaderSim loader(fd, boot);
      const auto end = loader.Serve(stop);
      const auto counters = loader.Counters();
      std::printf("kelmora-sim: boot loader %s, %ld sectors programmed\n",
                  end == simboot::BootLoaderSim::End::Finished ? "finished" : "ended", counters.sectorsProgrammed);
      if (!dumpPath.empty()) {
        if (loader.DumpFlash(dumpPath)) std::printf("kelmora-sim: flash written to %s\n", dumpPath.c_str());
        else std::printf("kelmora-sim: cannot write %s\n", dumpPath.c_str());
      }
      std::fflush(stdout);
    });
  }
  slave.SetStatusSink([](const std::string& text) {
    std::printf("kelmora-sim: %s\n", text.c_str());
    std::fflush(stdout);
  });
  if (!slave.Start(error)) {
    RemovePortLink(link, pty.ProgramPath());
    std::fprintf(stderr, "kelmora-sim: %s\n", error.c_str());
    return 1;
  }
  if (options.link.empty()) std::printf("kelmora-sim: COM%d is %s\n", options.com, pty.ProgramPath().c_str());
  else std::printf("kelmora-sim: %s is %s\n", link.c_str(), pty.ProgramPath().c_str());
  std::printf("kelmora-sim: link %s\n", link.c_str());
  std::printf("kelmora-sim: %s %s (program %s) from %s, slave %d, %s%s\n", profile.identity.name.c_str(),
              profile.identity.version.Format().c_str(), profile.identity.programVersion.Format().c_str(),
              profilePath.c_str(), slaveOptions.slave, slaveOptions.line.Describe().c_str(),
              slaveOptions.pace ? ", paced" : "");
  slave.WithDevice([](CSimDevice& d) {
    const SimIdentity& id = d.Identity();
    if (!d.Image().Defined(Space::Input, 1)) return;
    std::printf("kelmora-sim: identity in input registers 1 = 0x%04X (name in %u..%u), 2 = 0x%04X, 3 = 0x%04X\n",
                d.Image().Get(Space::Input, 1), id.nameBlockStart, id.nameBlockStart + id.NameBlockLength() - 1,
                d.Image().Get(Space::Input, 2), d.Image().Get(Space::Input, 3));
  });
  std::printf("kelmora-sim: serving; Ctrl+C stops\n");
  std::fflush(stdout);

  int received = 0;
  sigwait(&stopSignals, &received);
  slave.Stop();
  RemovePortLink(link, pty.ProgramPath());
  std::printf("kelmora-sim: stopped, %s removed\n", link.c_str());
  return 0;
}
