#include "cli/Cli.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "XMLParser/XDeviceProfileManager.h"
#include "comm/Connection.h"
#include "comm/DeviceView.h"
#include "comm/FaultLog.h"
#include "comm/ModbusDevice.h"
#include "firmware/FlashLoader.h"
#include "platform/ComSerialPort.h"
#include "platform/FtdiSerialPort.h"
#include "platform/ProgramFolders.h"
#include "platform/TcpSerialPort.h"
#include "profiles/ProfileNumbers.h"
#include "profiles/ValueText.h"
#include "tools/ConfigSnapshot.h"
#include "tools/TrafficLog.h"
#include "tools/ValueRecorder.h"

namespace {

constexpr int kOk = 0, kDeviceFailed = 1, kUsage = 2;
constexpr int kQueryTimeoutMs = 2000;

std::atomic<bool> g_interrupted{false};

struct UsageError {
  std::string text;
};

struct Options {
  std::string command;
  std::vector<std::string> arguments;
  std::optional<int> com, ftdi, baud, dataBits, parity, stopBits, slave;
  std::optional<std::pair<std::string, int>> tcp;  // host and port of --tcp
  std::string profile;
  bool check = false;
  bool trace = false;
  bool flash = false;  // config apply: save to flash afterwards
  bool force = false;  // config apply: a file of another device
  bool userFolder = false;
  int intervalMs = 1000;
  int page = -1;
  int count = -1;  // watch: number of rounds, -1 until interrupted
  std::string recordPath;  // watch: --csv or --jsonl
  CValueRecorder::Format recordFormat = CValueRecorder::Format::Csv;
};

int ParseNumber(const std::string& option, const std::string& text, int low, int high) {
  size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(text, &used);
  } catch (...) {
    used = 0;
  }
  if (used != text.size() || text.empty()) throw UsageError{option + " needs a number, not \"" + text + "\""};
  if (value < low || value > high)
    throw UsageError{option + " must be between " + std::to_string(low) + " and " + std::to_string(high)};
  return value;
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--com") o.com = ParseNumber(a, value(), 1, 255);
    else if (a == "--ftdi") o.ftdi = ParseNumber(a, value(), 0, 255);
    else if (a == "--tcp") {
      std::string host, why;
      uint16_t port = 0;
      if (!ParseTcpAddress(value(), host, port, why)) throw UsageError{"--tcp needs HOST:PORT: " + why};
      o.tcp = std::pair{host, static_cast<int>(port)};
    }
    else if (a == "--baud") o.baud = ParseNumber(a, value(), 50, 4000000);
    else if (a == "--data-bits") o.dataBits = ParseNumber(a, value(), 5, 8);
    else if (a == "--slave") o.slave = ParseNumber(a, value(), 0, 255);
    else if (a == "--interval") o.intervalMs = ParseNumber(a, value(), 10, 3600000);
    else if (a == "--page") o.page = ParseNumber(a, value(), 0, 1000);
    else if (a == "--count") o.count = ParseNumber(a, value(), 1, 1000000000);
    else if (a == "--profile") o.profile = value();
    else if (a == "--csv" || a == "--jsonl") {
      if (!o.recordPath.empty()) throw UsageError{"--csv and --jsonl name one file: give only one of them"};
      o.recordPath = value();
      o.recordFormat = a == "--csv" ? CValueRecorder::Format::Csv : CValueRecorder::Format::JsonLines;
    }
    else if (a == "--check") o.check = true;
    else if (a == "--trace") o.trace = true;
    else if (a == "--flash") o.flash = true;
    else if (a == "--force") o.force = true;
    else if (a == "--user-folder") o.userFolder = true;
    else if (a == "--parity") {
      static const std::map<std::string, int> kParity = {{"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"space", 4}};
      const auto it = kParity.find(value());
      if (it == kParity.end()) throw UsageError{"--parity is none, odd, even, mark or space"};
      o.parity = it->second;
    } else if (a == "--stop") {
      const std::string& v = value();
      if (v == "1") o.stopBits = 0;
      else if (v == "1.5") o.stopBits = 1;
      else if (v == "2") o.stopBits = 2;
      else throw UsageError{"--stop is 1, 1.5 or 2"};
    } else if (a.rfind("--", 0) == 0) {
      throw UsageError{"unknown option " + a};
    } else if (o.command.empty()) {
      o.command = a;
    } else {
      o.arguments.push_back(a);
    }
  }
  if (o.com && o.ftdi) throw UsageError{"--com and --ftdi exclude each other"};
  if (o.tcp && (o.com || o.ftdi)) throw UsageError{std::string("--tcp and ") + (o.com ? "--com" : "--ftdi") + " exclude each other"};
  return o;
}

// The stored connection settings, with the options given on the command line on top.
ConnectionSettings Settings(const Options& o) {
  ConnectionSettings s;
  // The defaults of a first start: COM9 at 38400 baud, slave 10.
  s.serialNumber = 9;
  s.baudRate = 38400;
  s.modbusSlaveNumber = 10;
  s.Load(kSettingsSection);
  if (o.com) {
    s.useTcp = 0;
    s.serialType = 0;
    s.serialNumber = *o.com;
  }
  if (o.ftdi) {
    s.useTcp = 0;
    s.serialType = 1;
    s.deviceNumber = *o.ftdi;
  }
  if (o.tcp) {
    s.useTcp = 1;
    s.tcpHost = o.tcp->first;
    s.tcpPort = o.tcp->second;
  }
  if (o.baud) s.baudRate = *o.baud;
  if (o.dataBits) s.dataBits = *o.dataBits;
  if (o.parity) s.parity = *o.parity;
  if (o.stopBits) s.stopBits = *o.stopBits;
  if (o.slave) s.modbusSlaveNumber = *o.slave;
  return s;
}

struct Target {
  ModbusProperty property;
  int page = 0;
};

// Every property of the profile's visual objects once, in profile order.
std::vector<Target> Properties(const DeviceProfile& profile) {
  std::vector<Target> targets;
  std::vector<int32_t> seen;
  for (const KeywordList& list : profile.keywordLists) {
    if (list.keyword.empty()) continue;  // the header
    for (const VisualObjectEntry& entry : list.entries)
      for (const ModbusProperty& property : entry.properties) {
        if (std::find(seen.begin(), seen.end(), property.id) != seen.end()) continue;
        seen.push_back(property.id);
        targets.push_back({property, entry.page});
      }
  }
  return targets;
}

const Target* FindTarget(const std::vector<Target>& targets, const std::string& key) {
  for (const Target& t : targets)
    if (t.property.caption == key) return &t;
  for (const Target& t : targets)
    if (profilenumbers::EqualsIgnoreCase(t.property.caption, key)) return &t;
  if (!key.empty() && key.find_first_not_of("0123456789") == std::string::npos)
    for (const Target& t : targets)
      if (std::to_string(t.property.id) == key) return &t;
  return nullptr;
}

std::string Line(const ModbusProperty& property, const QueryHandle& handle) {
  std::string line = std::to_string(property.id) + " " + property.caption + " = ";
  line += handle.state == QueryHandle::Updated && !handle.values.empty() ? PropertyValueShown(property, handle.GetResult())
                                                                         : handle.GetStateString();
  return line;
}

// Connection, identity, profile and server for the commands that talk to the device.
class Session {
 public:
  Session(const Options& options, std::ostream& err) : m_options(options), m_err(err) {}

