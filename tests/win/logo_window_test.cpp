// The logo window run for real under Wine, set into a parent window of this process (Wine
// draws no child whose parent lives in another process). Tests that look at the screen
// need a display (Xvfb) and skip without one; the shutdown tests run either way.
#include <gtest/gtest.h>
#include <winternl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "logo/logo_window_win.h"

#define LOGO_RECORD_ACCESSOR ListenTunerLogoForWindow
#include "targets/listen_tuner/logo_record.cpp"
#undef LOGO_RECORD_ACCESSOR
#define LOGO_RECORD_ACCESSOR DownloadTunerLogoForWindow
#include "targets/download_tuner/logo_record.cpp"
#undef LOGO_RECORD_ACCESSOR

namespace {

using Pixels = std::vector<std::uint32_t>;  // 0x00RRGGBB, rows top down

constexpr COLORREF kParentColour = RGB(128, 0, 0);  // the console's red
constexpr int kParentWidth = 720;
constexpr int kParentHeight = 108;

// The console window stand-in: a window of this process with its own thread pumping its
// messages, as the console host does for the real console window.
class ParentWindow {
 public:
  ParentWindow() {
    std::promise<HWND> made;
    std::future<HWND> window = made.get_future();
    thread_ = std::thread([this, &made] { Run(made); });
    window_ = window.get();
  }
  ~ParentWindow() {
    if (window_ != nullptr) PostMessageA(window_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  HWND get() const { return window_; }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
  }

  void Run(std::promise<HWND>& made) {
    static const ATOM registered = [] {
      WNDCLASSEXA windowClass{};
      windowClass.cbSize = sizeof(windowClass);
      windowClass.lpfnWndProc = Proc;
      windowClass.hInstance = GetModuleHandleA(nullptr);
      windowClass.hbrBackground = CreateSolidBrush(kParentColour);
      windowClass.lpszClassName = "LogoTestParent";
      return RegisterClassExA(&windowClass);
    }();
    (void)registered;
    HWND window = CreateWindowExA(
        0, "LogoTestParent", "console stand-in", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
        kParentWidth, kParentHeight, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr) {
      SetForegroundWindow(window);
      UpdateWindow(window);
    }
    made.set_value(window);
    if (window == nullptr) return;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  std::thread thread_;
  HWND window_ = nullptr;
};

// GDI objects of this process. Wine answers GetGuiResources with 0 but keeps the GDI
// handle table where Windows does (PEB + 0xF8 on x64): 65536 entries of 24 bytes, each
// with its object type in byte 14, zero when the entry is free.
std::size_t GdiObjectCount() {
  if (DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return count;
#ifdef _WIN64
  auto* peb = reinterpret_cast<const std::uint8_t*>(NtCurrentTeb()->ProcessEnvironmentBlock);
  auto* table = *reinterpret_cast<const std::uint8_t* const*>(peb + 0xF8);
  if (table == nullptr) return 0;
  std::size_t count = 0;
  for (std::size_t entry = 0; entry < 0x10000; ++entry) count += table[entry * 24 + 14] != 0;
  return count;
#else
  return 0;
#endif
}

Pixels ReadPixels(HBITMAP bitmap, int width, int height) {
  Pixels pixels(static_cast<std::size_t>(width) * height);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC dc = CreateCompatibleDC(nullptr);
  GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  for (auto& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

// What the screen shows of the window's client area.
Pixels Capture(HWND window) {
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, kParentWidth, kParentHeight);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, kParentWidth, kParentHeight, source, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  Pixels pixels = ReadPixels(bitmap, kParentWidth, kParentHeight);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, source);
  return pixels;
}

Pixels Crop(const Pixels& screen, int x, int y, int width, int height) {
  Pixels out;
  for (int row = y; row < y + height; ++row) {
    for (int column = x; column < x + width; ++column) {
      out.push_back(screen[row * kParentWidth + column]);
    }
  }
  return out;
}

std::string BesideTheTests(const std::string& name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path);
  return directory.substr(0, directory.find_last_of("\\/") + 1) + name;
}

// Keeps a capture as a BMP in the build tree, for a person to look at.
void SaveBmp(const Pixels& pixels, int width, int height, const std::string& name) {
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info = {sizeof(info), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  const DWORD bytes = static_cast<DWORD>(pixels.size() * 4);
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(info);
  file.bfSize = file.bfOffBits + bytes;
  if (FILE* out = std::fopen(BesideTheTests(name).c_str(), "wb")) {
    std::fwrite(&file, sizeof(file), 1, out);
    std::fwrite(&info, sizeof(info), 1, out);
    std::fwrite(pixels.data(), 4, pixels.size(), out);
    std::fclose(out);
  }
}

RECT PlaceInParent(HWND window, HWND parent) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// The window thread has set the logo window into the parent and shown it. (Wine without a
// window manager takes about 2 s over SetParent, waiting for the top-level window to go.)
bool IsSetIntoParent(HWND parent) {
  HWND window = Logo().logoWindow.load();
  return window != nullptr && GetAncestor(window, GA_PARENT) == parent && IsWindowVisible(window);
}

// A run meant to look at the screen sets TUNER_TESTS_NEED_DISPLAY, so that a missing
// display fails it instead of skipping the very tests it is for.
bool DisplayMissing(const ParentWindow& parent) {
  if (parent.get() != nullptr) return false;
  if (std::getenv("TUNER_TESTS_NEED_DISPLAY") != nullptr) ADD_FAILURE() << "no display";
  return true;
}

template <typename Condition>
bool WaitFor(Condition condition, int milliseconds = 3000) {
  for (int waited = 0; waited < milliseconds; waited += 10) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

// Ticks seen from outside, within `milliseconds` or until `enough` were seen: each tick
// moves the frame index on, and the index is looked at every millisecond or so, far more
// often than the ticks come.
int TicksSeen(int milliseconds, int enough = 1 << 30) {
  int seen = 0;
  UINT last = Logo().frameIndex.load();
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (seen < enough && GetTickCount64() < end) {
    Sleep(1);
    const UINT now = Logo().frameIndex.load();
    seen += now != last;
    last = now;
  }
  return seen;
}

LogoSettings ListenSettings(HWND parent) {
  return {parent, kParentWidth, kParentHeight, LogoKind::AnimatedBase128, 1.1, WS_EX_COMPOSITED};
}

LogoSettings DownloadSettings(HWND parent) {
  return {parent, kParentWidth, kParentHeight, LogoKind::StillBase64, 1.15, WS_EX_TRANSPARENT};
}

// Every frame of the animation as GDI+ renders it on the given background.
std::vector<Pixels> AllFrames(std::uint32_t background) {
  const LogoBytes bytes =
      DecodeLogo(ReadLogoRecord(ListenTunerLogoForWindow()), LogoKind::AnimatedBase128);
  const LogoImage image = CreateBitmapFromBytes(bytes.data, bytes.size);
  const GUID dimension = ReadFirstFrameDimension(image.get(), CountFrameDimensions(image.get()));
  std::vector<Pixels> frames;
  for (UINT frame = 0; frame < CountFrames(image.get(), dimension); ++frame) {
    SelectFrame(image.get(), dimension, frame);
    HBITMAP bitmap = CreateGdiBitmap(image.get(), background);
    frames.push_back(ReadPixels(bitmap, 64, 64));
    DeleteObject(bitmap);
  }
  return frames;
}

int FrameShown(const std::vector<Pixels>& frames, const Pixels& logo) {
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i] == logo) return static_cast<int>(i);
  }
  return -1;
}

class LogoWindow : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartGdiPlus()); }
  static void TearDownTestSuite() { StopGdiPlus(); }
  void TearDown() override {
    CloseLogoWindow();
    ReleaseLogo();
    Logo().logoControl = nullptr;
  }
};

}  // namespace

