#pragma once
// GDI+ for the logo: the library's start and stop, the image read from memory, and the
// few flat calls the logo window and its animation need.
#include <windows.h>
// IStream, which the lean windows.h leaves out.
#include <objidl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

// GDI+'s headers use min and max, which NOMINMAX takes away from windows.h.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "platform/owners_win.h"

using GpBitmap = Gdiplus::GpBitmap;

// Starts GDI+ (version 1, no callbacks) and keeps its token; true when it started.
bool StartGdiPlus();
void StopGdiPlus();

// A GDI+ bitmap read from a private copy of its file, which GDI+ goes on reading (frame by
// frame) for as long as the bitmap lives; the copy is freed only after the bitmap is
// disposed. Main thread owns it; the window thread may use it while the owner lives.
class LogoImage {
 public:
  LogoImage() = default;
  LogoImage(GpBitmap* bitmap, GlobalMemory memory)
      : memory_(std::move(memory)), bitmap_(bitmap) {}

  GpBitmap* get() const { return bitmap_.get(); }
  void Reset();

 private:
  // Declared in this order so that the bitmap is disposed of before its copy is freed.
  GlobalMemory memory_;
  Owned<ClosedBy<GpBitmap*, &Gdiplus::DllExports::GdipDisposeImage>> bitmap_;
};

// The bitmap GDI+ reads from bytes, or an empty image when it cannot read one.
LogoImage CreateBitmapFromBytes(const std::uint8_t* bytes, std::size_t length);

struct ImageSize {
  float width = 0.0f;
  float height = 0.0f;
};
ImageSize ReadImageSize(GpBitmap* bitmap);

// Frame access; failures give 0 or an all-zero GUID.
UINT CountFrameDimensions(GpBitmap* bitmap);
GUID ReadFirstFrameDimension(GpBitmap* bitmap, UINT count);
UINT CountFrames(GpBitmap* bitmap, const GUID& dimension);
Gdiplus::GpStatus SelectFrame(GpBitmap* bitmap, const GUID& dimension, UINT index);

// A GDI bitmap of the active frame, see-through pixels laid on background (ARGB);
// nullptr on failure. The caller deletes it.
HBITMAP CreateGdiBitmap(GpBitmap* bitmap, std::uint32_t background);
