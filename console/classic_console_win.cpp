#include "console/classic_console_win.h"

#include <windows.h>

#include <new>
#include <string>

#include "console/classic_console.h"
#include "platform/owners_win.h"

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// A host that ends this soon after its start gave the program no window (Wine's own
// conhost.exe ends with 1 after about 0.1 s); the program then runs on where it is.
constexpr DWORD kHostWatchMilliseconds = 1000;

std::u16string_view Text(const wchar_t* text, std::size_t length) {
  return {reinterpret_cast<const char16_t*>(text), length};
}

struct HostChoice {
  std::u16string host{kClassicConsoleHost};
  bool wineTerminalCounts = false;
};

#if TUNER_TEST_BUILD
// The tests' build under Wine, which has no pseudo-console window: TUNER_CLASSIC_CONSOLE_HOST
// names a host in the system folder (wineconsole.exe gives a real console window there), and
// with it Wine's console in a terminal counts as a pseudo console.
HostChoice ChooseHost() {
  wchar_t name[64] = {};
  const DWORD length = GetEnvironmentVariableW(L"TUNER_CLASSIC_CONSOLE_HOST", name, 64);
  if (length == 0 || length >= 64) return {};
  return {std::u16string(Text(name, length)), true};
}
#else
HostChoice ChooseHost() { return {}; }
#endif

ConsoleSeen SeeConsole() {
  ConsoleSeen seen;
  if (HWND window = GetConsoleWindow()) {
    wchar_t name[64] = {};
    const int length = GetClassNameW(window, name, 64);
    seen.windowClass = Text(name, length > 0 ? std::size_t(length) : 0);
    seen.windowVisible = IsWindowVisible(window) != FALSE;
  }
  CONSOLE_FONT_INFOEX font{};
  font.cbSize = sizeof(font);
  if (GetCurrentConsoleFontEx(GetStdHandle(STD_OUTPUT_HANDLE), FALSE, &font)) {
    seen.fontWidth = font.dwFontSize.X;
    seen.fontHeight = font.dwFontSize.Y;
  }
  DWORD processes[4] = {};
  seen.processCount = GetConsoleProcessList(processes, 4);  // the whole count, even past 4
  return seen;
}

std::u16string ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::u16string(Text(path.data(), length));
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

std::u16string HostPath(const std::u16string& host) {
  wchar_t root[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(root, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  BOOL redirected = FALSE;
  IsWow64Process(GetCurrentProcess(), &redirected);
  return ClassicConsoleHostPath(Text(root, length), redirected != FALSE, host);
}

HostStart StartHost(const std::u16string& hostPath, const std::u16string& commandLine) {
  std::wstring line(commandLine.begin(), commandLine.end());  // CreateProcessW may write to it
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  // Detached: the host must not join the console this process leaves, so the terminal's
  // tab can close.
  if (!CreateProcessW(reinterpret_cast<const wchar_t*>(hostPath.c_str()), line.data(), nullptr,
                      nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup, &started)) {
    return HostStart::Failed;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  return WaitForSingleObject(process.get(), kHostWatchMilliseconds) == WAIT_OBJECT_0
             ? HostStart::EndedAtOnce
             : HostStart::Running;
}

}  // namespace

bool RestartedInClassicConsole() {
  try {
    const HostChoice choice = ChooseHost();
    const ConsoleSeen seen = SeeConsole();
    const std::u16string hostPath = HostPath(choice.host);
    const wchar_t* commandLine = GetCommandLineW();
    return MoveToClassicConsole(
        seen, choice.wineTerminalCounts, hostPath, ProgramPath(),
        Text(commandLine, wcslen(commandLine)),
        [&hostPath](const std::u16string& line) { return StartHost(hostPath, line); });
  } catch (const std::bad_alloc&) {
    return false;  // no memory for the move: the program runs on where it is
  }
}
