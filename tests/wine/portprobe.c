/* Lists the MIDI output ports, one name per line, then sends one long message to the port named
 * on the command line and waits for the driver to finish it. Proves the driver's plumbing
 * without the updater, and waits for the device to come back after its reboot.
 * Exit: 0 done, 2 no such port, 3 open failed, 4 send failed, 5 time-out. */
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <string.h>
// clang-format on

int main(int argc, char** argv) {
    const char* want = argc > 1 ? argv[1] : "Quadrilux Pro";
    UINT count = midiOutGetNumDevs();
    int found = -1;
    for (UINT i = 0; i < count; ++i) {
        MIDIOUTCAPSA caps;
        MMRESULT r = midiOutGetDevCapsA(i, &caps, sizeof(caps));
        printf("%u %u %s\n", i, r, r == 0 ? caps.szPname : "");
        if (r == 0 && found < 0 && strstr(caps.szPname, want)) found = (int)i;
    }
    fflush(stdout);
    if (found < 0) return 2;
    HANDLE done = CreateEventA(NULL, FALSE, TRUE, NULL);
    HMIDIOUT out = NULL;
    MMRESULT r = midiOutOpen(&out, (UINT)found, (DWORD_PTR)done, 0, CALLBACK_EVENT);
    if (r != 0) {
        printf("open %u\n", r);
        return 3;
    }
    WaitForSingleObject(done, 0);
    static char msg[15] = {(char)0xF0, 0, 0x20, 0x29, 0, 0x71, 0, 0x51, 0, 0, 0, 1, 8, 2, (char)0xF7};
    MIDIHDR h;
    memset(&h, 0, sizeof(h));
    h.lpData = msg;
    h.dwBufferLength = sizeof(msg);
    if (midiOutPrepareHeader(out, &h, sizeof(h)) != 0 || midiOutLongMsg(out, &h, sizeof(h)) != 0) return 4;
    printf("flags after send %lx\n", (unsigned long)h.dwFlags);
    DWORD w = WaitForSingleObject(done, 2000);
    printf("wait %lu flags %lx\n", (unsigned long)w, (unsigned long)h.dwFlags);
    midiOutUnprepareHeader(out, &h, sizeof(h));
    midiOutReset(out);
    midiOutClose(out);
    MIDIOUTCAPSA caps;
    printf("after header: caps %u\n", midiOutGetDevCapsA((UINT)found, &caps, sizeof(caps)));
    /* The device reboots into update mode and comes back under the same name. */
    DWORD start = GetTickCount();
    while (midiOutGetDevCapsA((UINT)found, &caps, sizeof(caps)) != 0 && GetTickCount() - start < 10000)
        Sleep(20);
    printf("back: %s\n", midiOutGetDevCapsA((UINT)found, &caps, sizeof(caps)) == 0 ? caps.szPname : "no");
    fflush(stdout);
    return w == WAIT_OBJECT_0 ? 0 : 5;
}
