#pragma once
// The sending half of the voice engine: cuts the microphone's voiced stream into chunks of
// 1/"ComBufChunk" second, encodes each to GSM 6.10 and hands it to the sink as a voice packet.
#include "CHvxc.h"
#include "CWaveFile.h"

#include <windows.h>

#include <cstddef>
#include <thread>
#include <vector>

struct IMicrophone;
class INotifier;
class CSoundOut;

class CComMaster {
public:
    // "test user" and an empty second text around the codec bytes.
    static std::vector<unsigned char> buildPacket(const unsigned char* data, size_t length);

    CComMaster();
    virtual ~CComMaster();
    CComMaster(const CComMaster&) = delete;
    CComMaster& operator=(const CComMaster&) = delete;

    // Opens the encoder and starts the capture thread.
    HRESULT Init(INotifier* sink, CSoundOut* localOutput);
    HRESULT RecordSwitch(bool on);
    // Called by the microphone when speech ends: nothing to do here.
    void OnSpeechEnd() {}

    // Where the microphone comes from; tests give a scripted one. Null restores ours (CMicIn
    // over the speech API's audio source). The result carries one reference for the caller.
    using MicrophoneFactory = IMicrophone* (*)(CComMaster* owner);
    static void setMicrophoneFactory(MicrophoneFactory factory);

private:
    void run();
    HRESULT encodeChunk(const unsigned char* pcm, size_t length);
    void flush();

    CWaveFile codecLog_;
    CWaveFile pcmLog_;
    CHvxc encoder_;
    HANDLE stop_;
    std::thread thread_;
    unsigned char* out_ = nullptr;
    size_t outUsed_ = 0;
    size_t outCapacity_ = 0;
    CSoundOut* local_ = nullptr;
    IMicrophone* mic_ = nullptr;
    INotifier* sink_ = nullptr;
};
