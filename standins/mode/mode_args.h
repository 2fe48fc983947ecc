#pragma once
// The console size command of our MODE: "MODE CON: COLS=<n> LINES=<m>", in any case, with
// or without the colon and the blanks ("CON: COLS=90LINES=9" is what the players send).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ModeRequest {
  std::optional<int> columns;  // absent: keep the current width
  std::optional<int> lines;    // absent: keep the current height
};

struct ModeParse {
  std::optional<ModeRequest> request;  // absent when the command is not understood
  std::string error;                   // why, for the user
};

// The program's arguments as one text, separated by single blanks.
std::string JoinArguments(const std::vector<std::string>& arguments);

ModeParse ParseModeArguments(std::string_view arguments);

struct CellSize {
  int columns;
  int lines;
};

// The visible part of the screen buffer, in cells, edges included.
struct CellRect {
  int left;
  int top;
  int right;
  int bottom;
};

// One console call: the screen buffer's size, or the window placed at the buffer's top
// left corner with this size.
struct ResizeStep {
  enum class Kind { Window, Buffer };
  Kind kind;
  int columns;
  int lines;
};

// The calls that give the console a buffer of `target` cells and a window as large as
// that (but no larger than `largest`, the most the screen can show). The buffer may never
// be smaller than the window, so a window that would not fit the new buffer is shrunk
// (and moved to the top) first, the buffer set next, and the window grown last.
std::vector<ResizeStep> PlanResize(CellRect window, CellSize target, CellSize largest);
