// GDI+ (Wine's own) reading the two programs' stored logos.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "logo/gdiplus_win.h"
#include "logo/logo_decoders.h"
#include "logo/logo_record.h"

#include "tests/support/stored_logos.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Pixels = std::vector<std::uint32_t>;  // 0x00RRGGBB, rows top down

// GDI+'s frame dimension of animations, {6AEDBD6D-3FB5-418A-83A6-7F45229DC872}.
constexpr GUID kFrameDimensionTime = {
    0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
constexpr std::uint32_t kBackground = 0xFF123456u;

Bytes StoredBytes(const LogoRecord& record, LogoKind kind) {
  const LogoBytes bytes = DecodeLogo(ReadLogoRecord(record), kind);
  return Bytes(bytes.data, bytes.data + bytes.size);
}

// Image descriptors in a GIF, found by walking its blocks.
int CountGifFrames(const Bytes& gif) {
  std::size_t at = 13;
  if (gif[10] & 0x80) at += 3u << ((gif[10] & 7) + 1);
  int frames = 0;
  auto skipSubBlocks = [&] {
    while (at < gif.size() && gif[at] != 0) at += gif[at] + 1u;
    ++at;
  };
  while (at < gif.size() && gif[at] != 0x3B) {
    if (gif[at] == 0x21) {
      at += 2;
    } else if (gif[at] == 0x2C) {
      ++frames;
      const std::uint8_t flags = gif[at + 9];
      at += 10 + ((flags & 0x80) ? 3u << ((flags & 7) + 1) : 0) + 1;
    } else {
      return -1;
    }
    skipSubBlocks();
  }
  return frames;
}

Pixels ReadPixels(HBITMAP bitmap, int width, int height) {
  Pixels pixels(static_cast<std::size_t>(width) * height);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC dc = CreateCompatibleDC(nullptr);
  GetDIBits(dc, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteDC(dc);
  for (auto& pixel : pixels) pixel &= 0xFFFFFF;
  return pixels;
}

Pixels RenderFrame(GpBitmap* image, const GUID& dimension, UINT frame, std::uint32_t background,
                   int side) {
  if (dimension != GUID{}) SelectFrame(image, dimension, frame);
  HBITMAP bitmap = CreateGdiBitmap(image, background);
  Pixels pixels = ReadPixels(bitmap, side, side);
  DeleteObject(bitmap);
  return pixels;
}

class GdiPlusLogo : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartGdiPlus()); }
  static void TearDownTestSuite() { StopGdiPlus(); }
};

}  // namespace

TEST_F(GdiPlusLogo, ListenTunerLogoIsA64PixelAnimationOfItsGifFrames) {
  const Bytes gif = StoredBytes(ListenTunerLogo(), LogoKind::AnimatedBase128);
  const LogoImage image = CreateBitmapFromBytes(gif.data(), gif.size());
  ASSERT_NE(image.get(), nullptr);
  const ImageSize size = ReadImageSize(image.get());
  EXPECT_EQ(size.width, 64.0f);
  EXPECT_EQ(size.height, 64.0f);
  const UINT dimensions = CountFrameDimensions(image.get());
  ASSERT_GE(dimensions, 1u);
  const GUID first = ReadFirstFrameDimension(image.get(), dimensions);
  EXPECT_EQ(first, kFrameDimensionTime);
  const int framesMade = CountGifFrames(gif);
  EXPECT_GE(framesMade, 2);
  EXPECT_EQ(CountFrames(image.get(), first), static_cast<UINT>(framesMade));
}

TEST_F(GdiPlusLogo, DownloadTunerLogoIs48PixelsWithAlpha) {
  const Bytes png = StoredBytes(DownloadTunerLogo(), LogoKind::StillBase64);
  const LogoImage image = CreateBitmapFromBytes(png.data(), png.size());
  ASSERT_NE(image.get(), nullptr);
  const ImageSize size = ReadImageSize(image.get());
  EXPECT_EQ(size.width, 48.0f);
  EXPECT_EQ(size.height, 48.0f);
  Gdiplus::PixelFormat format = 0;
  Gdiplus::DllExports::GdipGetImagePixelFormat(image.get(), &format);
  EXPECT_EQ(format, PixelFormat32bppARGB);
}

TEST_F(GdiPlusLogo, SeeThroughPixelsOfTheAnimationTakeTheBackgroundColour) {
  const Bytes gif = StoredBytes(ListenTunerLogo(), LogoKind::AnimatedBase128);
  const LogoImage image = CreateBitmapFromBytes(gif.data(), gif.size());
  const GUID dimension = ReadFirstFrameDimension(image.get(), CountFrameDimensions(image.get()));
  for (UINT frame : {0u, 1u}) {
    const Pixels pixels = RenderFrame(image.get(), dimension, frame, kBackground, 64);
    EXPECT_EQ(pixels[0], 0x123456u) << "top-left corner, frame " << frame;
    EXPECT_EQ(pixels[64 * 64 - 1], 0x123456u) << "bottom-right corner, frame " << frame;
    EXPECT_NE(pixels[32 * 64 + 32], 0x123456u) << "the dial, frame " << frame;
  }
}

