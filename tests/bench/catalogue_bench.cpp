// Figures for the pure work of the catalogue and the status line: how long a large home
// page takes to read, and what one pass of the status line costs.
#include <chrono>
#include <cstdio>
#include <string>

#include "app/status_screen.h"
#include "web/catalogue.h"

namespace {

template <typename Work>
double MicrosecondsPerRun(int runs, Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) work();
  const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / runs;
}

}  // namespace

int main() {
  const std::string marker = "<td class=\"c1\"><a href=\"/listen/";
  // A 2 MB page of table rows whose marker-like text only matches at the very end.
  std::string page;
  while (page.size() < 2 * 1024 * 1024) page += "<tr><td class=\"c2\"><a href=\"/listen/x/\">x</a></td></tr>\n";
  page += marker + "54321/\">newest</a>";
  volatile unsigned sink = 0;
  const double perPage = MicrosecondsPerRun(200, [&] {
    sink = sink + FindLatestSongNumber(page, marker, '/');
  });
  std::printf("newest song number from a %zu-byte home page: %.1f us per page (target < 2000)\n",
              page.size(), perPage);

  std::string line;
  double played = 0;
  const double perLine = MicrosecondsPerRun(200000, [&] {
    played += 0.015;
    BuildStatusLine(line, static_cast<std::int64_t>(played * 176400), played, 44100 * 4 * 240,
                    240.0, 0.15f);
  });
  std::printf("status line built: %.3f us per pass\n", perLine);
  return sink == 0 ? 1 : 0;
}
