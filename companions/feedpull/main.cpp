// FeedPull.exe <URL>: fetches one feed and leaves it, converted, in the
// product's data folder as QLUX\Dovel\RSSLinks\Temp_RSS.xml for rssnotify.
//
// The output file is replaced atomically and only after a successful fetch
// and conversion: on any failure the file stays as it was, one line goes to
// standard error and the exit status says what failed:
//   1 no URL given
//   2 no usable installation, or the output cannot be written
//   3 the fetch failed
//   4 the fetched document is not a feed
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "app/environment.h"
#include "companions/feedpull/feed_convert.h"
#include "companions/feedpull/fetch.h"
#include "platform/failure.h"
#include "platform/filesystem.h"

namespace {

constexpr int kNoUrl = 1;
constexpr int kNoOutput = 2;
constexpr int kFetchFailed = 3;
constexpr int kNotAFeed = 4;

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "FeedPull: %s\n", message.c_str());
  return status;
}

std::string Trimmed(const std::string& text) {
  std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

int Run(int argc, char** argv) {
  const std::string url = argc > 1 ? Trimmed(argv[1]) : std::string();
  if (url.empty()) return Fail(kNoUrl, "no feed URL given (usage: FeedPull.exe <URL>)");

  std::string install_path;
  std::string data_path;
  if (!FindProductFolders(install_path, data_path)) {
    return Fail(kNoOutput, "the installation path is not registered or does not exist");
  }
  const std::string output = data_path + "QLUX\\Dovel\\RSSLinks\\Temp_RSS.xml";

  feedpull::FetchResult fetched = feedpull::Fetch(url);
  if (!fetched.ok) return Fail(kFetchFailed, "cannot fetch " + url + ": " + fetched.error);

  std::string error;
  std::optional<std::string> document =
      feedpull::ConvertFeed(fetched.body, fetched.effective_url, &error);
  if (!document) return Fail(kNotAFeed, "cannot convert " + url + ": " + error);

  platform::FileSystem& files = platform::Files();
  try {
    files.ReplaceFileAtomically(output, *document);
  } catch (const platform::Failure& failure) {
    return Fail(kNoOutput, "cannot write " + files.NativePath(output) + ": " +
                               failure.description() + " (" + std::to_string(failure.number()) +
                               ")");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& failure) {
    return Fail(kNoOutput, failure.what());
  }
}
