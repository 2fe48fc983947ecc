// Every entry fails the way GDI+ fails before it has been started.
#include <windows.h>

namespace {
constexpr int kGenericError = 1;
constexpr int kGdiplusNotInitialized = 18;
}  // namespace

extern "C" {

__declspec(dllexport) int WINAPI GdiplusStartup(ULONG_PTR* token, const void*, void*) {
  if (token != nullptr) *token = 0;
  return kGenericError;
}
__declspec(dllexport) void WINAPI GdiplusShutdown(ULONG_PTR) {}
__declspec(dllexport) int WINAPI GdipCreateBitmapFromStream(void*, void**) {
  return kGdiplusNotInitialized;
}
__declspec(dllexport) int WINAPI GdipDisposeImage(void*) { return kGdiplusNotInitialized; }
__declspec(dllexport) int WINAPI GdipGetImageDimension(void*, float*, float*) {
  return kGdiplusNotInitialized;
}
__declspec(dllexport) int WINAPI GdipGetImagePixelFormat(void*, int*) {
  return kGdiplusNotInitialized;
}
__declspec(dllexport) int WINAPI GdipImageGetFrameDimensionsCount(void*, UINT*) {
  return kGdiplusNotInitialized;
}
__declspec(dllexport) int WINAPI GdipImageGetFrameDimensionsList(void*, GUID*, UINT) {
  return kGdiplusNotInitialized;
}
__declspec(dllexport) int WINAPI GdipImageGetFrameCount(void*, const GUID*, UINT*) {
  return kGdiplusNotInitialized;
}
__declspec(dllexport) int WINAPI GdipImageSelectActiveFrame(void*, const GUID*, UINT) {
  return kGdiplusNotInitialized;
}
__declspec(dllexport) int WINAPI GdipCreateHBITMAPFromBitmap(void*, HBITMAP*, DWORD) {
  return kGdiplusNotInitialized;
}

}  // extern "C"
