// Our MODE for the console size: "MODE CON: COLS=<n> LINES=<m>". Prints nothing when the
// console was resized, a short message and exit code 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/owners_win.h"
#include "standins/mode/mode_args.h"

namespace {

int Fail(const std::string& why) {
  std::fprintf(stderr, "MODE: %s\n", why.c_str());
  return 1;
}

bool Apply(HANDLE console, const ResizeStep& step) {
  if (step.kind == ResizeStep::Kind::Buffer) {
    const COORD size = {static_cast<SHORT>(step.columns), static_cast<SHORT>(step.lines)};
    return SetConsoleScreenBufferSize(console, size) != FALSE;
  }
  const SMALL_RECT rect = {0, 0, static_cast<SHORT>(step.columns - 1),
                           static_cast<SHORT>(step.lines - 1)};
  return SetConsoleWindowInfo(console, TRUE, &rect) != FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  const ModeParse parse = ParseModeArguments(JoinArguments({argv + 1, argv + argc}));
  if (!parse.request) return Fail(parse.error);

  // The console itself, not standard output, which a caller may have redirected.
  const FileHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       0, nullptr));
  if (!console) return Fail("there is no console");
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (!GetConsoleScreenBufferInfo(console.get(), &info)) return Fail("the console cannot be read");

  const CellRect window = {info.srWindow.Left, info.srWindow.Top, info.srWindow.Right,
                           info.srWindow.Bottom};
  const CellSize target = {parse.request->columns.value_or(window.right - window.left + 1),
                           parse.request->lines.value_or(window.bottom - window.top + 1)};
  const COORD largest = GetLargestConsoleWindowSize(console.get());

  for (const ResizeStep& step : PlanResize(window, target, {largest.X, largest.Y})) {
    if (!Apply(console.get(), step)) {
      return Fail(std::string(step.kind == ResizeStep::Kind::Buffer ? "screen buffer" : "window") +
                  " size refused (error " + std::to_string(GetLastError()) + ")");
    }
  }
  return 0;
}
