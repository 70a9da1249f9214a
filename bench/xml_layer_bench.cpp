// Measurements of the XML layer, the feed update and the update-state writes
// against bare pugixml; bench/run.sh runs them and sums them up.
//
//   xml_layer_bench store ITEMS PATH      writes a store of ITEMS items
//   xml_layer_bench xml layer|bare PATH RUNS
//       loads and saves the store RUNS times, through the layer or through
//       bare pugixml (load_file, save_file to a temporary file in the same
//       folder, fsync, rename: the same atomic replacement); prints the time
//       of each run in ms and the process's peak resident memory. Run each in
//       a process of its own, so that the peak is its own.
//   xml_layer_bench pair PATH RUNS
//       both in turn in one process, run after run, for their time ratio
//       (layer / bare) under the same conditions.
//   xml_layer_bench update RUNS
//       the update of 500 new items into a 20,000-item store, against bare
//       pugixml loading the same store, prepending 500 items and saving it
//       with fsync and rename; both in turn in one process, run after run.
//       Prints each run's times and their ratio.
//       The update's converter is this program too, started through a
//       link named FeedPull.exe.
//   xml_layer_bench state RUNS
//       the three update-state writes of a feed, once with new values (each
//       a full atomic rewrite) and once with the values the file holds.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/product/converter_call.h"
#include "feeds/site_update.h"
#include "feeds/update_state.h"
#include "platform/filesystem.h"
#include "platform/xml.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double PeakMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

std::string ItemXml(int n, bool store) {
  std::ostringstream out;
  out << "<item><title>Item " << n << " title</title><description>Description of item " << n
      << ", a sentence or two long, as feeds usually have "
         "it.</description><link>https://example.com/"
      << n << "</link>" << (store ? "<pubDate>" : "<pubdate>") << "Mon, 07 Dec 2026 10:00:00 GMT"
      << (store ? "</pubDate>" : "</pubdate>") << "<author>Author</author>"
      << (store ? "<GUID>" : "<guid>") << "guid-" << n
      << (store ? "</GUID><Status>Unread</Status>" : "</guid>") << "</item>\n";
  return out.str();
}

std::string StoreXml(int items) {
  std::string store =
      "<?xml version=\"1.0\"?>\n<rootrss><maintitle>T</maintitle><mainlink>L"
      "</mainlink><maindescription>D</maindescription>\n";
  for (int n = 0; n < items; ++n) store += ItemXml(n, true);
  return store + "</rootrss>\n";
}

void Fsync(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// pugixml's own save, with the same atomic replacement as the layer's.
bool BareSave(const pugi::xml_document& doc, const std::string& path) {
  const std::string temp = path + ".tmp";
  if (!doc.save_file(temp.c_str())) return false;
  Fsync(temp, O_RDONLY);
  if (std::rename(temp.c_str(), path.c_str()) != 0) return false;
  Fsync(fs::path(path).parent_path().string(), O_RDONLY | O_DIRECTORY);
  return true;
}

void Summary(const char* what, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const double median = values.size() % 2 == 1
                            ? values[values.size() / 2]
                            : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
  std::printf("%s median=%.3f min=%.3f max=%.3f runs=%zu\n", what, median, values.front(),
              values.back(), values.size());
}

// One load and save; the time in ms, or a negative number on failure.
double LoadAndSave(const std::string& how, const std::string& path) {
  const auto start = Clock::now();
  if (how == "layer") {
    platform::XmlDocument doc;
    if (!doc.Load(path)) return -1;
    doc.Save(path);
  } else {
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) return -1;
    if (!BareSave(doc, path)) return -1;
  }
  return Ms(start);
}

int PairMode(const std::string& path, int runs) {
  std::vector<double> layer, bare, ratio;
  for (int i = 0; i < runs; ++i) {
    bare.push_back(LoadAndSave("bare", path));
    layer.push_back(LoadAndSave("layer", path));
    if (bare.back() < 0 || layer.back() < 0) return 2;
    ratio.push_back(layer.back() / bare.back());
  }
  Summary("bare_ms", bare);
  Summary("layer_ms", layer);
  Summary("ratio", ratio);
  return 0;
}

int XmlMode(const std::string& how, const std::string& path, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    times.push_back(LoadAndSave(how, path));
    if (times.back() < 0) return 2;
  }
  std::printf("times_ms=");
  for (std::size_t i = 0; i < times.size(); ++i) std::printf("%s%.3f", i ? "," : "", times[i]);
  std::printf(" peak_mb=%.1f\n", PeakMegabytes());
  return 0;
}

constexpr int kStoredItems = 20000;
constexpr int kNewItems = 500;

struct UpdateFixture {
  fs::path root;
  std::string store_bytes;

