#include "app/tuner_win.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "app/console_output_win.h"
#include "audio/audio_library_win.h"
#include "audio/song_start_win.h"
#include "app/key_reader_win.h"
#include "app/options.h"
#include "app/player_loop_win.h"
#include "app/player_state.h"
#include "app/screen_win.h"
#include "app/startup.h"
#include "app/target_settings.h"
#include "console/classic_console_win.h"
#include "console/console_layout.h"
#include "console/console_setup_win.h"
#include "logo/logo_win.h"
#include "platform/owners_win.h"
#include "web/catalogue_win.h"
#include "web/http_request_win.h"
#include "web/save_copy_win.h"
#include "web/winhttp_binding_win.h"

namespace {

// What start-up saves to give the console back at shutdown.
struct SavedConsole {
  DWORD inputMode = 0;
  char title[256] = {};
  WORD attribute = 0;
};

struct Session {
  HANDLE out = nullptr;
  HANDLE in = nullptr;
  SavedConsole saved;
  DWORD buildNumber = 0;
  int dpi = 96;
  HMENU systemMenu = nullptr;
  ConsoleLayout layout;
  SavedConsoleShape shape;
};

[[noreturn]] void Fail(const char* message, UINT exitCode) {
  if (message != nullptr) console::PrintLine(message);
  ExitProcess(exitCode);
}

DWORD QueryBuildNumber() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  return version.dwBuildNumber;
}

void TakeConsole(Session& s) {
  AllocConsole();  // fails harmlessly when the process already has one
  s.out = GetStdHandle(STD_OUTPUT_HANDLE);
  s.in = GetStdHandle(STD_INPUT_HANDLE);
  Player().consoleWindow = GetConsoleWindow();
  GetConsoleMode(s.in, &s.saved.inputMode);
  SetConsoleMode(s.in, TakeOverInputMode(s.saved.inputMode));
}

int ReadConsoleDpi() {
  HWND window = static_cast<HWND>(Player().consoleWindow);
  const WindowDc dc = GetWindowDc(window);
  return GetDeviceCaps(dc.get(), LOGPIXELSX);
}

// Start-up steps that need memory end, when there is none, as that step's own failure
// would: the library unbound, the default options, the console untitled.
bool BindAudioLibrary() {
  try {
    return LoadAudioLibrary(ProgramDirectory());
  } catch (const std::bad_alloc&) {
    return false;
  }
}

Options ReadCommandLine(int argc, char** argv) {
  try {
    return ReadOptions(std::vector<std::string>(argv, argv + argc));
  } catch (const std::bad_alloc&) {
    return Options{};
  }
}

void TitleConsole(const PlayerState& player) {
  try {
    SetConsoleTitleA(ConsoleTitle(player.host, player.latestSong).c_str());
  } catch (const std::bad_alloc&) {
  }
}

void SaveConsole(Session& s) {
  GetConsoleTitleA(s.saved.title, sizeof(s.saved.title) - 1);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(s.out, &info);
  s.saved.attribute = info.wAttributes;
}

