/* The control of the planting scenario: a program that imports WINMM and COMCTL32 the ordinary,
 * static way. Run beside the planted DLLs it must load them (their marks appear), which proves the
 * set-up would catch an updater that loads them. It never calls what it imports, so the planted
 * DLLs need export nothing. */
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <commctrl.h>
// clang-format on

int main(int argc, char** argv) {
    (void)argv;
    if (argc > 99) { /* never: only the imports matter */
        InitCommonControls();
        return (int)midiOutGetNumDevs();
    }
    return 0;
}
