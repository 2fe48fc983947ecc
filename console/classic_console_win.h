#pragma once
// The move into a classic console window at start-up (console/classic_console.h decides).

// Looks at the console; when it is a pseudo console with this process alone on it, starts
// the classic console host with the program's own path and arguments. True when the program
// now runs anew there and this process is to end, printing nothing; false when it stays
// (another console, another process on it, or a host that could not be started).
bool RestartedInClassicConsole();
