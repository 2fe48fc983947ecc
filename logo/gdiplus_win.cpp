#include "logo/gdiplus_win.h"

#include <cstring>
#include <utility>
#include <vector>

namespace gdip = Gdiplus::DllExports;

namespace {

ULONG_PTR gdiPlusToken = 0;

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

void LogoImage::Reset() {
  bitmap_.reset();
  memory_.reset();
}

LogoImage CreateBitmapFromBytes(const std::uint8_t* bytes, std::size_t length) {
  if (bytes == nullptr || length == 0) return {};
  GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, length));
  if (!memory) return {};
  if (void* target = GlobalLock(memory.get())) {
    std::memcpy(target, bytes, length);
    GlobalUnlock(memory.get());
  }
  // The block stays ours (no delete on release): the image owner frees it after disposal.
  // The stream's own reference is dropped once GDI+ holds its own.
  IStream* stream = nullptr;
  CreateStreamOnHGlobal(memory.get(), FALSE, &stream);
  const ComRef<IStream> streamReference(stream);
  GpBitmap* bitmap = nullptr;
  if (stream != nullptr) gdip::GdipCreateBitmapFromStream(stream, &bitmap);
  if (bitmap == nullptr) return {};
  return LogoImage(bitmap, std::move(memory));
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