TEST_F(LogoWindow, StillLogoSitsNearTheCornerAndShowsTheParentThroughItsEdges) {
  ParentWindow parent;
  if (DisplayMissing(parent)) GTEST_SKIP() << "no display";
  ASSERT_TRUE(PrepareLogoWith(DownloadSettings(parent.get()), DownloadTunerLogoForWindow()));
  EXPECT_EQ(Logo().backgroundColour, 0xFF800000u);  // sampled from the parent
  StartLogoWindowThread();
  ASSERT_TRUE(WaitFor([&] { return IsSetIntoParent(parent.get()); }, 5000));
  Sleep(200);

  const RECT place = PlaceInParent(Logo().logoWindow, parent.get());
  EXPECT_EQ(place.left, 665);
  EXPECT_EQ(place.top, 53);
  EXPECT_EQ(place.right - place.left, 48);
  EXPECT_EQ(place.bottom - place.top, 48);

  const Pixels screen = Capture(parent.get());
  SaveBmp(screen, kParentWidth, kParentHeight, "logo_window_download_tuner.bmp");
  const Pixels logo = Crop(screen, 665, 53, 48, 48);
  EXPECT_EQ(logo, ReadPixels(Logo().logoBitmap, 48, 48));
  EXPECT_EQ(logo[0], 0x800000u) << "a see-through corner shows the parent's red";
  EXPECT_NE(logo[20 * 48 + 24], 0x800000u) << "the arrow is drawn";
  EXPECT_EQ(screen[80 * kParentWidth + 600], 0x800000u) << "left of the logo";
  EXPECT_EQ(screen[104 * kParentWidth + 716], 0x800000u) << "beyond its bottom-right corner";
  EXPECT_EQ(GetForegroundWindow(), parent.get()) << "the parent keeps the foreground";
}

