#pragma once
#include <string>

// ASCII upper case; other bytes are left alone (verbs and versions are ASCII).
std::string ToUpperAscii(std::string text);
