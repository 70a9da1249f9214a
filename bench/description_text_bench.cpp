// The viewer's description text over 2 MB descriptions of shapes that once
// took the square of their size, next to plain text of the same size; one
// line each with the median time of RUNS runs in ms. bench/run.sh runs it.
//
//   description_text_bench RUNS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "companions/viewer/description_text.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 7;
  const char* const shapes[] = {"plain text ",      "<a",  "<a \"", "<script></script>",
                                "<STYLE>x</style ", "&amp"};
  for (const char* piece : shapes) {
    std::string html;
    while (html.size() < 2 * 1024 * 1024) html += piece;
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
      const auto start = std::chrono::steady_clock::now();
      const std::string text = viewer::DescriptionText(html);
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      if (text.size() > viewer::kDescriptionTextLimit + 3) return 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("   2 MB of \"%s\"%*s %8.1f ms\n", piece,
                static_cast<int>(18 - std::string(piece).size()), "", ms[ms.size() / 2]);
  }
  return 0;
}
