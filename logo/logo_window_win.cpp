#include "logo/logo_window_win.h"

#include <string>

#include "logo/logo_placement.h"

namespace {

// "RQ GUI", kept in a buffer of ten narrow characters.
constexpr char kClassName[10] = "RQ GUI";
constexpr char kCaption[] = "Zorvathimelle - made by RQ";
constexpr DWORD kWindowStyle = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN;
constexpr DWORD kControlStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SS_BITMAP;  // 0x5400000E
constexpr UINT kShowWithoutActivating = SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_SHOWWINDOW;
constexpr UINT_PTR kAnimationTimer = 1;
constexpr UINT kAnimationPeriodMs = 30;
// The loop rests after every message, so the thread wakes at most about twenty times a
// second however often it is asked to paint.
constexpr DWORD kPauseAfterMessageMs = 50;
// Song start asks the window thread to set the control's image again. Only that thread
// may read the current frame bitmap: a tick there deletes the one before.
constexpr UINT kRefreshMessage = WM_APP + 1;
constexpr UINT kRefreshWaitMs = 1000;
// A handful of turns of the window loop, and more than the 2 s that Wine without a window
// manager spends in SetParent; a thread still running after this is left alone.
constexpr ULONGLONG kCloseWaitMs = 3000;
constexpr DWORD kCloseRetryMs = 100;

bool IsAnimated() { return Logo().settings.kind == LogoKind::AnimatedBase128; }

// Hands the control its image. A control drawn by comctl32 version 6 keeps a copy of a
// bitmap with alpha and hands that copy back on the next change; it is ours to delete,
// unlike the bitmaps we passed in ourselves.
void ShowOnControl(HBITMAP bitmap, HBITMAP shownBefore) {
  HWND control = Logo().logoControl.load();
  if (control == nullptr) return;
  auto returned = reinterpret_cast<HBITMAP>(
      SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  if (returned != nullptr && returned != bitmap && returned != shownBefore) DeleteObject(returned);
}

void ShowCurrentBitmap() {
  HBITMAP current = Logo().logoBitmap.load();
  ShowOnControl(current, current);
}

std::uint32_t SampleBackgroundColour(HWND window) {
  const WindowDc dc = GetWindowDc(window);
  return OpaqueArgb(GetPixel(dc.get(), 0, 0));
}

void RegisterLogoClass() {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = LogoWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kClassName;
  RegisterClassExA(&windowClass);  // a second run in the same process finds it registered
}

void ReadFrameInfo() {
  LogoState& logo = Logo();
  GpBitmap* image = logo.image.get();
  const UINT dimensions = CountFrameDimensions(image);
  logo.frameDimension = ReadFirstFrameDimension(image, dimensions);
  logo.frameCount = CountFrames(image, logo.frameDimension);
}

}  // namespace

LogoState& Logo() {
  static LogoState state;
  return state;
}

bool PrepareLogoWith(const LogoSettings& settings, const LogoRecord& record) {
  LogoState& logo = Logo();
  logo.settings = settings;
  {
    const LogoText text = ReadLogoRecord(record);
    const LogoBytes bytes = DecodeLogo(text, settings.kind);
    logo.image = CreateBitmapFromBytes(bytes.data, bytes.size);
  }
  logo.frameDimension = GUID{};
  logo.frameCount = 0;
  logo.frameIndex = 0;
  if (IsAnimated()) ReadFrameInfo();
  logo.imageSize = ReadImageSize(logo.image.get());
  logo.backgroundColour = SampleBackgroundColour(settings.parentWindow);
  if (!IsAnimated()) logo.logoBitmap = CreateGdiBitmap(logo.image.get(), logo.backgroundColour);
  return logo.image.get() != nullptr;
}

void StartLogoWindowThread() {
  LogoState& logo = Logo();
  logo.thread.reset(CreateThread(nullptr, 0, LogoWindowThread, nullptr, 0, &logo.threadId));
  logo.threadRunning = bool(logo.thread);
}

DWORD WINAPI LogoWindowThread(LPVOID) {
  LogoState& logo = Logo();
  const std::string caption = kCaption;
  MSG message;
  // Make this thread's message queue at once, so that a quit request posted at shutdown
  // is kept even when no window could be made (no display).
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  RegisterLogoClass();

  const LogoSettings& settings = logo.settings;
  const LogoPlacement place =
      PlaceLogo(settings.pixelWidth, settings.pixelHeight, settings.placementFactor,
                logo.imageSize.width, logo.imageSize.height);
  HWND window = CreateWindowExA(settings.windowExStyle, kClassName, caption.c_str(), kWindowStyle,
                                place.x, place.y, place.width, place.height, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  logo.logoWindow = window;
  if (window != nullptr) {
    HWND control = CreateWindowExA(WS_EX_TRANSPARENT, "Static", "", kControlStyle, 0, 0,
                                   place.width, place.height, window, nullptr, nullptr, nullptr);
    logo.logoControl = control;
    // From here the window's position counts in the parent's client area.
    SetParent(window, settings.parentWindow);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, kShowWithoutActivating);
    SetWindowPos(control, HWND_TOPMOST, 0, 0, 0, 0, kShowWithoutActivating);
    if (IsAnimated()) {
      SetTimer(window, kAnimationTimer, kAnimationPeriodMs, AnimationTimerProc);
    } else {
      ShowCurrentBitmap();
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);
    // The keys go to the console, not to the logo.
    SetActiveWindow(settings.parentWindow);
    SetFocus(settings.parentWindow);
    SetForegroundWindow(settings.parentWindow);
  }

  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
    Sleep(kPauseAfterMessageMs);
  }
  // A quit request that came without a close leaves the window to us.
  if (HWND left = logo.logoWindow.load()) {
    KillTimer(left, kAnimationTimer);
    DestroyWindow(left);
  }
  return 0;
}

