#pragma once
// A microphone for the capture master's tests: the test feeds voiced bytes and signals; reads
// are counted. And a sink that keeps the packets it is told.
#include "CComMaster.h"
#include "CRingBuffer.h"
#include "IMicrophone.h"
#include "INotifier.h"

#include <atomic>
#include <mutex>
#include <vector>

class FakeMicrophone final : public IMicrophone {
public:
    // Made current for the object's life: capture masters made meanwhile take it.
    FakeMicrophone();
    ~FakeMicrophone();
    FakeMicrophone(const FakeMicrophone&) = delete;
    FakeMicrophone& operator=(const FakeMicrophone&) = delete;

    void feed(const std::vector<unsigned char>& bytes);
    void endSpeech() { SetEvent(speechEnd_); }
    int reads() const { return reads_.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs_); }
    HRESULT VoiceDataAvailable(DWORD* bytes, BOOL* end) override;
    HRESULT VoiceDataGet(void* buffer, DWORD size, DWORD* got) override;
    HANDLE dataEvent() const override { return data_; }
    HANDLE speechEndEvent() const override { return speechEnd_; }
    HRESULT StartRecording() override { return ++starts, S_OK; }
    HRESULT StopRecording() override { return ++stops, S_OK; }

    std::atomic<long> refs_{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};

private:
    CRingBuffer ring_{100001};
    HANDLE data_;
    HANDLE speechEnd_;
    std::atomic<int> reads_{0};
};

class PacketSink : public INotifier {
public:
    void tell(const std::string&) override {}
    void tell(const unsigned char* data, size_t size) override;
    std::vector<std::vector<unsigned char>> packets();
    size_t count();

private:
    std::mutex lock_;
    std::vector<std::vector<unsigned char>> packets_;
};