// The console's window keeps its shape while the player runs: no maximize box, no
// sizing border, Close greyed, and the system menu's tail removed.
void LockWindowShape(Session& s) {
  HWND window = static_cast<HWND>(Player().consoleWindow);
  s.systemMenu = GetSystemMenu(window, FALSE);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  SetWindowLongA(window, GWL_STYLE, style & ~(WS_MAXIMIZEBOX | WS_SIZEBOX));
  EnableMenuItem(s.systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
  for (int i = 0; i < 5; ++i) {
    DeleteMenu(s.systemMenu, GetMenuItemCount(s.systemMenu) - 1, MF_BYPOSITION);
  }
}

void RestoreConsole(const Session& s) {
  SetConsoleMode(s.in, s.saved.inputMode);
  HWND window = static_cast<HWND>(Player().consoleWindow);
  LONG style = GetWindowLongA(window, GWL_STYLE);
  SetWindowLongA(window, GWL_STYLE, style | WS_MAXIMIZEBOX | WS_SIZEBOX);
  EnableMenuItem(s.systemMenu, SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
  SetConsoleTextAttribute(s.out, s.saved.attribute);
  SetConsoleTitleA(s.saved.title);
}

void ClearScreen() { console::RunCommand("Cls"); }

}  // namespace

int RunTuner(int argc, char** argv) {
  Session s;
  PlayerState& player = Player();
  const TargetSettings& target = Target();

  // 1. Windows 7 or later.
  s.buildNumber = QueryBuildNumber();
  if (!IsSupportedBuild(s.buildNumber)) {
    Fail("This operating system is NOT supported! Win7+ is required!", 0);
  }
  // A terminal's pseudo console has no window for the player's set-up to act on: alone on
  // one, the program starts anew in a classic console window and ends here, saying nothing.
  if (RestartedInClassicConsole()) ExitProcess(0);
  // 2. The program's own values.
  player.creditBanner = kCreditBanner;
  player.host = target.site.host;
  player.textColour = target.textColour;
  player.backColour = target.backColour;
  // 3. One seed per run.
  SeedSongRandom(static_cast<std::uint32_t>(GetTickCount()) ^
                 static_cast<std::uint32_t>(std::time(nullptr)));
  // 4. GDI+ for the logo.
  if (!StartGdiPlus()) Fail(nullptr, 4);
  // 5. DPI awareness, before the DPI is read.
  EnableDpiAwareness();
  // 6.-8. Console, input mode, DPI.
  TakeConsole(s);
  s.dpi = ReadConsoleDpi();
  // 9. WinHTTP.
  console::PrintLine("Initializing WinHTTP...");
  if (!LoadWinHttp()) Fail("Unable To initialize Winhttp.dll! Exiting...", 1);
  // 10. The audio library.
  console::PrintLine("Initializing Bass.dll...");
  if (!BindAudioLibrary()) Fail("Unable To initialize Bass.dll! Exiting...", 2);
  // 11. The shared session (song pages and copies each connect on it) and the newest number.
  console::PrintLine("Getting latest song number...");
  OpenSharedSession();
  player.latestSong = FetchLatestSongNumber();
  if (player.latestSong == 0) Fail("Unable To Get latest song number! Exiting...", 3);
  // 12.-13. Options and the starting song number.
  const Options options = ReadCommandLine(argc, argv);
  player.playOrder = options.playOrder;
  player.levelMeter = options.levelMeter;
  player.songNumber = StartingSongNumber(player.playOrder, player.latestSong);
  // 14. The audio library on the default device; a failure shows as songs that never open.
  audio::Init();
  // 15.-16. Save the console, then title it.
  s.shape = SaveConsoleShape();
  SaveConsole(s);
  TitleConsole(player);
  // 17. The layout the logo's placement rests on, the player's font and size.
  s.layout = ComputeConsoleLayout(s.buildNumber, s.dpi);
  ShapeConsole(s.shape, s.layout.fontWidth, s.layout.fontHeight);
  // 18. Lock the window's shape.
  LockWindowShape(s);
  // 19.-20. Default colours on a clear screen.
  console::SetColours(player.textColour, player.backColour);
  ClearScreen();
  // From here the screen has its layout: a message (a failed request) goes to the row
  // below the banner instead of scrolling the screen.
  player.statusRow = ScreenRows{}.status;
  TakeScreen();
  if (target.printsConnectingNotice) ShowNotice("Please wait while connecting to a song...");
  // 21.-22. The first song; the loop keeps its own state from here.
  const HSTREAM firstSong = StartSong();
  ShowScreenNow();
  // 23.-24. The logo, then its window thread.
  PrepareLogo(s.layout.pixelWidth, s.layout.pixelHeight);
  StartLogoWindowThread();
  // 25. Let the screen settle.
  if (!KeyWaiting()) Sleep(100);
  // 26.
  const HSTREAM lastSong = RunPlayerLoop(firstSong);

  // Shutdown.
  CloseLogoWindow();
  audio::ChannelStop(lastSong);
  audio::StreamFree(lastSong);
  audio::Free();
  UnloadAudioLibrary();
  AbandonDownload();
  CloseSharedSession();
  UnloadWinHttp();
  // The logo's bitmaps and GDI+ go only once its thread has ended.
  if (ReleaseLogo()) StopGdiPlus();
  RestoreConsole(s);
  RestoreConsoleShape(s.shape);
  ClearScreen();
  console::PrintLine("Bye....");
  FreeConsole();
  ExitProcess(0);
}
