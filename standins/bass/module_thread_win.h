#pragma once
// Threads that keep this library loaded while they run. Each takes a reference on the
// module before it starts and gives it back as its very last act (FreeLibraryAndExitThread),
// so a program that frees the library while one still runs never leaves it running in
// unmapped code: the library is unloaded only when the last of them has ended.
#include <functional>

// What a thread's body returns: whether the thread may give its reference back. A body
// that cannot be sure nothing will call into the library again keeps it, and the library
// then stays loaded for the rest of the process.
enum class ModuleRelease { Release, Keep };

// Starts `body` on such a thread; false, with nothing started, when no thread could be
// made. An exception that leaves `body` ends the thread as Release.
bool StartModuleThread(std::function<ModuleRelease()> body);