  // Builds everything; false (with the reason on `err`) when the device cannot be used. With
  // `reconnect`, a port whose device went away is reopened every second until it is back.
  bool Open(bool needProfile, bool reconnect = false) {
    std::string why;
    if (!m_connection.Create(Settings(m_options), &why)) {
      m_err << "cannot open the port: " << why << "\n";
      return false;
    }
    if (m_options.trace) {
      // Every frame on standard error as the worker sees it; the commands' own output stays
      // on standard output.
      m_traffic.SetOnFrame([this](const TrafficFrame& frame) {
        std::lock_guard lock(m_traceMutex);
        m_err << CTrafficLog::FrameLine(frame) << "\n" << std::flush;
      });
      m_connection.Protocol()->exchangeTap = &m_traffic;
    }
    m_identified = IdentifyDevice(*m_connection.Protocol(), m_identity);
    const std::vector<DeviceProfile>& profiles = m_manager.GetProfiles();
    if (!m_options.profile.empty()) {
      const auto texts = ProfileListTexts(profiles);
      const auto it = std::find(texts.begin(), texts.end(), m_options.profile);
      if (it == texts.end()) {
        m_err << "no profile \"" << m_options.profile << "\"; the profiles are:";
        for (const auto& t : texts) m_err << " \"" << t << "\"";
        m_err << "\n";
        return false;
      }
      m_profileIndex = static_cast<int>(it - texts.begin());
    } else if (m_identified) {
      m_profileIndex = FindMatchingProfile(profiles, m_identity);
    }
    if (!needProfile) return true;
    if (m_profileIndex < 0) {
      if (!m_identified) m_err << "the device on " << m_connection.Description() << " did not identify itself";
      else m_err << "no profile for " << m_identity.name << " " << m_identity.version.Format();
      m_err << "; choose one with --profile \"NAME VERSION\" (see kelmora-cli profiles)\n";
      return false;
    }
    m_device.SetProtocol(m_connection.Protocol());
    m_view = std::make_unique<CDeviceView>(profiles[m_profileIndex], &m_device);
    if (reconnect) m_view->SetReconnect([this] { return m_connection.Reopen(); });
    m_view->Create(nullptr, 1300);
    return true;
  }

