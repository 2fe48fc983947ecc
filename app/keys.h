#pragma once
#include <string>

// Esc and "q" end the player; letters count in lower case only.
bool IsQuitKey(const std::string& key);
