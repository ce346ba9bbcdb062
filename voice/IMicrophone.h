#pragma once
// What the capture master needs of its microphone: the voiced stream, its two events, start
// and stop. Reference-counted like the COM faces that the microphone also presents.
#include <unknwn.h>

struct IMicrophone : public IUnknown {
    virtual HRESULT VoiceDataAvailable(DWORD* bytes, BOOL* end) = 0;
    virtual HRESULT VoiceDataGet(void* buffer, DWORD size, DWORD* got) = 0;
    virtual HANDLE dataEvent() const = 0;      // set whenever voiced sound was added
    virtual HANDLE speechEndEvent() const = 0; // set when speech ends
    virtual HRESULT StartRecording() = 0;
    virtual HRESULT StopRecording() = 0;
};
