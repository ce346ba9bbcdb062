#pragma once
// The mixer API calls the volume control makes, as a table: production points at winmm; tests
// put a scripted device in its place (Wine's mixer keeps its value inside the process and never
// sends a change message, so the stereo path and the callback are tested there).
#include <windows.h>
#include <mmsystem.h>

struct MixerFunctions {
    decltype(&mixerGetNumDevs) getNumDevs;
    decltype(&mixerOpen) open;
    decltype(&mixerGetDevCapsA) getDevCaps;
    decltype(&mixerGetLineInfoA) getLineInfo;
    decltype(&mixerGetLineControlsA) getLineControls;
    decltype(&mixerGetControlDetailsA) getControlDetails;
    decltype(&mixerSetControlDetails) setControlDetails;
    decltype(&mixerClose) close;

    static const MixerFunctions& system();
    // The table mixers opened from now on use; null restores the system's.
    static void use(const MixerFunctions* table);
    static const MixerFunctions& current();
};
