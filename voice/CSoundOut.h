#pragma once
// 16-bit PCM through DirectSound: one device, its primary buffer and looping secondary buffers
// (id 0 in the capture format, then one per speaking peer), kept padded with silence by a
// playback thread of its own so that the play cursor never replays stale sound.
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstdint>
#include <thread>

class CSoundOut {
public:
    // The stop event and one notification event per buffer share one wait, which takes at most
    // MAXIMUM_WAIT_OBJECTS handles: a larger "MaxNumSecBuffer" counts as this.
    static constexpr uint32_t MAX_BUFFERS = MAXIMUM_WAIT_OBJECTS - 1;

    explicit CSoundOut(HWND window);
    virtual ~CSoundOut();
    CSoundOut(const CSoundOut&) = delete;
    CSoundOut& operator=(const CSoundOut&) = delete;

    HRESULT CreateSecondaryBuffer(int* id, const WAVEFORMATEX* format);
    HRESULT SetData(const void* data, DWORD length, int id);
    HRESULT FillBuffer(const void* data, DWORD length, int id);
    HRESULT FillSilence(DWORD length, int id);

    // A device was created and answered its capabilities; without one nothing plays.
    bool hasDevice() const { return device_ != nullptr; }
    int bufferCount() const { return count_.load(); }
    uint32_t capacity() const { return capacity_; }
    DWORD bufferSize(int id) const { return sizes_[id]; }
    DWORD chunkSize(int id) const { return chunks_[id]; }
    DWORD writePosition(int id) const { return positions_[id]; }
    // Whether buffer id reports itself playing (diagnostics).
    bool isPlaying(int id);

    static const WAVEFORMATEX DEFAULT_FORMAT; // 11025 Hz, 16-bit, mono

    // Where the device comes from in place of DirectSoundCreate; tests give a fake. Null
    // restores DirectSoundCreate.
    using DeviceFactory = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);
    static void setDeviceFactory(DeviceFactory factory);

private:
    void createDevice(HWND window);
    void traceCaps(const DSCAPS& caps);
    bool validId(int id) const;
    HRESULT write(int slot, const void* data, DWORD length);
    HRESULT writeSilence(int slot, DWORD length);
    void run();
    void refill(int id);

    CRITICAL_SECTION lock_;
    uint32_t capacity_;
    DWORD silenceSize_;
    unsigned char* silence_;
    HANDLE* events_;
    HANDLE* waitHandles_; // [0] the stop event, [i + 1] buffer i's notification event
    std::atomic<int> count_{0};
    IDirectSoundBuffer** buffers_;
    DWORD* sizes_;
    DWORD* chunks_;
    DWORD* positions_;
    IDirectSound* device_ = nullptr;
    IDirectSoundBuffer* primary_ = nullptr;
    HANDLE stop_;
    std::thread thread_;
};
