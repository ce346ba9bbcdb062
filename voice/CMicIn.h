#pragma once
// The microphone: reads 11025 Hz 16-bit mono PCM from the speech API's audio source on a
// capture thread of its own and passes on only what sounds like speech, with a little of the
// sound from just before it (pre-roll). Presents the audio source's own interfaces too.
#include "CRingBuffer.h"
#include "CWaveFile.h"
#include "IMicrophone.h"
#include "SpeechAudio.h"

#include <atomic>
#include <cstdint>
#include <thread>

class CComMaster;

class CMicIn final : public IAudioSource, public IAudio, public IMicrophone {
public:
    static constexpr DWORD RING_SIZE = 10001;      // holds 10000 bytes
    static constexpr DWORD READ_SIZE = 22050;      // one second per read
    static constexpr DWORD CALIBRATION_BYTES = 220; // 10 ms
    static constexpr uint32_t SPEECH_RATIO = 100;  // speech when level / baseline > 100
    static constexpr int HANG_OVER = 20;           // quiet chunks still sent
    static constexpr DWORD PRE_ROLL_BYTES = 440;   // 220 samples

    CMicIn();
    CMicIn(const CMicIn&) = delete;
    CMicIn& operator=(const CMicIn&) = delete;

    HRESULT CreateAudioSource();
    void SetOwner(CComMaster* owner) { owner_ = owner; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IAudioSource: answered from the interface ring, which nothing writes.
    HRESULT STDMETHODCALLTYPE DataAvailable(DWORD* bytes, BOOL* end) override;
    HRESULT STDMETHODCALLTYPE DataGet(void* buffer, DWORD size, DWORD* got) override;

    // IAudio: Start and Stop are ours; the rest goes to the source's IAudio.
    HRESULT STDMETHODCALLTYPE Flush() override;
    HRESULT STDMETHODCALLTYPE LevelGet(DWORD* level) override;
    HRESULT STDMETHODCALLTYPE LevelSet(DWORD level) override;
    HRESULT STDMETHODCALLTYPE PassNotify(void* sink, IID sinkInterface) override;
    HRESULT STDMETHODCALLTYPE PosnGet(ULONGLONG* position) override;
    HRESULT STDMETHODCALLTYPE Claim() override;
    HRESULT STDMETHODCALLTYPE UnClaim() override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE TotalGet(ULONGLONG* total) override;
    HRESULT STDMETHODCALLTYPE ToFileTime(ULONGLONG* position, FILETIME* time) override;
    HRESULT STDMETHODCALLTYPE WaveFormatGet(AudioBlock* format) override;
    HRESULT STDMETHODCALLTYPE WaveFormatSet(AudioBlock format) override;

    // IMicrophone: the voiced ring and the events, for the capture master.
    HRESULT VoiceDataAvailable(DWORD* bytes, BOOL* end) override;
    HRESULT VoiceDataGet(void* buffer, DWORD size, DWORD* got) override;
    HANDLE dataEvent() const override { return dataEvent_; }
    HANDLE speechEndEvent() const override { return speechEnd_; }
    HRESULT StartRecording() override { return Start(); }
    HRESULT StopRecording() override { return Stop(); }

    // The detector, one chunk at a time (the capture thread's step; tests call it directly).
    void detect(const unsigned char* chunk, DWORD length);
    uint32_t baseline() const { return baseline_; }
    bool calibrated() const { return calibrated_; }
    bool speaking() const { return speaking_; }
    DWORD preRollHeld() { return preRoll_.available(); }

private:
    ~CMicIn();
    void run();

    CWaveFile debugLog_;
    HANDLE speechEnd_;
    HANDLE dataEvent_;
    HANDLE stop_;
    CRingBuffer interfaceRing_{RING_SIZE};
    CRingBuffer voiced_{RING_SIZE};
    CRingBuffer preRoll_{RING_SIZE};
    std::thread thread_;
    CComMaster* owner_ = nullptr;
    IUnknown* device_ = nullptr;
    IAudio* audio_ = nullptr;
    IAudioSource* source_ = nullptr;
    std::atomic<long> refs_{0};

    // Detector state, kept per object.
    uint32_t baseline_ = 0;
    bool calibrated_ = false;
    bool speaking_ = false;
    int quiet_ = 0;
    unsigned char collector_[CALIBRATION_BYTES] = {};
    DWORD collected_ = 0;
};
