#include "logo/gdiplus_win.h"

#include <cstring>
#include <utility>
#include <vector>

namespace gdip = Gdiplus::DllExports;

namespace {

ULONG_PTR gdiPlusToken = 0;

// The stream's own reference is dropped once GDI+ holds its own.
struct StreamReference {
  IStream* stream = nullptr;
  ~StreamReference() {
    if (stream != nullptr) stream->Release();
  }
};

}  // namespace

bool StartGdiPlus() {
  Gdiplus::GdiplusStartupInput input;
  input.GdiplusVersion = 1;
  input.DebugEventCallback = nullptr;
  input.SuppressBackgroundThread = FALSE;
  input.SuppressExternalCodecs = FALSE;
  return Gdiplus::GdiplusStartup(&gdiPlusToken, &input, nullptr) == Gdiplus::Ok;
}

void StopGdiPlus() {
  if (gdiPlusToken == 0) return;
  Gdiplus::GdiplusShutdown(gdiPlusToken);
  gdiPlusToken = 0;
}

LogoImage& LogoImage::operator=(LogoImage&& other) noexcept {
  if (this != &other) {
    Reset();
    bitmap_ = std::exchange(other.bitmap_, nullptr);
    memory_ = std::exchange(other.memory_, nullptr);
  }
  return *this;
}

void LogoImage::Reset() {
  if (bitmap_ != nullptr) gdip::GdipDisposeImage(bitmap_);
  if (memory_ != nullptr) GlobalFree(memory_);
  bitmap_ = nullptr;
  memory_ = nullptr;
}

LogoImage CreateBitmapFromBytes(const std::uint8_t* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) return {};
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, length);
  if (memory == nullptr) return {};
  if (void* target = GlobalLock(memory)) {
    std::memcpy(target, bytes, length);
    GlobalUnlock(memory);
  }
  StreamReference reference;
  // The block stays ours (no delete on release): the image owner frees it after disposal.
  CreateStreamOnHGlobal(memory, FALSE, &reference.stream);
  GpBitmap* bitmap = nullptr;
  if (reference.stream != nullptr) gdip::GdipCreateBitmapFromStream(reference.stream, &bitmap);
  if (bitmap == nullptr) {
    GlobalFree(memory);
    return {};
  }
  return LogoImage(bitmap, memory);
}

ImageSize ReadImageSize(GpBitmap* bitmap) {
  ImageSize size;
  if (bitmap != nullptr) gdip::GdipGetImageDimension(bitmap, &size.width, &size.height);
  return size;
}

UINT CountFrameDimensions(GpBitmap* bitmap) {
  UINT count = 0;
  gdip::GdipImageGetFrameDimensionsCount(bitmap, &count);
  return count;
}

GUID ReadFirstFrameDimension(GpBitmap* bitmap, UINT count) {
  if (count == 0) return GUID{};
  std::vector<GUID> dimensions(count, GUID{});
  gdip::GdipImageGetFrameDimensionsList(bitmap, dimensions.data(), count);
  return dimensions.front();
}

UINT CountFrames(GpBitmap* bitmap, const GUID& dimension) {
  UINT count = 0;
  gdip::GdipImageGetFrameCount(bitmap, &dimension, &count);
  return count;
}

Gdiplus::GpStatus SelectFrame(GpBitmap* bitmap, const GUID& dimension, UINT index) {
  return gdip::GdipImageSelectActiveFrame(bitmap, &dimension, index);
}

HBITMAP CreateGdiBitmap(GpBitmap* bitmap, std::uint32_t background) {
  HBITMAP result = nullptr;
  if (bitmap != nullptr) gdip::GdipCreateHBITMAPFromBitmap(bitmap, &result, background);
  return result;
}