  CConnection& Connection() { return m_connection; }
  bool Identified() const { return m_identified; }
  const DeviceIdentity& Identity() const { return m_identity; }
  int ProfileIndex() const { return m_profileIndex; }
  const CXDeviceProfileManager& Manager() const { return m_manager; }
  CDeviceView& View() { return *m_view; }

  ~Session() {
    if (m_view) m_view->Shutdown();
    m_view.reset();
    if (m_connection.Protocol()) m_connection.Protocol()->exchangeTap = nullptr;
  }

 private:
  const Options& m_options;
  std::ostream& m_err;
  CXDeviceProfileManager m_manager;
  CConnection m_connection;
  DeviceIdentity m_identity;
  bool m_identified = false;
  int m_profileIndex = -1;
  ModbusDevice m_device;
  std::unique_ptr<CDeviceView> m_view;
  CTrafficLog m_traffic;
  std::mutex m_traceMutex;
};

std::vector<std::string> FaultLogLines() {
  std::vector<std::string> lines;
  std::ifstream in(faultlog::kFileName);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int Ports(std::ostream& out) {
  std::vector<int> openable;
  ComPortList(openable);
  out << "COM ports (folder " << ComPortsFolder() << "):\n";
  const auto ports = ComPortMap();
  if (ports.empty()) out << "  none\n";
  for (const ComPortEntry& port : ports) {
    const bool ok = std::find(openable.begin(), openable.end(), port.number) != openable.end();
    out << "  COM" << port.number << "  " << port.path << (port.linked ? "  (link)" : "") << (ok ? "" : "  (not available)")
        << "\n";
  }
  FtdiDeviceList list;
  const uint32_t count = list.Refresh();
  out << "FTDI adapters:\n";
  if (count == 0) out << "  none\n";
  FtdiDeviceItem item;
  while (list.Next(item))
    out << "  " << item.index << "  " << (item.Serial().empty() ? "(no serial number)" : item.Serial()) << "  "
        << item.Description() << (item.available ? "" : "  (not available)") << "\n";
  return kOk;
}

int Profiles(const Options& o, std::ostream& out) {
  faultlog::Truncate();
  CXDeviceProfileManager manager;
  const auto texts = ProfileListTexts(manager.GetProfiles());
  for (size_t i = 0; i < manager.GetProfiles().size(); ++i) {
    const DeviceProfile& p = manager.GetProfiles()[i];
    size_t objects = 0;
    for (const KeywordList& list : p.keywordLists)
      if (!list.keyword.empty()) objects += list.entries.size();
    const KeywordList* header = p.FindKeywordList("");
    const int pages = header != nullptr && !header->entries.empty() ? header->entries.front().page + 1 : 0;
    out << "\"" << texts[i] << "\"  program " << p.identity.programVersion.Format() << "  pages " << pages << "  objects "
        << objects << "  properties " << Properties(p).size();
    if (p.firmware.valid) out << "  firmware " << p.firmware.name << " " << p.firmware.version.Format();
    out << "\n";
  }
  if (manager.GetProfiles().empty()) out << "no profiles in ./profiles\n";
  if (!o.check) return kOk;
  // The load logs every folder and file it reads; a skipped file leaves a fault line ("F ").
  bool skipped = false;
  for (const std::string& line : FaultLogLines()) {
    out << "  " << line << "\n";
    skipped = skipped || line.rfind("F ", 0) == 0;
  }
  return skipped ? kDeviceFailed : kOk;
}


int Identify(const Options& o, std::ostream& out, std::ostream& err) {
  Session session(o, err);
  if (!session.Open(false)) return kDeviceFailed;
  const DeviceIdentity& id = session.Identity();
  out << "port: " << session.Connection().Description() << "\n";
  if (!session.Identified()) {
    out << "device: not identified (Unknown 0.00)\n";
    return kDeviceFailed;
  }
  out << "device: " << id.name << " " << id.version.Format() << ", program " << id.programVersion.Format() << "\n";
  if (session.ProfileIndex() < 0) {
    out << "profile: none matches\n";
    return kDeviceFailed;
  }
  out << "profile: \"" << ProfileListTexts(session.Manager().GetProfiles())[session.ProfileIndex()] << "\"\n";
  return kOk;
}

int Read(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.arguments.empty()) throw UsageError{"read needs one or more property names or ids"};
  Session session(o, err);
  if (!session.Open(true)) return kDeviceFailed;
  const auto targets = Properties(session.View().Profile());
  std::vector<const Target*> chosen;
  for (const std::string& key : o.arguments) {
    const Target* t = FindTarget(targets, key);
    if (t == nullptr) throw UsageError{"no property \"" + key + "\" in this profile"};
    chosen.push_back(t);
  }
  int result = kOk;
  for (const Target* t : chosen) {
    QueryHandle handle = session.View().GetProperty(t->property);
    session.View().WaitQuery(handle, kQueryTimeoutMs);
    if (handle.state != QueryHandle::Updated) result = kDeviceFailed;
    out << Line(t->property, handle) << "\n";
  }
  return result;
}

int Write(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.arguments.empty()) throw UsageError{"write needs NAME=VALUE or ID=VALUE"};
  Session session(o, err);
  if (!session.Open(true)) return kDeviceFailed;
  const auto targets = Properties(session.View().Profile());
  struct Job {
    ModbusProperty property;
    int32_t raw;
  };
  std::vector<Job> jobs;
  for (const std::string& assignment : o.arguments) {
    const size_t eq = assignment.rfind('=');
    if (eq == std::string::npos || eq == 0) throw UsageError{"\"" + assignment + "\" is not NAME=VALUE"};
    const Target* t = FindTarget(targets, assignment.substr(0, eq));
    if (t == nullptr) throw UsageError{"no property \"" + assignment.substr(0, eq) + "\" in this profile"};
    ModbusProperty property = t->property;
    const std::string text = assignment.substr(eq + 1);
    // Every value is checked before the first one goes out: a bad one sends nothing at all.
    std::string why;
    const std::optional<int32_t> raw = CheckedStringToPropertyValue(property, text, why);
    if (!raw) throw UsageError{property.caption + ": \"" + text + "\" " + why + "; nothing was written"};
    jobs.push_back({property, *raw});
  }
  int result = kOk;
  for (Job& job : jobs) {
    QueryHandle handle = session.View().SetProperty(job.property, job.raw);
    session.View().WaitQuery(handle, kQueryTimeoutMs);
    if (handle.state != QueryHandle::Updated) result = kDeviceFailed;
    out << std::to_string(job.property.id) << " " << job.property.caption << " = "
        << (handle.state == QueryHandle::Updated ? PropertyValueShown(job.property, job.raw) : handle.GetStateString()) << "\n";
  }
  return result;
}

