#pragma once
// The receiving half of the voice engine: one shared decoder, and a sound output in which
// every phone member has a buffer of its own, so that several members are heard at once.
#include "CWaveFile.h"

#include <windows.h>
#include <mmsystem.h>

class CHvxc;
class CSoundOut;

class CHvxcOut {
public:
    static const WAVEFORMATEX PLAYBACK_FORMAT; // 8000 Hz, 16-bit, mono

    explicit CHvxcOut(HWND window);
    // decoder: owned; null stands for one that could not be made.
    CHvxcOut(HWND window, CHvxc* decoder);
    virtual ~CHvxcOut();
    CHvxcOut(const CHvxcOut&) = delete;
    CHvxcOut& operator=(const CHvxcOut&) = delete;

    HRESULT AddBuffer(int* id);
    HRESULT SetData(const void* data, DWORD length, int bufferId);

    CSoundOut* soundOut() const { return soundOut_; }

private:
    CWaveFile codecLog_;
    CWaveFile pcmLog_;
    CHvxc* decoder_;
    CSoundOut* soundOut_;
};
