/* A DLL planted beside the updater under the name of a system DLL (winmm.dll, comctl32.dll). It
 * exports nothing; if any process loads it, its DllMain leaves "<its own path>.ran" beside it, so
 * the harness can tell whether the planted file ever ran. */
// clang-format off
#include <windows.h>
// clang-format on

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8];
        DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcpyA(path + n, ".ran");
            HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
        }
    }
    return TRUE;
}