int Watch(const Options& o, std::ostream& out, std::ostream& err) {
  // The recorder outlives the session's server, which hands it every read.
  CValueRecorder recorder;
  if (std::string why; !o.recordPath.empty() && !recorder.Start(o.recordPath, o.recordFormat, why)) {
    err << "kelmora-cli: " << why << "\n";
    return kUsage;
  }
  Session session(o, err);
  if (!session.Open(true, true)) return kDeviceFailed;
  session.View().SetReadListener(&recorder);
  std::vector<Target> targets;
  for (const Target& t : Properties(session.View().Profile()))
    if (o.page < 0 || t.page == o.page) targets.push_back(t);
  if (targets.empty()) {
    err << "no properties" << (o.page >= 0 ? " on page " + std::to_string(o.page) : std::string()) << "\n";
    return kUsage;
  }
  // On a terminal the table is redrawn in place; into a pipe (or with the trace, which the
  // redraw would wipe) every round is printed.
  const bool terminal = &out == &std::cout && isatty(STDOUT_FILENO) && !o.trace;
  const DeviceIdentity& id = session.Identity();
  g_interrupted = false;
  auto previous = std::signal(SIGINT, [](int) { g_interrupted = true; });
  for (int round = 0; (o.count < 0 || round < o.count) && !g_interrupted; ++round) {
    const auto started = std::chrono::steady_clock::now();
    std::ostringstream table;
    for (const Target& t : targets) {
      QueryHandle handle = session.View().GetProperty(t.property);
      session.View().WaitQuery(handle, kQueryTimeoutMs);
      table << Line(t.property, handle) << (terminal ? "\x1b[K\n" : "\n");
    }
    if (terminal) out << "\x1b[H\x1b[2J";
    out << id.name << " " << id.version.Format() << " on " << session.Connection().Description() << (terminal ? "  (Ctrl+C ends)" : "")
        << "\n";
    // The status line while the adapter is away; the values come back once it returns.
    if (session.View().LinkLost()) out << CDeviceView::kLinkLostText << (terminal ? "\x1b[K\n" : "\n");
    out << table.str() << std::flush;
    if (!o.recordPath.empty() && !recorder.Recording()) {
      err << "kelmora-cli: recording stopped: " << recorder.Failure() << "\n";
      std::signal(SIGINT, previous);
      return kDeviceFailed;
    }
    const auto next = started + std::chrono::milliseconds(o.intervalMs);
    while (!g_interrupted && std::chrono::steady_clock::now() < next && (o.count < 0 || round + 1 < o.count))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::signal(SIGINT, previous);
  if (!o.recordPath.empty()) err << "recorded " << recorder.Rows() << " rows to " << o.recordPath << "\n";
  return kOk;
}

// Runs a flash save or load on an open session's server, printing its stages.
int FlashCommand(CDeviceView& view, bool save, std::ostream& out) {
  QueryHandle handle = save ? view.RequestFlashSave() : view.RequestFlashLoad();
  int32_t shown = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    view.TryQuery(handle);
    if (const int32_t stage = view.StageTextId(); stage != shown && stage_text::Text(stage)[0] != '\0') {
      out << stage_text::Text(stage) << "\n" << std::flush;
      shown = stage;
    }
    if (handle.IsFinal() && handle.state != QueryHandle::Canceled) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  out << (save ? "flash save: " : "flash load: ") << handle.GetStateString() << "\n";
  return handle.state == QueryHandle::Updated ? kOk : kDeviceFailed;
}

int Flash(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.arguments.size() != 1 || (o.arguments[0] != "save" && o.arguments[0] != "load"))
    throw UsageError{"flash needs save or load"};
  Session session(o, err);
  if (!session.Open(true)) return kDeviceFailed;
  return FlashCommand(session.View(), o.arguments[0] == "save", out);
}

