#pragma once
// The program's short sounds: WAVE resources of the program's own module (not the resource
// library), played asynchronously and skipped while the driver is busy; silent while muted.
// No instances: one process-wide mute flag.
#include <windows.h>

class CSoundPlay {
public:
    // The platform's call, in PlaySoundA's form; replaceable so that tests see every call.
    using PlayFunction = BOOL(WINAPI*)(LPCSTR sound, HMODULE module, DWORD flags);

    CSoundPlay() = delete;

    static void setMute(bool mute);
    static bool isMute();
    // Starts WAVE resource id unless muted; returns at once, and the platform's result is not
    // looked at.
    static void Play(int id);
    // The call Play makes from now on (null: the platform's own); the one before.
    static PlayFunction setPlayFunction(PlayFunction play);
};
