#include "console/classic_console.h"

#include "console/console_commands.h"

bool IsPseudoConsole(const ConsoleSeen& seen, bool wineTerminalCounts) {
  if (seen.windowClass == kPseudoConsoleClass) return true;
  return wineTerminalCounts && seen.windowClass == kWineConsoleClass && !seen.windowVisible &&
         !ConsoleHasOwnFont(seen.fontWidth, seen.fontHeight);
}

bool ShouldMoveToClassicConsole(const ConsoleSeen& seen, bool wineTerminalCounts) {
  return IsPseudoConsole(seen, wineTerminalCounts) && seen.processCount == 1;
}

std::u16string_view ArgumentsOf(std::u16string_view commandLine) {
  std::size_t end = 0;
  if (!commandLine.empty() && commandLine.front() == u'"') {
    end = commandLine.find(u'"', 1);
    end = end == std::u16string_view::npos ? commandLine.size() : end + 1;
  } else {
    end = commandLine.find_first_of(u" \t");
    if (end == std::u16string_view::npos) end = commandLine.size();
  }
  const std::size_t arguments = commandLine.find_first_not_of(u" \t", end);
  return arguments == std::u16string_view::npos ? std::u16string_view{}
                                                : commandLine.substr(arguments);
}

std::u16string ClassicConsoleCommandLine(std::u16string_view host, std::u16string_view program,
                                         std::u16string_view arguments) {
  std::u16string line;
  line.reserve(host.size() + program.size() + arguments.size() + 6);
  line.append(u"\"").append(host).append(u"\" \"").append(program).append(u"\"");
  if (!arguments.empty()) line.append(u" ").append(arguments);
  return line;
}

std::u16string ClassicConsoleHostPath(std::u16string_view systemRoot, bool redirected32Bit,
                                      std::u16string_view host) {
  std::u16string path(systemRoot);
  if (!path.empty() && path.back() != u'\\') path += u'\\';
  path += redirected32Bit ? u"Sysnative\\" : u"System32\\";
  return path.append(host);
}

bool MoveToClassicConsole(const ConsoleSeen& seen, bool wineTerminalCounts,
                          std::u16string_view hostPath, std::u16string_view programPath,
                          std::u16string_view commandLine,
                          const std::function<HostStart(const std::u16string&)>& start) {
  if (!ShouldMoveToClassicConsole(seen, wineTerminalCounts)) return false;
  if (hostPath.empty() || programPath.empty()) return false;
  const std::u16string line =
      ClassicConsoleCommandLine(hostPath, programPath, ArgumentsOf(commandLine));
  return start(line) == HostStart::Running;
}
