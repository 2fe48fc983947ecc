#pragma once
// What differs between the two programs. Shared code reads this object; it never asks
// which program it is.
#include <cstdint>
#include <string>

#include "web/site_settings.h"

enum class LogoKind : std::uint8_t { AnimatedBase128, StillBase64 };

struct TargetSettings {
  SiteSettings site;
  std::uint8_t textColour;
  std::uint8_t backColour;
  bool printsConnectingNotice;  // "Please wait while connecting to a song..."
  bool wideConsoleText;         // console texts written as UTF-16 rather than 8-bit
  LogoKind logoKind;
  double logoPlacementFactor;
  std::uint32_t logoWindowExStyle;
};

// Defined by each program in targets/<name>/settings.cpp.
const TargetSettings& Target();

inline constexpr const char* kCreditBanner =
    "Zorvathimelle Tuner - endless catalogue radio - v0.48 build 2021-04-08 beta ";
