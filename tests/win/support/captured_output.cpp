#include "tests/win/support/captured_output.h"

CapturedOutput::CapturedOutput() : saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {
  char folder[MAX_PATH] = {}, name[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  GetTempFileNameA(folder, "out", 0, name);
  path_ = name;
  file_ = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  SetStdHandle(STD_OUTPUT_HANDLE, file_);
}

CapturedOutput::~CapturedOutput() {
  SetStdHandle(STD_OUTPUT_HANDLE, saved_);
  CloseHandle(file_);
  DeleteFileA(path_.c_str());
}

std::string CapturedOutput::Text() const {
  HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  CloseHandle(reader);
  return text;
}
