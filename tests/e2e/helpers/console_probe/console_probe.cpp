// Runs a program in this console and lets the end-to-end tests look at the console and
// type into it: the exact characters and attributes of the screen, the title, key events
// injected as console input records, and the program's exit code.
//
//   console_probe.exe <folder> <program> [arguments...]
//   console_probe.exe <folder> --attach <program file name>
//
// The second form waits for a process of that name that is running already (started by
// something else, in a console of its own), attaches to its console and serves it the same
// way; its "started" file also says "INSTANCES <processes of that name>".
//
// Requests are files "<folder>\req-<n>" holding one line each:
//   snap              -> "<folder>\resp-<n>": the screen (format below)
//   keys <k> <k> ...  -> key events, k = "c<code point>" or "v<virtual key>:<char>[:<modifier
//                        flags>]"
//   kill              -> ends the program
// When the program ends, its last screen goes to "final" and its exit code to "exit".
// Screen format, UTF-8 lines: "TITLE <title>", "SIZE <cols> <rows>",
// "CURSOR <x> <y> <visible>", "WINDOW <style hex> <Close menu state hex> <system menu items>
// <visible columns> <visible lines>",
// "FONT <cell width> <cell height> <weight> <family> <face>",
// "CONSOLEWINDOW <class> <visible> <windows of class "RQ GUI" set into it>", then per row
// "C <chars>" and "A <attributes as hex>".
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring folder;

std::string Utf8(const std::wstring& text) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  return out;
}

// Written under a temporary name and renamed, so a reader never sees half a file.
void WriteFileAtomically(const std::wstring& name, const std::string& content) {
  const std::wstring path = folder + L"\\" + name;
  const std::wstring temporary = path + L".tmp";
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string Snapshot() {
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(out, &info);
  CONSOLE_CURSOR_INFO cursor{};
  GetConsoleCursorInfo(out, &cursor);
  wchar_t title[1024] = {};
  GetConsoleTitleW(title, 1023);

  // The console's window and font, for consoles that have them (a real console window).
  HWND window = GetConsoleWindow();
  HMENU menu = window != nullptr ? GetSystemMenu(window, FALSE) : nullptr;
  CONSOLE_FONT_INFOEX font{};
  font.cbSize = sizeof(font);
  GetCurrentConsoleFontEx(out, FALSE, &font);
  char facts[160];
  std::snprintf(
      facts, sizeof(facts), "WINDOW %lx %x %d %d %d\nFONT %d %d %u %u ",
      window != nullptr ? static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)) : 0ul,
      menu != nullptr ? GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) : 0xFFFFFFFFu,
      menu != nullptr ? GetMenuItemCount(menu) : -1, info.srWindow.Right - info.srWindow.Left + 1,
      info.srWindow.Bottom - info.srWindow.Top + 1, font.dwFontSize.X, font.dwFontSize.Y,
      font.FontWeight, font.FontFamily);

  const SHORT columns = info.dwSize.X;
  const SHORT rows = info.dwSize.Y > 200 ? 200 : info.dwSize.Y;
  std::string text = "TITLE " + Utf8(title) + "\n";
  text += "SIZE " + std::to_string(columns) + " " + std::to_string(rows) + "\n";
  text += "CURSOR " + std::to_string(info.dwCursorPosition.X) + " " +
          std::to_string(info.dwCursorPosition.Y) + " " + std::to_string(cursor.bVisible ? 1 : 0) +
          "\n";
  text += facts + Utf8(font.FaceName) + "\n";
  wchar_t windowClass[64] = L"-";
  int logos = 0;
  if (window != nullptr) {
    GetClassNameW(window, windowClass, 64);
    for (HWND logo = nullptr; (logo = FindWindowExW(window, logo, L"RQ GUI", nullptr)) != nullptr;) {
      ++logos;
    }
  }
  text += "CONSOLEWINDOW " + Utf8(windowClass) + " " +
          std::to_string(window != nullptr && IsWindowVisible(window) ? 1 : 0) + " " +
          std::to_string(logos) + "\n";
  std::vector<CHAR_INFO> cells(static_cast<size_t>(columns));
  for (SHORT row = 0; row < rows; ++row) {
    SMALL_RECT region{0, row, static_cast<SHORT>(columns - 1), row};
    ReadConsoleOutputW(out, cells.data(), COORD{columns, 1}, COORD{0, 0}, &region);
    std::wstring chars;
    std::string attributes;
    char hex[8];
    for (const CHAR_INFO& cell : cells) {
      chars += cell.Char.UnicodeChar == 0 ? L' ' : cell.Char.UnicodeChar;
      std::snprintf(hex, sizeof(hex), "%04x", cell.Attributes);
      attributes += hex;
    }
    text += "C " + Utf8(chars) + "\n";
    text += "A " + attributes + "\n";
  }
  CloseHandle(out);
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  GetConsoleMode(in, &mode);
  CloseHandle(in);
  return "INPUTMODE " + std::to_string(mode) + "\n" + text;
}