// config save FILE, config diff FILE, config apply FILE [--flash] [--force].
int Config(const Options& o, std::ostream& out, std::ostream& err) {
  const std::string action = o.arguments.empty() ? std::string() : o.arguments[0];
  if (o.arguments.size() != 2 || (action != "save" && action != "diff" && action != "apply"))
    throw UsageError{"config needs save, diff or apply and a file"};
  const std::string& path = o.arguments[1];
  ConfigSnapshot snapshot;
  std::string why;
  if (action != "save" && !configsnapshot::Load(path, snapshot, why)) {
    err << "kelmora-cli: " << why << "\n";
    return kUsage;
  }
  Session session(o, err);
  if (!session.Open(true)) return kDeviceFailed;
  CDeviceView& view = session.View();
  const DeviceIdentity& identity = session.Identity();
  if (action == "save") {
    const std::string profile = ProfileListTexts(session.Manager().GetProfiles())[session.ProfileIndex()];
    if (!configsnapshot::Take(view, identity, profile, snapshot, why) || !configsnapshot::Save(path, snapshot, why)) {
      err << "kelmora-cli: " << why << "\n";
      return kDeviceFailed;
    }
    out << "saved " << snapshot.values.size() << " settings of " << configsnapshot::IdentityText(snapshot) << " to " << path
        << "\n";
    return kOk;
  }
  if (!configsnapshot::MadeFor(snapshot, identity)) {
    const std::string text = path + " was made for " + configsnapshot::IdentityText(snapshot) + ", the device is " +
                             identity.name + " " + identity.version.Format();
    if (action == "apply" && !o.force) {
      err << "kelmora-cli: " << text << "; nothing was written (--force applies it anyway)\n";
      return kDeviceFailed;
    }
    err << "warning: " << text << "\n";
  }
  const std::vector<SnapshotDifference> differences = configsnapshot::Compare(view, snapshot);
  auto name = [](const SnapshotDifference& d) { return std::to_string(d.file.id) + " " + d.file.caption; };
  if (action == "diff") {
    for (const SnapshotDifference& d : differences) {
      out << name(d) << ": file " << d.file.value << ", device " << d.deviceValue;
      if (!d.problem.empty()) out << " (" << d.problem << ")";
      out << "\n";
    }
    out << differences.size() << " of " << snapshot.values.size() << " settings differ\n";
    return differences.empty() ? kOk : kDeviceFailed;
  }
  int result = kOk;
  for (const SnapshotApplyResult& r : configsnapshot::Apply(view, differences)) {
    out << name(r.difference) << ": " << r.difference.deviceValue << " -> " << r.difference.file.value << ": " << r.text
        << "\n";
    if (!r.ok) result = kDeviceFailed;
  }
  out << differences.size() << " of " << snapshot.values.size() << " settings differed\n";
  if (o.flash && !differences.empty()) {
    if (result != kOk) {
      err << "kelmora-cli: not every setting was applied; the flash was not saved\n";
      return result;
    }
    return FlashCommand(view, true, out);
  }
  return result;
}