LRESULT CALLBACK LogoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kRefreshMessage:
      ShowCurrentBitmap();
      return 0;
    case WM_CLOSE:
      // No tick may come after the close: the bitmaps go soon after.
      if (IsAnimated()) KillTimer(window, kAnimationTimer);
      PostQuitMessage(0);
      break;
    case WM_DESTROY:
      Logo().logoWindow = nullptr;
      Logo().logoControl = nullptr;
      break;
    case WM_PAINT:
    case WM_NCPAINT:
      // A still logo is set again on every painting request and the request is left
      // standing, so it comes back on every turn of the loop.
      if (!IsAnimated()) {
        ShowCurrentBitmap();
        return 1;
      }
      break;
    case WM_ERASEBKGND:
      if (!IsAnimated()) {
        ShowCurrentBitmap();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void CALLBACK AnimationTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  LogoState& logo = Logo();
  GpBitmap* image = logo.image.get();
  const UINT index = logo.frameIndex.load();
  SelectFrame(image, logo.frameDimension, index);
  // Delete, make and hand over within this one message: the control is not painted in
  // between, and no more than one frame bitmap exists at a time.
  HBITMAP previous = logo.logoBitmap.exchange(nullptr);
  if (previous != nullptr) DeleteObject(previous);
  HBITMAP frame = CreateGdiBitmap(image, logo.backgroundColour);
  logo.logoBitmap = frame;
  ShowOnControl(frame, previous);
  logo.frameIndex = NextFrameIndex(index, logo.frameCount);
}

void RefreshLogo() {
  HWND window = Logo().logoWindow.load();
  if (window == nullptr) return;
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, kRefreshMessage, 0, 0, SMTO_NORMAL, kRefreshWaitMs, &ignored);
}

bool CloseLogoWindow() {
  LogoState& logo = Logo();
  if (!logo.thread) return !logo.threadRunning;
  const ULONGLONG deadline = GetTickCount64() + kCloseWaitMs;
  bool ended = false;
  do {
    // The window and its timer belong to the window thread, so it is asked to close them
    // itself; without a window (no display) its loop is simply told to end.
    if (HWND window = logo.logoWindow.load()) {
      PostMessageA(window, WM_CLOSE, 0, 0);
    } else {
      PostThreadMessageA(logo.threadId, WM_QUIT, 0, 0);
    }
    ended = WaitForSingleObject(logo.thread.get(), kCloseRetryMs) == WAIT_OBJECT_0;
  } while (!ended && GetTickCount64() < deadline);
  logo.thread.reset();  // a thread still running is left to end by itself
  logo.threadRunning = !ended;
  return ended;
}

bool ReleaseLogo() {
  LogoState& logo = Logo();
  if (logo.threadRunning) return false;
  if (HBITMAP bitmap = logo.logoBitmap.exchange(nullptr)) DeleteObject(bitmap);
  logo.image.Reset();
  logo.frameCount = 0;
  logo.frameIndex = 0;
  return true;
}
