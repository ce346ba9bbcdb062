#include "CHvxcOut.h"

#include "CHvxc.h"
#include "CSoundOut.h"
#include "CTrace.h"
#include "CVCConfig.h"

#include <new>

namespace {

CHvxc* openedDecoder()
{
    CHvxc* decoder = new (std::nothrow) CHvxc();
    // A decoder that did not open still exists; its conversions then fail.
    if (decoder != nullptr)
        decoder->OpenDecoder(CVCConfig::CodecChunkSize);
    return decoder;
}

} // namespace

const WAVEFORMATEX CHvxcOut::PLAYBACK_FORMAT = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};

CHvxcOut::CHvxcOut(HWND window) : CHvxcOut(window, openedDecoder()) {}

CHvxcOut::CHvxcOut(HWND window, CHvxc* decoder) : decoder_(decoder), soundOut_(new CSoundOut(window)) {}

CHvxcOut::~CHvxcOut()
{
    if (CVCConfig::VoiceLog) {
        codecLog_.SetFormat(CWaveFile::CODEC_DUMP_FORMAT, sizeof CWaveFile::CODEC_DUMP_FORMAT);
        codecLog_.Save("testhvxc_out.wav");
        pcmLog_.SetFormat(CWaveFile::PCM8_FORMAT, sizeof CWaveFile::PCM8_FORMAT);
        pcmLog_.Save("testpcm8_out.wav");
    }
    if (decoder_ != nullptr) {
        decoder_->Close();
        delete decoder_;
    }
    delete soundOut_;
}

HRESULT CHvxcOut::AddBuffer(int* id)
{
    return soundOut_->CreateSecondaryBuffer(id, &PLAYBACK_FORMAT);
}

HRESULT CHvxcOut::SetData(const void* data, DWORD length, int bufferId)
{
    if (data == nullptr || length == 0) {
        CTrace::error("Unexpected data for SetData().", -1);
        return 1;
    }
    if (decoder_ == nullptr) {
        CTrace::error("HVXC is not allocated.", -1);
        return E_FAIL;
    }
    if (CVCConfig::VoiceLog)
        codecLog_.Append(data, length);
    HRESULT result = decoder_->SetDecoderInput(data, length);
    if (result < 0)
        return result;
    result = decoder_->Decode();
    if (result < 0)
        return result;
    const unsigned char* pcm = nullptr;
    size_t pcmLength = 0;
    result = decoder_->GetDecoderOutput(&pcm, &pcmLength);
    if (result < 0)
        return result;
    if (CVCConfig::VoiceLog)
        pcmLog_.Append(pcm, pcmLength);
    if (soundOut_ != nullptr) {
        result = soundOut_->SetData(pcm, DWORD(pcmLength), bufferId);
        if (result < 0)
            return result;
    }
    return S_OK;
}
