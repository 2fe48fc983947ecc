#include "console/console_setup_win.h"

#include <cstring>
#include <cwchar>

#include "app/console_output_win.h"
#include "console/console_commands.h"
#include "platform/entry_binder_win.h"
#include "platform/owners_win.h"

namespace {

HANDLE Out() { return GetStdHandle(STD_OUTPUT_HANDLE); }

std::u16string_view FaceOf(const CONSOLE_FONT_INFOEX& font) {
  static_assert(sizeof(WCHAR) == sizeof(char16_t));
  return {reinterpret_cast<const char16_t*>(font.FaceName), wcsnlen(font.FaceName, LF_FACESIZE)};
}

}  // namespace

int EnableDpiAwareness() {
  const ModuleReference user32(LoadLibraryA("User32.dll"));
  BOOL(WINAPI* setAware)() = nullptr;
  EntryBinder bind(user32.get());
  bind(setAware, "SetProcessDPIAware");
  return bind.Complete() ? setAware() : 0;
}

void QueryConsoleWindowSize(int& columns, int& lines) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(Out(), &info)) {
    // The zeroed record would read as 1 by 1, and shutdown would shrink the console to a
    // single cell; 0 by 0 makes the size unknown, so it is not restored.
    columns = 0;
    lines = 0;
    return;
  }
  columns = info.srWindow.Right - info.srWindow.Left + 1;
  lines = info.srWindow.Bottom - info.srWindow.Top + 1;
}

CONSOLE_FONT_INFOEX QueryConsoleFont() {
  CONSOLE_FONT_INFOEX font{};
  font.cbSize = sizeof(font);
  GetCurrentConsoleFontEx(Out(), FALSE, &font);
  return font;
}

bool ApplyConsoleFont(std::int16_t width, std::int16_t height, std::u16string_view face,
                      std::uint32_t fontIndex, std::uint32_t weight, std::uint32_t family) {
  CONSOLE_FONT_INFOEX font{};
  font.cbSize = sizeof(font);
  font.nFont = fontIndex;
  font.dwFontSize = COORD{width, height};
  font.FontFamily = family;
  font.FontWeight = weight;
  const auto field = FontFaceField(face);
  static_assert(sizeof(field) == sizeof(font.FaceName));
  std::memcpy(font.FaceName, field.data(), sizeof(font.FaceName));
  return SetCurrentConsoleFontEx(Out(), TRUE, &font) != FALSE;
}

void ResizeConsole(int columns, int lines) {
  const std::string command = ResizeCommand(columns, lines);
  if (command.empty()) return;
  console::RunCommand(command.c_str());
}

SavedConsoleShape SaveConsoleShape() {
  SavedConsoleShape saved;
  QueryConsoleWindowSize(saved.columns, saved.lines);
  saved.font = QueryConsoleFont();
  return saved;
}

void ShapeConsole(const SavedConsoleShape& saved, std::int16_t fontWidth, std::int16_t fontHeight) {
  if (ConsoleHasOwnFont(saved.font.dwFontSize.X, saved.font.dwFontSize.Y)) {
    ApplyConsoleFont(fontWidth, fontHeight, kConsoleFace, kConsoleFontIndex, kConsoleFontWeight,
                     kConsoleFontFamily);
  }
  ResizeConsole(kConsoleColumns, kConsoleLines);
}

void RestoreConsoleShape(const SavedConsoleShape& saved) {
  ResizeConsole(saved.columns, saved.lines);
  const CONSOLE_FONT_INFOEX& font = saved.font;
  if (ConsoleHasOwnFont(font.dwFontSize.X, font.dwFontSize.Y)) {
    ApplyConsoleFont(font.dwFontSize.X, font.dwFontSize.Y, FaceOf(font), font.nFont,
                     font.FontWeight, font.FontFamily);
  }
}