TEST_F(LogoWindow, AnimatedLogoShowsItsFramesOneAfterAnother) {
  ParentWindow parent;
  if (DisplayMissing(parent)) GTEST_SKIP() << "no display";
  ASSERT_TRUE(PrepareLogoWith(ListenSettings(parent.get()), ListenTunerLogoForWindow()));
  const std::vector<Pixels> frames = AllFrames(Logo().backgroundColour);
  ASSERT_EQ(frames.size(), Logo().frameCount);
  StartLogoWindowThread();
  ASSERT_EQ(TicksSeen(5000, 2), 2);

  const RECT place = PlaceInParent(Logo().logoWindow, parent.get());
  EXPECT_EQ(place.left, 650);
  EXPECT_EQ(place.top, 38);
  EXPECT_EQ(place.right - place.left, 64);

  std::vector<int> shown;
  for (int capture = 0; capture < 60; ++capture) {
    const Pixels screen = Capture(parent.get());
    const int frame = FrameShown(frames, Crop(screen, 650, 38, 64, 64));
    if (frame < 0) SaveBmp(screen, kParentWidth, kParentHeight, "logo_window_unknown_frame.bmp");
    ASSERT_GE(frame, 0) << "capture " << capture << " shows no frame of the logo";
    if (shown.empty() || shown.back() != frame) {
      shown.push_back(frame);
      if (shown.size() <= 3) {
        SaveBmp(screen, kParentWidth, kParentHeight,
                "logo_window_listen_tuner_" + std::to_string(shown.size()) + ".bmp");
      }
    }
    if (capture % 15 == 14) RefreshLogo();  // as every song start does
    Sleep(25);
  }
  ASSERT_GE(shown.size(), 4u) << "the logo should have moved on several frames";
  // The frames run forward, one per tick. A capture delayed by a busy machine may miss a
  // frame, so a step of a few frames passes; a step back or in place never does.
  std::string steps;
  for (std::size_t i = 1; i < shown.size(); ++i) {
    const std::size_t step = (shown[i] + frames.size() - shown[i - 1]) % frames.size();
    steps += " " + std::to_string(step);
    EXPECT_GE(step, 1u) << "step " << i;
    EXPECT_LE(step, 3u) << "step " << i << " from frame " << shown[i - 1] << " to " << shown[i];
  }
  std::printf("frame steps between captures:%s\n", steps.c_str());
  EXPECT_EQ(GetForegroundWindow(), parent.get());
}

