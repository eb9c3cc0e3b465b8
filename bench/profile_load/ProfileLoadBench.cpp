// Times how long the profile manager takes to load a large profiles folder: 50 files of 200
// visual objects each, generated once into a temporary working folder. Prints the figures and,
// as its last line, "profile_load files=50 objects=10000 ms=T mb_per_s=R". Never fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "XMLParser/XDeviceProfileManager.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 50;
constexpr int kObjectsPerFile = 200;
constexpr int kObjectsPerPage = 25;
constexpr int kRuns = 5;

const char* const kKeywords[] = {"slider", "check", "combo", "graph", "text",
                                 "button", "watch", "edit",  "stats", "custom"};

// One object in the style of the demo profile, varied by its number.
std::string VisualObject(int n) {
  const std::string keyword = kKeywords[n % 10];
  const std::string address = std::to_string(100 + n % 400);
  std::string text = "      <visualobject type=\"" + keyword + "\">\n";
  text += "        <position X=\"" + std::to_string(5 + (n % 3) * 145) + "\" Y=\"" +
          std::to_string(5 + (n % 8) * 30) + "\"/>\n";
  if (n % 4 == 0) text += "        <behavior>GAUGE</behavior>\n";
  if (n % 5 == 0) text += "        <update_frequency>10</update_frequency>\n";
  if (keyword == "custom") {
    text += "        <plugin>liblumora.so</plugin>\n"
            "        <bitmask>Работа,1;Авария,2;Перегрев,4;newline;Связь,8</bitmask>\n";
  }
  switch (n % 5) {
    case 0:
      text += "        <VALUE type=\"ranged fix\">\n          <caption>Напряжение " + std::to_string(n) +
              ", В</caption>\n          <divisor>0.1</divisor>\n          <rangemin>0</rangemin>\n"
              "          <rangemax>1000</rangemax>\n          <viewformat>%.1f</viewformat>\n"
              "          <modbus element=\"input reg\">" + address + "</modbus>\n        </VALUE>\n";
      break;
    case 1:
      text += "        <VALUE type=\"natural\">\n          <caption>Режим " + std::to_string(n) +
              "</caption>\n          <data>Стоп</data>\n          <data>Работа</data>\n"
              "          <data>Авария</data>\n          <modbus element=\"hreg\">" + address +
              "</modbus>\n        </VALUE>\n";
      break;
    case 2:
      text += "        <VALUE type=\"binary\">\n          <caption>Флаг " + std::to_string(n) +
              "</caption>\n          <modbus element=\"coil\">" + std::to_string(1 + n % 64) +
              "</modbus>\n        </VALUE>\n";
      break;
    case 3:
      text += "        <VALUE type=\"ranged int\">\n          <caption>Счётчик " + std::to_string(n) +
              "</caption>\n          <rangemin>0</rangemin>\n          <rangemax>65535</rangemax>\n"
              "          <modbus element=\"ireg\" structure=\"reg32\">" + address + "</modbus>\n        </VALUE>\n";
      break;
    default:
      text += "        <VALUE>\n          <caption>Слово " + std::to_string(n) +
              "</caption>\n          <modbus element=\"input reg\" structure=\"array\">" + address + "-" +
              std::to_string(107 + n % 400) + "</modbus>\n        </VALUE>\n";
      break;
  }
  return text + "      </visualobject>\n";
}

std::string Profile(int file) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<devices>\n  <device name=\"BENCH-" +
                     std::to_string(file) + "\" version=\"1.00\" firmware=\"1.00\">\n"
                     "    <firmware_upgrade name=\"FU$-IHEX\" version=\"1.00\" target=\"LPCARM\" baudrate=\"115200\">\n"
                     "      <memory_map sectors=\"equal\" first_addr=\"0\" sectors_available=\"16\" "
                     "sector_size=\"16384\"/>\n    </firmware_upgrade>\n    <representation>\n"
                     "      <caption>Benchmark device " + std::to_string(file) + "</caption>\n"
                     "      <sizex>460</sizex>\n      <sizey>250</sizey>\n"
                     "      <pack element=\"ireg\" structure=\"array\">100-107</pack>\n";
  for (int page = 0; page < kObjectsPerFile / kObjectsPerPage; ++page) {
    text += "    <page name=\"Страница " + std::to_string(page + 1) + "\">\n";
    for (int i = 0; i < kObjectsPerPage; ++i) text += VisualObject(page * kObjectsPerPage + i);
    text += "    </page>\n";
  }
  return text + "    </representation>\n  </device>\n</devices>\n";
}

}  // namespace

int main() {
  const fs::path previous = fs::current_path();
  const fs::path folder = fs::temp_directory_path() / ("kelmora-bench-profile-load-" + std::to_string(::getpid()));
  std::error_code error;
  fs::create_directories(folder / "profiles", error);
  std::uintmax_t bytes = 0;
  for (int file = 0; file < kFiles; ++file) {
    const std::string text = Profile(file);
    std::ofstream(folder / "profiles" / ("bench" + std::to_string(file) + ".xml"), std::ios::binary) << text;
    bytes += text.size();
  }
  fs::current_path(folder, error);

  std::vector<double> times;
  std::size_t profiles = 0;
  std::size_t objects = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    CXDeviceProfileManager manager;
    const auto end = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    profiles = manager.GetProfileCount();
    objects = 0;
    for (const auto& profile : manager.GetProfiles()) {
      for (const auto& list : profile.keywordLists) {
        if (!list.keyword.empty()) objects += list.Count();
      }
    }
  }
  fs::current_path(previous, error);
  fs::remove_all(folder, error);

  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  const double megabytes = static_cast<double>(bytes) / (1024.0 * 1024.0);
  const double mbPerSecond = median > 0 ? megabytes / (median / 1000.0) : 0.0;
  std::printf("profiles folder: %d files, %.2f MB, %zu profiles and %zu visual objects loaded\n", kFiles, megabytes,
              profiles, objects);
  std::printf("manager construction over %d runs: best %.1f ms, median %.1f ms, worst %.1f ms\n", kRuns,
              times.front(), median, times.back());
  std::printf("median: %.2f ms per profile, %.1f MB/s\n", median / kFiles, mbPerSecond);
  std::printf("profile_load files=%d objects=%zu ms=%.1f mb_per_s=%.1f\n", kFiles, objects, median, mbPerSecond);
  return 0;
}
