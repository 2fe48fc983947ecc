#include "app/keys.h"

bool IsQuitKey(const std::string& key) { return key == "\x1b" || key == "q"; }
