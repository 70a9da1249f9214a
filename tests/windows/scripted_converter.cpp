// A stand-in for the feed converter (FeedPull.exe) in tests of the whole
// Windows program: it takes the feed "URL" as the path of a file that holds
// the converted document and puts that file where the real converter puts
// its output, found the same way (the product's folders from the registry
// and ALLUSERSPROFILE). It waits a moment first, as a real fetch would, so
// that the program finds it still running when it first looks: every run
// then logs the same lines.
//
// Exit codes: 0 done, 1 no argument, 2 no product folders, 3 no such file,
// 4 the output could not be written.
#include <chrono>
#include <string>
#include <thread>

#include "app/product/folders.h"
#include "platform/failure.h"
#include "platform/filesystem.h"

int main(int argc, char** argv) {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  if (argc < 2) return 1;
  std::string install_path;
  std::string data_path;
  if (!product::FindProductFolders(install_path, data_path)) return 2;
  platform::FileSystem& fs = platform::Files();
  if (!fs.FileExists(argv[1])) return 3;
  try {
    const std::string converted = fs.ReadFileBytes(argv[1]);
    fs.ReplaceFileAtomically(data_path + "QLUX\\Dovel\\RSSLinks\\Temp_RSS.xml", converted);
  } catch (const platform::Failure&) {
    return 4;
  }
  return 0;
}
