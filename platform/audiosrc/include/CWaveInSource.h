#pragma once
// The audio source over waveIn: 11025 Hz 16-bit mono only, blocks of 50 ms from the default
// input, handed out one block per DataGet.
#include "SpeechAudio.h"

#include <mmsystem.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class CWaveInSource final : public IAudio, public IAudioSource {
public:
    static constexpr DWORD BLOCK_BYTES = 1102; // 50 ms at 22050 bytes per second
    static constexpr int QUEUED_BLOCKS = 8;    // handed to waveIn at once (400 ms)
    // Filled blocks nobody read yet: 2 s (40 blocks, 44080 bytes); past that the oldest goes (a reader that stalls
    // must not grow memory without end).
    static constexpr size_t MAX_WAITING_BLOCKS = 40;

    CWaveInSource();
    CWaveInSource(const CWaveInSource&) = delete;
    CWaveInSource& operator=(const CWaveInSource&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Flush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LevelGet(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LevelSet(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PassNotify(void*, IID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PosnGet(ULONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Claim() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnClaim() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE TotalGet(ULONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ToFileTime(ULONGLONG*, FILETIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WaveFormatGet(AudioBlock*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WaveFormatSet(AudioBlock format) override;

    HRESULT STDMETHODCALLTYPE DataAvailable(DWORD* bytes, BOOL* end) override;
    HRESULT STDMETHODCALLTYPE DataGet(void* buffer, DWORD size, DWORD* got) override;

    // Blocks dropped because the reader fell more than 2 s behind.
    size_t dropped() const { return dropped_.load(); }

private:
    ~CWaveInSource();
    void collect();

    std::atomic<long> refs_{1};
    bool formatSet_ = false;
    HWAVEIN device_ = nullptr;
    HANDLE done_ = nullptr;  // waveIn signals it when a block is filled
    HANDLE quit_ = nullptr;  // ends the collector
    WAVEHDR headers_[QUEUED_BLOCKS];
    std::vector<char> memory_;
    std::thread collector_;
    std::mutex lock_;
    std::deque<std::vector<char>> filled_;
    size_t readInFront_ = 0; // bytes of the front block already handed out
    bool running_ = false;
    std::atomic<size_t> dropped_{0};
};