  UpdateFixture() {
    root = fs::temp_directory_path() / ("rssnotify-bench-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "qLUX/Dovel/RSSLinks");
    store_bytes = StoreXml(kStoredItems);
    std::string feed = "<?xml version=\"1.0\"?>\n<rootrss><maintitle>T</maintitle>\n";
    for (int n = kStoredItems + kNewItems; n > kStoredItems; --n) feed += ItemXml(n, false);
    feed += ItemXml(kStoredItems - 1, false) + "</rootrss>\n";
    std::ofstream(root / "feed.xml") << feed;
    // The converter is this program (see StandInConverter).
    fs::create_symlink(fs::read_symlink("/proc/self/exe"), root / "qLUX/FeedPull.exe");
    ResetAppStateForTesting();
    AppState.InstallPath = root.string() + "\\";
    AppState.DataPath = AppState.InstallPath;
    AppState.UserName = "bench";
    AppState.TemplateID = "T";
    AppState.TemplateVersion = "1";
  }
  ~UpdateFixture() { fs::remove_all(root); }

  std::string StorePath() const { return (root / "qLUX/Dovel/RSSLinks/Link_1_T_1.xml").string(); }
  std::string StatePath() const {
    return (root / "qLUX/Dovel/RSSLinks/LastUpdates_bench.ini").string();
  }

  // The store back at its 20,000 items, on disk, outside the timed part.
  void Reset() const {
    platform::Files().ReplaceFileAtomically(StorePath(), store_bytes);
    fs::remove(StatePath());
  }
};

int UpdateMode(int runs) {
  UpdateFixture fixture;
  // The 500 items the baseline prepends, parsed beforehand.
  pugi::xml_document items;
  std::string new_items;
  for (int n = kStoredItems + kNewItems; n > kStoredItems; --n) new_items += ItemXml(n, true);
  items.load_string(("<r>" + new_items + "</r>").c_str());
  const std::string url = (fixture.root / "feed.xml").string();
  std::vector<double> bare, update, ratio;
  for (int i = 0; i < runs; ++i) {
    fixture.Reset();
    auto start = Clock::now();
    {
      pugi::xml_document doc;
      if (!doc.load_file(fixture.StorePath().c_str())) return 2;
      pugi::xml_node root = doc.document_element();
      for (pugi::xml_node item : items.document_element().children()) root.prepend_copy(item);
      if (!BareSave(doc, fixture.StorePath())) return 2;
    }
    bare.push_back(Ms(start));

    fixture.Reset();
    AppState.strTotalNewRSS = "0";
    start = Clock::now();
    fncParseRSSSite("1", url);
    update.push_back(Ms(start));
    if (AppState.strTotalNewRSS != std::to_string(kNewItems)) return 3;
    ratio.push_back(update.back() / bare.back());
  }
  Summary("bare_ms", bare);
  Summary("update_ms", update);
  Summary("ratio", ratio);
  return 0;
}

int StateMode(int runs) {
  UpdateFixture fixture;
  const std::string path = UpdateStatePath();
  const std::string section = FeedSection("1");
  std::vector<double> changed, unchanged;
  for (int i = 0; i < runs; ++i) {
    const std::string n = std::to_string(i);
    auto start = Clock::now();
    fncwriteToINI(section, "LatestGUID", "https://example.com/" + n, path);
    fncwriteToINI(section, "LatestPubDate", "Mon, 07 Dec 2026 10:00:00 GMT " + n, path);
    fncwriteToINI(section, "NewRSSCount", n, path);
    changed.push_back(Ms(start));
    start = Clock::now();
    fncwriteToINI(section, "LatestGUID", "https://example.com/" + n, path);
    fncwriteToINI(section, "LatestPubDate", "Mon, 07 Dec 2026 10:00:00 GMT " + n, path);
    fncwriteToINI(section, "NewRSSCount", n, path);
    unchanged.push_back(Ms(start));
  }
  Summary("three_writes_new_values_ms", changed);
  Summary("three_writes_same_values_ms", unchanged);
  return 0;
}

}  // namespace

// The update's converter, started as qLUX/FeedPull.exe (a link to this
// program): puts the feed file named by its argument in place, with the mark
// of the run's call after it, as the real converter does, at the cost of a
// compiled program's start rather than a shell's and four tools'.
int StandInConverter(const fs::path& self, const std::string& feed) {
  std::ifstream in(feed, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in && !in.eof()) return 2;
  const char* call = std::getenv("RSSNOTIFY_CONVERTER_CALL");
  bytes += product::ConverterMark(call ? call : "", feed);
  const fs::path out = self.parent_path() / "Dovel/RSSLinks/Temp_RSS.xml";
  std::ofstream(fs::path(out) += ".part", std::ios::binary) << bytes;
  fs::rename(fs::path(out) += ".part", out);
  return 0;
}

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (fs::path(argv[0]).filename() == "FeedPull.exe" && args.size() == 1) {
    return StandInConverter(argv[0], args[0]);
  }
  if (args.size() == 3 && args[0] == "store") {
    std::ofstream(args[2]) << StoreXml(std::atoi(args[1].c_str()));
    return 0;
  }
  if (args.size() == 4 && args[0] == "xml")
    return XmlMode(args[1], args[2], std::atoi(args[3].c_str()));
  if (args.size() == 3 && args[0] == "pair") return PairMode(args[1], std::atoi(args[2].c_str()));
  if (args.size() == 2 && args[0] == "update") return UpdateMode(std::atoi(args[1].c_str()));
  if (args.size() == 2 && args[0] == "state") return StateMode(std::atoi(args[1].c_str()));
  std::fprintf(stderr, "usage: see the comment at the top of xml_layer_bench.cpp\n");
  return 1;
}
