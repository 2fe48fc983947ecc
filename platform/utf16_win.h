#pragma once
// The one conversion between 8-bit texts and UTF-16. `codePage` says what the 8-bit bytes
// mean: the system's ANSI code page unless a caller says otherwise (UTF-8, or the code page
// of a console).
#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

inline std::wstring Widen(std::string_view text, UINT codePage = CP_ACP) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(std::size_t(length > 0 ? length : 0), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

inline std::string Narrow(std::wstring_view text, UINT codePage = CP_ACP) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string narrow(std::size_t(length > 0 ? length : 0), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
}

// The same into a buffer of the caller's, for writers that must not allocate: the number of
// characters written, 0 when the whole text does not fit.
inline std::size_t WidenInto(std::string_view text, wchar_t* out, std::size_t room,
                             UINT codePage = CP_ACP) {
  if (text.empty() || room == 0) return 0;
  const int length =
      MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), out, int(room));
  return std::size_t(length > 0 ? length : 0);
}

inline std::size_t NarrowInto(std::wstring_view text, char* out, std::size_t room,
                              UINT codePage = CP_ACP) {
  if (text.empty() || room == 0) return 0;
  const int length = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), out,
                                         int(room), nullptr, nullptr);
  return std::size_t(length > 0 ? length : 0);
}
