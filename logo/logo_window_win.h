#pragma once
// The logo window: a borderless window on a thread of its own, set into the console
// window, showing the logo through a static control and, for an animated logo, stepping
// through its frames on a timer.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "app/target_settings.h"
#include "logo/gdiplus_win.h"
#include "logo/logo_record.h"
#include "platform/owners_win.h"

// What the start-up decides before the window thread starts.
struct LogoSettings {
  HWND parentWindow = nullptr;  // the console window; tests give a window of their own
  std::uint16_t pixelWidth = 720;
  std::uint16_t pixelHeight = 108;
  LogoKind kind = LogoKind::StillBase64;
  double placementFactor = 1.15;
  DWORD windowExStyle = 0;
};

// Process-wide logo values. The inputs are written by the main thread before the window
// thread starts and not touched again until that thread has ended; the rest says who
// writes it.
struct LogoState {
  LogoSettings settings;
  LogoImage image;
  ImageSize imageSize;
  std::uint32_t backgroundColour = 0xFF000000u;  // opaque ARGB
  GUID frameDimension{};
  UINT frameCount = 0;

  std::atomic<UINT> frameIndex{0};           // window thread (ticks)
  std::atomic<HBITMAP> logoBitmap{nullptr};  // start-up (still) or window thread (ticks)
  std::atomic<HWND> logoWindow{nullptr};     // window thread
  std::atomic<HWND> logoControl{nullptr};    // window thread

  ThreadHandle thread;  // main thread
  DWORD threadId = 0;
  bool threadRunning = false;
};

LogoState& Logo();

// Start-up, main thread: decodes the record into the logo image and reads what the window
// thread needs (frames, size, the background sampled from the parent's top-left pixel,
// and for a still logo its one GDI bitmap). False when GDI+ could not read the image;
// the window then shows nothing.
bool PrepareLogoWith(const LogoSettings& settings, const LogoRecord& record);

// Starts LogoWindowThread; the thread is not waited for.
void StartLogoWindowThread();
DWORD WINAPI LogoWindowThread(LPVOID unused);
LRESULT CALLBACK LogoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void CALLBACK AnimationTimerProc(HWND window, UINT message, UINT_PTR timer, DWORD time);

// Song start, main thread: has the window thread hand its control the current bitmap
// again. Does nothing before the window exists.
void RefreshLogo();

// Shutdown step 1: the window thread stops the timer, destroys the window and ends. True
// once the thread has ended (or never ran); false if it did not end within a short wait.
bool CloseLogoWindow();

// Shutdown step 4: deletes the last bitmap and disposes the image. Refuses (false) while
// the window thread might still run a tick; the caller then leaves GDI+ running too.
bool ReleaseLogo();
