// One feed update that adds 500 new items to a store of 20,000, against a
// baseline that only loads and saves the same store with the same XML
// library. The ratio of the two tells what the update itself costs on top of
// the unavoidable load and save.
//
//   build/bench/store_update_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/app_state.h"
#include "app/driver.h"
#include "feeds/site_update.h"
#include "platform/filesystem.h"
#include "platform/xml.h"

namespace {

constexpr int kStoredItems = 20000;
constexpr int kNewItems = 500;

std::string ItemXml(const char* element_case, int n, bool store) {
  std::ostringstream out;
  out << "<item><title>Item " << n << " title</title><description>Description of item " << n
      << ", a sentence or two long, as feeds usually have it.</description><link>https://example.com/"
      << n << "</link><" << element_case << ">Mon, 07 Dec 2026 10:00:00 GMT</" << element_case
      << "><author>Author</author>" << (store ? "<GUID>" : "<guid>") << "guid-" << n
      << (store ? "</GUID><Status>Unread</Status>" : "</guid>") << "</item>\n";
  return out.str();
}

// Peak resident memory of this process, from the kernel's accounting.
double PeakMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

struct Fixture {
  std::filesystem::path root;
  std::string store_bytes;

  Fixture() {
    root = std::filesystem::temp_directory_path() / "rssnotify-bench";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "qLUX/Dovel/RSSLinks");
    std::string store = "<?xml version=\"1.0\"?>\n<rootrss><maintitle>T</maintitle><mainlink>L"
                        "</mainlink><maindescription>D</maindescription>\n";
    for (int n = 0; n < kStoredItems; ++n) store += ItemXml("pubDate", n, true);
    store_bytes = store + "</rootrss>\n";
    std::string feed = "<?xml version=\"1.0\"?>\n<rootrss><maintitle>T</maintitle>\n";
    for (int n = kStoredItems + kNewItems; n > kStoredItems; --n) feed += ItemXml("pubdate", n, false);
    feed += ItemXml("pubdate", kStoredItems - 1, false) + "</rootrss>\n";
    std::ofstream(root / "feed.xml") << feed;
    std::ofstream converter(root / "qLUX/FeedPull.exe");
    converter << "#!/bin/sh\ncp \"$1\" \"" << (root / "qLUX/Dovel/RSSLinks/Temp_RSS.xml").string()
              << "\"\n";
    converter.close();
    std::filesystem::permissions(root / "qLUX/FeedPull.exe", std::filesystem::perms::owner_all);
  }
  ~Fixture() { std::filesystem::remove_all(root); }

  std::string StorePath() const { return (root / "qLUX/Dovel/RSSLinks/Link_1_T_1.xml").string(); }

  void Reset() const {
    std::ofstream(StorePath(), std::ios::binary) << store_bytes;
    std::filesystem::remove(root / "qLUX/Dovel/RSSLinks/LastUpdates_bench.ini");
  }
};

void BM_LoadAndSaveStore(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    state.PauseTiming();
    fixture.Reset();
    state.ResumeTiming();
    platform::XmlDocument document;
    if (!document.Load(fixture.StorePath())) state.SkipWithError("store does not load");
    document.Save(fixture.StorePath());
  }
  state.counters["peak_MB"] = PeakMegabytes();
}

void BM_FeedUpdate500Into20000(benchmark::State& state) {
  Fixture fixture;
  ResetAppStateForTesting();
  AppState.InstallPath = fixture.root.string() + "\\";
  AppState.DataPath = AppState.InstallPath;
  AppState.UserName = "bench";
  AppState.TemplateID = "T";
  AppState.TemplateVersion = "1";
  const std::string url = (fixture.root / "feed.xml").string();
  for (auto _ : state) {
    state.PauseTiming();
    fixture.Reset();
    AppState.strTotalNewRSS = "0";
    state.ResumeTiming();
    fncParseRSSSite("1", url);
  }
  if (AppState.strTotalNewRSS != std::to_string(kNewItems)) {
    state.SkipWithError(("expected 500 new items, got " + AppState.strTotalNewRSS).c_str());
  }
  state.counters["peak_MB"] = PeakMegabytes();
}

}  // namespace

BENCHMARK(BM_LoadAndSaveStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FeedUpdate500Into20000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
