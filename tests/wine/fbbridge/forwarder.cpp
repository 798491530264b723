// Test equipment, never shipped: a Windows DLL with no code of its own whose
// exports all forward to the Firebird client bridge, deployed beside it as
// fbclient.dll (the bridge then as fbbridge.dll). Wine, as Windows does, keeps
// the file of a loaded PE image from being overwritten, but not that of a
// Winelib DLL: with this in front, a program under Wine that still holds its
// client library meets what it meets on a site.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