// Prints what the firmware library has to tell the operator.
class StreamNotifier final : public IUserNotifier {
 public:
  explicit StreamNotifier(std::ostream& err) : m_err(err) {}
  void Notify(std::string_view text, NoticeKind kind) override {
    m_err << (kind == NoticeKind::Error ? "error: " : kind == NoticeKind::Warning ? "warning: " : "") << text << "\n";
  }

 private:
  std::ostream& m_err;
};

std::string ProgressBar(double percent) {
  if (percent < 0) return "[  working...  ]";
  const int filled = std::clamp(static_cast<int>(percent / 5), 0, 20);
  char tail[16];
  std::snprintf(tail, sizeof tail, "] %3d%%", static_cast<int>(percent));
  return "[" + std::string(filled, '#') + std::string(20 - filled, '.') + tail;
}

// The update as the firmware wizard runs it: the image is read, the device is sent into its
// boot loader through the server, the server stops, the line switches to the boot loader's
// speed and the loader's worker programs the flash while its progress is shown.
int Firmware(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.arguments.size() != 1) throw UsageError{"firmware needs the path of an Intel HEX image"};
  Session session(o, err);
  if (!session.Open(true)) return kDeviceFailed;
  CDeviceView& view = session.View();
  const DeviceProfile& profile = view.Profile();
  std::unique_ptr<FlashLoader> loader = CreateFlashLoader(session.Connection().Channel(), profile.firmware);
  if (!loader) {
    err << "Firmware Update Unsupported\n";
    return kDeviceFailed;
  }
  StreamNotifier notifier(err);
  loader->SetNotifier(&notifier);
  if (!loader->OpenImage(o.arguments[0])) {
    err << "Wrong file format\n";
    return kDeviceFailed;
  }
  // An image without a single data record would "complete" without programming anything.
  if (loader->Image().SlotsWithData() == 0) {
    err << "Wrong file format (the image holds no data for this device's flash)\n";
    return kDeviceFailed;
  }
  const auto started = std::chrono::steady_clock::now();
  out << "Stop message in modbus queue\n";
  QueryHandle boot = view.RequestBootloaderStart();
  int32_t shown = 0;
  for (;;) {
    if (const int32_t stage = view.StageTextId(); stage != shown && stage_text::Text(stage)[0] != '\0') {
      out << stage_text::Text(stage) << "\n" << std::flush;
      shown = stage;
    }
    view.TryQuery(boot);
    if (boot.state != QueryHandle::Queued && boot.state != QueryHandle::InProcess) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  view.SetSuspended(true);
  out << "Stopping modbus client...\n";
  while (!view.WorkerEnded()) std::this_thread::sleep_for(std::chrono::milliseconds(10));

  const std::string baud = loader->Parameter("baudrate");
  if (baud == "115200" || baud == "9600" || baud == "19200") {
    SerialPort* port = session.Connection().Port();
    port->Setup(static_cast<uint32_t>(std::stoi(baud)), 8, 0, 0);
    port->Purge();
  } else if (!baud.empty()) {
    err << "warning: Baudrate does not supported\nNow we will try at default baudrate\n";
  }
  loader->Start();
  const bool terminal = &out == &std::cout && isatty(STDOUT_FILENO);
  std::string lastStatus;
  while (!loader->Finished()) {
    const std::string line1 = loader->StatusLine1(), line2 = loader->StatusLine2();
    const std::string status = line1.empty() || line2.empty() ? line1 + line2 : line1 + " | " + line2;
    if (terminal) {
      out << "\r" << ProgressBar(loader->OverallProgress()) << " " << ProgressBar(loader->SectorProgress()) << " "
          << status << "\x1b[K" << std::flush;
    } else if (status != lastStatus && !status.empty()) {
      out << status << "\n";
    }
    lastStatus = status;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (terminal) out << "\n";
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (loader->ErrorCode() != 0) {
    err << "Boot load process halted due to next error \n" << FlashLoaderErrorText(loader->ErrorCode()) << "\n";
    return kDeviceFailed;
  }
  char done[160];
  std::snprintf(done, sizeof done, "COMPLETE: Boot load process complete in %.4lfs. \nNow you should restart both software and device",
                seconds);
  out << done << "\n";
  return kOk;
}

}  // namespace