void TypeKey(HANDLE in, WORD virtualKey, wchar_t character, DWORD controlState = 0) {
  INPUT_RECORD records[2] = {};
  for (int i = 0; i < 2; ++i) {
    records[i].EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
    key.bKeyDown = i == 0;
    key.wRepeatCount = 1;
    key.wVirtualKeyCode = virtualKey;
    key.wVirtualScanCode = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    key.uChar.UnicodeChar = character;
    key.dwControlKeyState = controlState;
  }
  DWORD written = 0;
  WriteConsoleInputW(in, records, 2, &written);
}

void Keys(const std::string& arguments) {
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  size_t at = 0;
  while (at < arguments.size()) {
    size_t end = arguments.find(' ', at);
    if (end == std::string::npos) end = arguments.size();
    const std::string key = arguments.substr(at, end - at);
    at = end + 1;
    if (key.size() < 2) continue;
    if (key[0] == 'c') {
      const wchar_t c = static_cast<wchar_t>(std::stoul(key.substr(1)));
      const SHORT scan = VkKeyScanW(c);
      TypeKey(in, scan == -1 ? 0 : static_cast<WORD>(scan & 0xFF), c);
    } else if (key[0] == 'v') {
      const size_t colon = key.find(':');
      const WORD vk = static_cast<WORD>(std::stoul(key.substr(1, colon - 1)));
      const wchar_t c =
          colon == std::string::npos ? 0 : static_cast<wchar_t>(std::stoul(key.substr(colon + 1)));
      const size_t flags = colon == std::string::npos ? colon : key.find(':', colon + 1);
      TypeKey(in, vk, c,
              flags == std::string::npos ? 0 : static_cast<DWORD>(std::stoul(key.substr(flags + 1))));
    }
  }
  CloseHandle(in);
}

std::string ReadRequest(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  char buffer[4096] = {};
  DWORD read = 0;
  ReadFile(file, buffer, sizeof(buffer) - 1, &read, nullptr);
  CloseHandle(file);
  std::string text(buffer, read);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Answers every waiting request; the lowest number first.
void ServeRequests(HANDLE program) {
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((folder + L"\\req-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> names;
  do {
    std::wstring name = found.cFileName;
    if (name.find(L".tmp") == std::wstring::npos) names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  for (const std::wstring& name : names) {
    const std::wstring path = folder + L"\\" + name;
    const std::string request = ReadRequest(path);
    DeleteFileW(path.c_str());
    const std::wstring number = name.substr(4);
    if (request == "snap") {
      WriteFileAtomically(L"resp-" + number, Snapshot());
    } else if (request.rfind("keys ", 0) == 0) {
      Keys(request.substr(5));
      WriteFileAtomically(L"resp-" + number, "ok\n");
    } else if (request == "kill") {
      TerminateProcess(program, 137);
      WriteFileAtomically(L"resp-" + number, "ok\n");
    }
  }
}

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// The processes running a program of that file name.
std::vector<DWORD> ProcessesNamed(const wchar_t* name) {
  std::vector<DWORD> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) found.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

// Waits for the program, takes its console and gives back its handle; null after 30 s.
HANDLE AttachTo(const wchar_t* name, std::string& started) {
  std::vector<DWORD> processes;
  for (int i = 0; i < 600 && processes.empty(); ++i) {
    processes = ProcessesNamed(name);
    if (processes.empty()) Sleep(50);
  }
  if (processes.empty()) return nullptr;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                               FALSE, processes.front());
  FreeConsole();
  // The console is ready for another process only once the program has taken it.
  for (int i = 0; i < 200 && !AttachConsole(processes.front()); ++i) Sleep(50);
  started = "INSTANCES " + std::to_string(processes.size()) + "\n" + Snapshot();
  return process;
}

// Starts the program as this console's child; "started" holds the console as it finds it.
bool StartHere(int argc, wchar_t** argv, PROCESS_INFORMATION& process) {
  std::wstring commandLine;
  for (int i = 2; i < argc; ++i) {
    if (i > 2) commandLine += L' ';
    commandLine += QuoteArgument(argv[i]);
  }
  const std::string before = Snapshot();  // the console as the program finds it
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    WriteFileAtomically(L"exit", "start-failed " + std::to_string(GetLastError()) + "\n");
    return false;
  }
  WriteFileAtomically(L"started", before);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: console_probe <folder> <program> [arguments...]\n");
    return 2;
  }
  folder = argv[1];
  PROCESS_INFORMATION process{};
  if (std::wstring(argv[2]) == L"--attach" && argc == 4) {
    std::string started;
    process.hProcess = AttachTo(argv[3], started);
    if (process.hProcess == nullptr) {
      WriteFileAtomically(L"exit", "attach-failed\n");
      return 3;
    }
    WriteFileAtomically(L"started", started);
  } else if (!StartHere(argc, argv, process)) {
    return 3;
  }
  while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) ServeRequests(process.hProcess);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  WriteFileAtomically(L"final", Snapshot());
  WriteFileAtomically(L"exit", std::to_string(code) + "\n");
  // Late requests still get an answer, so a test never waits for one in vain.
  for (int i = 0; i < 50; ++i) {
    ServeRequests(process.hProcess);
    Sleep(10);
  }
  return static_cast<int>(code);
}
