#pragma once
// Moving into a classic console window. In a terminal's pseudo console (Windows 11 starts
// console programs in a terminal tab by default) the console's window is a hidden stand-in:
// the player's font, its 90 by 9 size, the window lock and the logo window have nothing to
// act on there. The classic console host, started with the program's own command line,
// gives the program a real console window whatever the default terminal is.
#include <functional>
#include <string>
#include <string_view>

// What start-up sees of its console, before it prints anything.
struct ConsoleSeen {
  std::u16string windowClass;  // of the console's window; empty without one
  bool windowVisible = false;
  int fontWidth = 0;  // the console font's cell
  int fontHeight = 0;
  unsigned processCount = 0;  // the processes on the console, this one included
};

// The stand-in window of a pseudo console.
inline constexpr char16_t kPseudoConsoleClass[] = u"PseudoConsoleWindow";
// Wine's console window, drawn by a terminal (hidden, no font) or by wineconsole.
inline constexpr char16_t kWineConsoleClass[] = u"WineConsoleClass";
// The classic console host, in the system folder.
inline constexpr char16_t kClassicConsoleHost[] = u"conhost.exe";

// A pseudo console. With `wineTerminalCounts` (the tests' build under Wine, which has no
// pseudo-console window class of its own) Wine's console in a terminal counts as one too:
// its window hidden, no font of its own.
bool IsPseudoConsole(const ConsoleSeen& seen, bool wineTerminalCounts);

// Only a program alone on its console moves: started from Explorer, a shortcut or Run. One
// started from a shell shares the console with that shell and stays where the user works.
bool ShouldMoveToClassicConsole(const ConsoleSeen& seen, bool wineTerminalCounts);

// What follows the program's name in a command line, exactly as it was written. The name is
// read as Windows reads it: up to the closing quote when it starts with one, else up to the
// first blank or tab.
std::u16string_view ArgumentsOf(std::u16string_view commandLine);

// "<host>" "<program>" <arguments>, the arguments as they were.
std::u16string ClassicConsoleCommandLine(std::u16string_view host, std::u16string_view program,
                                         std::u16string_view arguments);

// %SystemRoot%\System32\<host>. A 32-bit program on 64-bit Windows sees another folder under
// that name, without the host in it; it reaches the real one as "Sysnative".
std::u16string ClassicConsoleHostPath(std::u16string_view systemRoot, bool redirected32Bit,
                                      std::u16string_view host);

// How a start of the host went.
enum class HostStart {
  Failed,       // no process
  EndedAtOnce,  // a process that ended within the watch: no program came of it
  Running,
};

// The move from first to last: decides, starts the host with the command line through
// `start`, and says whether this process is to end now (silently, with exit code 0) because
// the program runs anew in the classic window. When the start fails, it runs on here.
bool MoveToClassicConsole(const ConsoleSeen& seen, bool wineTerminalCounts,
                          std::u16string_view hostPath, std::u16string_view programPath,
                          std::u16string_view commandLine,
                          const std::function<HostStart(const std::u16string&)>& start);