std::string CliUsage() {
  return R"(Usage: kelmora-cli [connection options] COMMAND [arguments]

Commands:
  ports                      COM numbers with their devices, FTDI adapters
  profiles [--check]         the device profiles found below ./profiles; --check also prints
                             the fault-log lines of the load and fails when a file was skipped
  identify                   read the device's identity and name the profile that matches
  read NAME|ID...            read properties (by caption or id) and print them
  write NAME|ID=VALUE...     write properties; VALUE in engineering units (or an item text)
  watch [--interval MS] [--page N] [--count N] [--csv FILE | --jsonl FILE]
                             read every property (of page N) again and again; --csv and
                             --jsonl also record every value read into FILE, one row each:
                             time, id, caption, raw value, value as shown, request state
  flash save|load            tell the device to save its configuration to flash, or load it
  config save FILE           save every setting (each value of an object the operator can
                             change) with the device's identity and profile to FILE (JSON)
  config diff FILE           list the settings whose value in FILE differs from the device's;
                             exit code 0 when none differ, 1 when some do
  config apply FILE [--flash] [--force]
                             write the differing settings, read each back and report it;
                             --flash then saves them in the device's flash; a file made for
                             another device (name and version) is refused without --force
  firmware FILE.hex          update the device's firmware through its boot loader; afterwards
                             restart both the device and the program

Connection options (without them the stored settings are used; first start: COM9, 38400, slave 10):
  --com N | --ftdi INDEX | --tcp HOST:PORT
                             a COM port number, an FTDI adapter by its place in the list, or
                             an RS-485-to-Ethernet converter in raw TCP mode (RTU over TCP;
                             an IPv6 address in brackets: [fd00::7]:4001)
  --baud N  --data-bits N  --parity none|odd|even|mark|space  --stop 1|1.5|2  --slave N
  --profile "NAME VERSION"   use this profile (as `profiles` shows it) instead of the match
  --trace                    print every frame on the line to standard error: time, direction,
                             bytes, function, CRC, and for answers the result and round trip

Output lines of read, write and watch: ID CAPTION = VALUE (or the request's state when it failed).
Exit codes: 0 success, 1 device error or time-out, 2 usage error.
Files: profiles are read from ./profiles; faults.log and WorkThread.log are written here.
  --user-folder              work in ~/.local/share/Kelmora ($XDG_DATA_HOME/Kelmora) instead,
                             as the program started from the desktop menu does
)";
}

int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  try {
    for (const std::string& a : arguments)
      if (a == "--help" || a == "-h") {
        out << CliUsage();
        return kOk;
      }
    const Options o = Parse(arguments);
    if (o.command.empty()) throw UsageError{"no command given"};
    if (std::string why; o.userFolder && !programfolders::EnterUserDataFolder(why)) {
      err << "kelmora-cli: " << why << "\n";
      return kDeviceFailed;
    }
    if (o.command == "ports") return Ports(out);
    if (o.command == "profiles") return Profiles(o, out);
    if (o.command == "identify") return Identify(o, out, err);
    if (o.command == "read") return Read(o, out, err);
    if (o.command == "write") return Write(o, out, err);
    if (o.command == "watch") return Watch(o, out, err);
    if (o.command == "flash") return Flash(o, out, err);
    if (o.command == "config") return Config(o, out, err);
    if (o.command == "firmware") return Firmware(o, out, err);
    throw UsageError{"unknown command " + o.command};
  } catch (const UsageError& e) {
    err << "kelmora-cli: " << e.text << "\n(kelmora-cli --help lists the commands)\n";
    return kUsage;
  }
}
