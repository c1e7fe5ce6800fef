// WINMM as the host stand-in offers it: MIDI output and input ports.
#pragma once

#include "platform/host/api/types.h"

using MMRESULT = UINT;
using MMVERSION = UINT;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALPARAM 11
#define MIDIERR_UNPREPARED 64
#define MIDIERR_STILLPLAYING 65
#define MIDIERR_NOTREADY 67

#define CALLBACK_EVENT 0x00050000u

#define MHDR_DONE 0x00000001u
#define MHDR_PREPARED 0x00000002u
#define MHDR_INQUEUE 0x00000004u

struct MIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[32];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};
using LPMIDIOUTCAPSA = MIDIOUTCAPSA*;

struct MIDIINCAPSA {
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    CHAR szPname[32];
    DWORD dwSupport;
};
using LPMIDIINCAPSA = MIDIINCAPSA*;

struct MIDIHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    MIDIHDR* lpNext;
    DWORD_PTR reserved;
    DWORD dwOffset;
    DWORD_PTR dwReserved[8];
};
using LPMIDIHDR = MIDIHDR*;

UINT WINAPI midiOutGetNumDevs();
MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR deviceId, LPMIDIOUTCAPSA caps, UINT capsSize);
UINT WINAPI midiInGetNumDevs();
MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR deviceId, LPMIDIINCAPSA caps, UINT capsSize);
MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT deviceId, DWORD_PTR callback, DWORD_PTR instance,
                            DWORD flags);
MMRESULT WINAPI midiOutClose(HMIDIOUT handle);
MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT headerSize);
MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT headerSize);
MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT headerSize);
MMRESULT WINAPI midiOutShortMsg(HMIDIOUT handle, DWORD message);
MMRESULT WINAPI midiOutReset(HMIDIOUT handle);
