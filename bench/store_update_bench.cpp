// One feed update that adds 500 new items to a store of 20,000, against a
// baseline that only loads and saves the same store with the same XML
// library. The ratio of the two tells what the update itself costs on top of
// the unavoidable load and save.
//
// bench/run.sh runs each alone, so that its peak memory is its own, and both
// in turn, for the ratio.
#include <benchmark/benchmark.h>

#include <chrono>
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
      << ", a sentence or two long, as feeds usually have "
         "it.</description><link>https://example.com/"
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

// Only the work under test is timed: restoring the store between iterations
// writes 6 MB and would blur the comparison.
double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Fixture {
  std::filesystem::path root;
  std::string store_bytes;

  Fixture() {
    root = std::filesystem::temp_directory_path() / "rssnotify-bench";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "qLUX/Dovel/RSSLinks");
    std::string store =
        "<?xml version=\"1.0\"?>\n<rootrss><maintitle>T</maintitle><mainlink>L"
        "</mainlink><maindescription>D</maindescription>\n";
    for (int n = 0; n < kStoredItems; ++n) store += ItemXml("pubDate", n, true);
    store_bytes = store + "</rootrss>\n";
    std::string feed = "<?xml version=\"1.0\"?>\n<rootrss><maintitle>T</maintitle>\n";
    for (int n = kStoredItems + kNewItems; n > kStoredItems; --n)
      feed += ItemXml("pubdate", n, false);
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

  // Restores the store to its 20,000 items, flushed to disk, so that no
  // write-back of the restore falls into the timed part.
  void Reset() const {
    platform::Files().ReplaceFileAtomically(StorePath(), store_bytes);
    std::filesystem::remove(root / "qLUX/Dovel/RSSLinks/LastUpdates_bench.ini");
  }
};

// Baseline: load the store and save it again, nothing else.
double LoadAndSave(const Fixture& fixture) {
  fixture.Reset();
  const auto start = std::chrono::steady_clock::now();
  platform::XmlDocument document;
  if (!document.Load(fixture.StorePath())) return -1;
  document.Save(fixture.StorePath());
  return Seconds(start);
}

// The update: converter run, reading its output, loading the store, 500
// insertions at the top, saving, and the state writes.
double FeedUpdate(const Fixture& fixture, const std::string& url) {
  fixture.Reset();
  AppState.strTotalNewRSS = "0";
  const auto start = std::chrono::steady_clock::now();
  fncParseRSSSite("1", url);
  const double seconds = Seconds(start);
  return AppState.strTotalNewRSS == std::to_string(kNewItems) ? seconds : -1;
}

void SetUpRun(const Fixture& fixture) {
  ResetAppStateForTesting();
  AppState.InstallPath = fixture.root.string() + "\\";
  AppState.DataPath = AppState.InstallPath;
  AppState.UserName = "bench";
  AppState.TemplateID = "T";
  AppState.TemplateVersion = "1";
}

void BM_LoadAndSaveStore(benchmark::State& state) {
  Fixture fixture;
  for (auto _ : state) {
    const double seconds = LoadAndSave(fixture);
    if (seconds < 0) state.SkipWithError("store does not load");
    state.SetIterationTime(seconds);
  }
  state.counters["peak_MB"] = PeakMegabytes();
}

void BM_FeedUpdate500Into20000(benchmark::State& state) {
  Fixture fixture;
  SetUpRun(fixture);
  const std::string url = (fixture.root / "feed.xml").string();
  for (auto _ : state) {
    const double seconds = FeedUpdate(fixture, url);
    if (seconds < 0) state.SkipWithError("the update did not add 500 items");
    state.SetIterationTime(seconds);
  }
  state.counters["peak_MB"] = PeakMegabytes();
}

// Both in turn in one loop, so that they meet the same conditions (caches,
// memory already mapped, disk write-back); the ratio is update / baseline.
void BM_UpdateOverLoadAndSave(benchmark::State& state) {
  Fixture fixture;
  SetUpRun(fixture);
  const std::string url = (fixture.root / "feed.xml").string();
  double baseline = 0, update = 0;
  for (auto _ : state) {
    const double b = LoadAndSave(fixture);
    const double u = FeedUpdate(fixture, url);
    if (b < 0 || u < 0) state.SkipWithError("a step failed");
    baseline += b;
    update += u;
    state.SetIterationTime(b + u);
  }
  state.counters["baseline_ms"] =
      benchmark::Counter(baseline * 1000, benchmark::Counter::kAvgIterations);
  state.counters["update_ms"] =
      benchmark::Counter(update * 1000, benchmark::Counter::kAvgIterations);
  state.counters["ratio"] = baseline > 0 ? update / baseline : 0;
}

}  // namespace

BENCHMARK(BM_LoadAndSaveStore)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_FeedUpdate500Into20000)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_UpdateOverLoadAndSave)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_MAIN();
