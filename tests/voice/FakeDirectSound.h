#pragma once
// A DirectSound device in memory: its buffers note Lock, Unlock, Play, GetStatus and
// SetNotificationPositions; the test moves the play cursor and signals the notifications.
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct FakeBuffer;

class FakeDirectSound {
public:
    // Made current for the object's life: CSoundOut's device factory points at it.
    FakeDirectSound();
    ~FakeDirectSound();
    FakeDirectSound(const FakeDirectSound&) = delete;
    FakeDirectSound& operator=(const FakeDirectSound&) = delete;

    static HRESULT WINAPI create(LPCGUID, LPDIRECTSOUND* device, LPUNKNOWN);

    HRESULT failCreate = S_OK;       // DirectSoundCreate's result
    bool failCaps = false;           // GetCaps fails
    bool failPrimary = false;        // the primary buffer cannot be made
    bool failSecondary = false;      // secondary buffers cannot be made

    // Secondary buffers in the order made (the primary is not among them).
    size_t bufferCount();
    FakeBuffer& buffer(size_t index);
    std::vector<std::string> primaryCalls();
    int liveObjects();

    void note(const std::string& call);
    std::vector<std::string> calls();
    void clearCalls();

    std::mutex lock;
    std::vector<std::shared_ptr<FakeBuffer>> buffers;
    std::vector<std::string> primary;
    std::vector<std::string> journal;
    int live = 0;
};

// One buffer's state; calls are noted in its own list (and DirectSound's journal).
struct FakeBuffer {
    std::vector<unsigned char> memory;
    WAVEFORMATEX format{};
    DWORD flags = 0;
    DWORD play = 0;
    bool playing = false;
    bool looping = false;
    HRESULT lockResult = S_OK;
    std::vector<DSBPOSITIONNOTIFY> notes;
    std::vector<std::string> calls;

    // Under the device's lock.
    std::vector<std::string> callsNamed(FakeDirectSound& ds, const std::string& prefix);
    void setPlay(FakeDirectSound& ds, DWORD position);
    void stop(FakeDirectSound& ds);
    void notify() { SetEvent(notes.at(0).hEventNotify); }
};
