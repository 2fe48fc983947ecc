// Every export is a stub that fails: the binding only looks the names up.
#include <windows.h>

extern "C" {
__declspec(dllexport) DWORD WINAPI Stub0() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub1() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub2() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub3() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub4() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub5() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub6() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub7() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub8() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub9() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub10() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub11() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub12() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub13() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub14() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub15() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub16() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub17() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub18() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub19() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub20() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub21() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub22() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub23() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub24() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub25() { return 0; }
__declspec(dllexport) DWORD WINAPI Stub26() { return 0; }
}
