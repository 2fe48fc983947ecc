// Start-up without GDI+: the program ends at once with exit code 4 and prints nothing.
// A copy of each program runs beside a gdiplus.dll whose start-up always fails.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

std::string TestsDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

// The copies are named apart so that Wine can be told, for them alone, to take gdiplus.dll
// from their folder (Wine reads its load order per program name; Windows ignores the key,
// and finds the DLL beside the program first anyway).
constexpr char kCopyPrefix[] = "nogdiplus_";

void PreferLocalGdiPlusFor(const std::string& exeName) {
  const std::string key = "Software\\Wine\\AppDefaults\\" + exeName + "\\DllOverrides";
  HKEY overrides = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &overrides, nullptr) == ERROR_SUCCESS) {
    const char native[] = "native";
    RegSetValueExA(overrides, "gdiplus", 0, REG_SZ, reinterpret_cast<const BYTE*>(native),
                   sizeof(native));
    RegCloseKey(overrides);
  }
}

struct ProgramRun {
  DWORD exitCode = STILL_ACTIVE;
  std::string output;
};

ProgramRun RunWithoutGdiPlus(const std::string& program) {
  const std::string folder = TestsDirectory() + "logo_no_gdiplus\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string exeName = kCopyPrefix + program + ".exe";
  const std::string exe = folder + exeName;
  const std::string outputPath = folder + program + ".out";
  EXPECT_TRUE(
      CopyFileA((TestsDirectory() + "..\\bin\\" + program + ".exe").c_str(), exe.c_str(), FALSE))
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
  PreferLocalGdiPlusFor(exeName);
  std::string commandLine = "\"" + exe + "\"";
  ProgramRun run;
  if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                     nullptr, folder.c_str(), &startup, &process)) {
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
