#pragma once
// The catalogue operations that touch the network.
#include <cstdint>

#include "web/winhttp_binding_win.h"

// Newest song number from the home page (own session and connection); 0 when none.
std::uint16_t FetchLatestSongNumber();

// Requests the song's page on a connection of its own on the shared session, so that its
// redirect lands in audioUrl, which is emptied first; the body is never read.
void CaptureSongRedirect(std::uint16_t songNumber);

void CALLBACK RedirectHandler(HttpHandle handle, DWORD_PTR context, DWORD status, LPVOID info,
                              DWORD length);
