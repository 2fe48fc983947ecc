#pragma once
// Collects what the code under test prints to standard output.
#include <windows.h>

#include <string>

class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::string Text() const;

 private:
  HANDLE saved_;
  HANDLE file_;
  std::string path_;
};
