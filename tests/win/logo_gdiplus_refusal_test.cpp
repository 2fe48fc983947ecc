// Start-up without GDI+: the program ends at once with exit code 4 and prints nothing.
// A copy of each program runs beside a gdiplus.dll whose start-up always fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string TestsDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

// The current environment with Wine told to take gdiplus.dll from the program's folder.
std::vector<char> EnvironmentPreferringOurGdiPlus() {
  std::vector<char> block;
  LPCH current = GetEnvironmentStringsA();
  for (const char* entry = current; *entry != '\0'; entry += strlen(entry) + 1) {
    if (_strnicmp(entry, "WINEDLLOVERRIDES=", 17) == 0) continue;
    block.insert(block.end(), entry, entry + strlen(entry) + 1);
  }
  FreeEnvironmentStringsA(current);
  const std::string overrides = "WINEDLLOVERRIDES=gdiplus=n;mscoree,mshtml=";
  block.insert(block.end(), overrides.c_str(), overrides.c_str() + overrides.size() + 1);
  block.push_back('\0');
  return block;
}

struct ProgramRun {
  DWORD exitCode = STILL_ACTIVE;
  std::string output;
};

ProgramRun RunWithoutGdiPlus(const std::string& program) {
  const std::string folder = TestsDirectory() + "logo_no_gdiplus\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string exe = folder + program + ".exe";
  const std::string outputPath = folder + program + ".out";
  EXPECT_TRUE(CopyFileA((TestsDirectory() + "..\\bin\\" + program + ".exe").c_str(), exe.c_str(),
                        FALSE))
      << program << " is not built";
  EXPECT_TRUE(CopyFileA((TestsDirectory() + "gdiplus_refusing.dll").c_str(),
                        (folder + "gdiplus.dll").c_str(), FALSE));

  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  std::vector<char> environment = EnvironmentPreferringOurGdiPlus();
  std::string commandLine = "\"" + exe + "\"";
  ProgramRun run;
  if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                     environment.data(), folder.c_str(), &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 99);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(output);
  HANDLE input = CreateFileA(outputPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  char buffer[512];
  DWORD got = 0;
  if (ReadFile(input, buffer, sizeof(buffer), &got, nullptr)) run.output.assign(buffer, got);
  CloseHandle(input);
  return run;
}

}  // namespace

TEST(LogoStartup, WithoutGdiPlusBothProgramsEndWithCode4AndNoMessage) {
  for (const char* program : {"listen_tuner", "download_tuner"}) {
    SCOPED_TRACE(program);
    const ProgramRun run = RunWithoutGdiPlus(program);
    EXPECT_EQ(run.exitCode, 4u);
    EXPECT_EQ(run.output, "");
  }
}