TEST_F(GdiPlusLogo, TheStillLogosAlphaBlendsOntoTheBackground) {
  const Bytes png = StoredBytes(DownloadTunerLogo(), LogoKind::StillBase64);
  const LogoImage image = CreateBitmapFromBytes(png.data(), png.size());
  const Pixels onBlue = RenderFrame(image.get(), GUID{}, 0, 0xFF0000FFu, 48);
  const Pixels onRed = RenderFrame(image.get(), GUID{}, 0, 0xFFFF0000u, 48);
  EXPECT_EQ(onBlue[0], 0x0000FFu);  // fully see-through corner
  EXPECT_EQ(onRed[0], 0xFF0000u);
  EXPECT_EQ(onBlue[20 * 48 + 24], onRed[20 * 48 + 24]);  // the opaque arrow
  // Somewhere along the badge's soft rim the two backgrounds show through in part.
  int partly = 0;
  for (std::size_t i = 0; i < onBlue.size(); ++i) {
    if (onBlue[i] != onRed[i] && onBlue[i] != 0x0000FFu && onRed[i] != 0xFF0000u) ++partly;
  }
  EXPECT_GT(partly, 20);
}

TEST_F(GdiPlusLogo, EachFrameSelectedLooksDifferentAndTheCountEndsTheList) {
  const Bytes gif = StoredBytes(ListenTunerLogo(), LogoKind::AnimatedBase128);
  const LogoImage image = CreateBitmapFromBytes(gif.data(), gif.size());
  const GUID dimension = ReadFirstFrameDimension(image.get(), CountFrameDimensions(image.get()));
  const UINT count = CountFrames(image.get(), dimension);
  ASSERT_GE(count, 3u);
  const Pixels first = RenderFrame(image.get(), dimension, 0, kBackground, 64);
  const Pixels second = RenderFrame(image.get(), dimension, 1, kBackground, 64);
  const Pixels last = RenderFrame(image.get(), dimension, count - 1, kBackground, 64);
  EXPECT_NE(first, second);
  EXPECT_NE(second, last);
  EXPECT_EQ(RenderFrame(image.get(), dimension, 0, kBackground, 64), first);
  EXPECT_NE(SelectFrame(image.get(), dimension, count), Gdiplus::Ok);
}

TEST_F(GdiPlusLogo, TheImageKeepsItsOwnCopyOfTheBytes) {
  Bytes gif = StoredBytes(ListenTunerLogo(), LogoKind::AnimatedBase128);
  const LogoImage reference = CreateBitmapFromBytes(gif.data(), gif.size());
  LogoImage image = CreateBitmapFromBytes(gif.data(), gif.size());
  // The source goes away, and so does the decoder's buffer; later frames are still read.
  std::fill(gif.begin(), gif.end(), 0);
  gif.clear();
  gif.shrink_to_fit();
  std::int32_t length = 0;
  DecodeBase64("AAAAAAAAAAAA", length);
  const GUID dimension = ReadFirstFrameDimension(image.get(), CountFrameDimensions(image.get()));
  const UINT late = CountFrames(image.get(), dimension) - 1;
  EXPECT_EQ(RenderFrame(image.get(), dimension, late, kBackground, 64),
            RenderFrame(reference.get(), dimension, late, kBackground, 64));
  image.Reset();
  EXPECT_EQ(image.get(), nullptr);
}

TEST_F(GdiPlusLogo, BytesThatAreNoImageGiveNone) {
  const std::uint8_t text[] = "GIF89a, or so it says";
  EXPECT_EQ(CreateBitmapFromBytes(text, sizeof(text)).get(), nullptr);
  EXPECT_EQ(CreateBitmapFromBytes(nullptr, 0).get(), nullptr);
  const Bytes png = StoredBytes(DownloadTunerLogo(), LogoKind::StillBase64);
  EXPECT_EQ(CreateBitmapFromBytes(png.data(), 40).get(), nullptr);  // cut inside IDAT's head
}

TEST_F(GdiPlusLogo, NoImageMeansNoFramesAndNoBitmap) {
  EXPECT_EQ(CountFrameDimensions(nullptr), 0u);
  EXPECT_EQ(ReadFirstFrameDimension(nullptr, 0), GUID{});
  EXPECT_EQ(CreateGdiBitmap(nullptr, kBackground), nullptr);
  const ImageSize size = ReadImageSize(nullptr);
  EXPECT_EQ(size.width, 0.0f);
}
