#pragma once
// Non-blocking keyboard reading built on PeekConsoleInput/ReadConsoleInput, which see keys
// both on Windows and in a terminal-drawn console (where _kbhit never does).
#include <string>

// The next typed key's text (TextOfKeyEvent): one character for a plain key, two for an
// extended key, empty when no key is waiting. Never waits.
std::string ReadKey();

// True when a typed key is waiting (non-key events are discarded on the way).
bool KeyWaiting();