TEST_F(LogoWindow, TwoHundredTicksLeaveTheGdiObjectCountAsItWas) {
  // The ticks run here, on a control of a window of this thread, so that nothing else
  // makes or frees GDI objects meanwhile. Without a display there is no control and the
  // ticks still make and delete their bitmaps.
  ParentWindow parent;
  ASSERT_TRUE(PrepareLogoWith(ListenSettings(nullptr), ListenTunerLogoForWindow()));
  HWND control = nullptr;
  if (parent.get() != nullptr) {
    control = CreateWindowExA(0, "Static", "", WS_POPUP | SS_BITMAP, 0, 0, 64, 64, nullptr, nullptr,
                              nullptr, nullptr);
    Logo().logoControl = control;
  }
  const std::size_t before = GdiObjectCount();
  ASSERT_GT(before, 0u) << "cannot count GDI objects here";
  AnimationTimerProc(nullptr, WM_TIMER, 1, 0);
  const std::size_t withOneFrame = GdiObjectCount();
  EXPECT_EQ(withOneFrame, before + 1);
  for (int tick = 0; tick < 200; ++tick) {
    const HBITMAP previous = Logo().logoBitmap;
    AnimationTimerProc(nullptr, WM_TIMER, 1, 0);
    ASSERT_EQ(GetObjectType(previous), 0u) << "tick " << tick << " kept the previous frame";
  }
  EXPECT_EQ(GdiObjectCount(), withOneFrame);
  EXPECT_EQ(Logo().frameIndex.load(), 201u % Logo().frameCount);
  if (control != nullptr) {
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0)),
              Logo().logoBitmap.load());
  }
  Logo().logoControl = nullptr;
  if (control != nullptr) DestroyWindow(control);
  EXPECT_TRUE(ReleaseLogo());
  EXPECT_EQ(GdiObjectCount(), before);
}

TEST_F(LogoWindow, ShutdownEndsTheThreadPromptlyAndNoTickFollows) {
  ParentWindow parent;
  ASSERT_TRUE(PrepareLogoWith(ListenSettings(parent.get()), ListenTunerLogoForWindow()));
  StartLogoWindowThread();
  if (parent.get() != nullptr) {
    ASSERT_EQ(TicksSeen(5000, 2), 2);
  } else {
    Sleep(200);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(CloseLogoWindow());
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("logo window closed in %lld ms (%s)\n", static_cast<long long>(took.count()),
              parent.get() != nullptr ? "with a window" : "no display, no window");
  EXPECT_EQ(Logo().logoWindow.load(), nullptr);
  EXPECT_EQ(TicksSeen(300), 0);
  EXPECT_TRUE(ReleaseLogo());
  EXPECT_EQ(Logo().logoBitmap.load(), nullptr);
  EXPECT_EQ(Logo().image.get(), nullptr);
}

TEST_F(LogoWindow, StillLogoThreadEndsDespiteItsStandingPaintRequests) {
  ParentWindow parent;
  ASSERT_TRUE(PrepareLogoWith(DownloadSettings(parent.get()), DownloadTunerLogoForWindow()));
  StartLogoWindowThread();
  Sleep(300);
  EXPECT_TRUE(CloseLogoWindow());
  EXPECT_TRUE(ReleaseLogo());
}

TEST_F(LogoWindow, ClosingRightAfterTheStartStillEndsTheThread) {
  ParentWindow parent;
  for (auto settings : {ListenSettings(parent.get()), DownloadSettings(parent.get())}) {
    ASSERT_TRUE(PrepareLogoWith(settings, settings.kind == LogoKind::AnimatedBase128
                                              ? ListenTunerLogoForWindow()
                                              : DownloadTunerLogoForWindow()));
    StartLogoWindowThread();
    EXPECT_TRUE(CloseLogoWindow());
    EXPECT_TRUE(ReleaseLogo());
  }
}

TEST_F(LogoWindow, WithoutAThreadOrWindowShutdownAndRefreshDoNothing) {
  RefreshLogo();
  EXPECT_TRUE(CloseLogoWindow());
  EXPECT_TRUE(ReleaseLogo());
}
