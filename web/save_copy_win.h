#pragma once
// Saving a copy of the current song: on "d" the song's address is fetched once more over
// HTTPS on a thread of its own, collected in memory and written into the folder named after
// the host beside the program, while playback goes on.

// Main thread, on "d": makes sure the save folder exists, then starts a copy of the current
// song unless one is running or the song cannot be saved (no stream, no usable size or
// name). Silent either way.
void StartDownload();

// Main thread, once per pass of the player loop: once a copy has finished, lets its thread
// go and tells the screen, whose "Downloading..." then goes; "d" works again.
void PollDownload();

// Main thread, at quit, before the shared connection is closed and WinHTTP unloaded: a copy
// still being fetched is given up. It writes no file (it never writes to the console), and
// it keeps WinHTTP loaded for its own calls until it ends with the process.
void AbandonDownload();
