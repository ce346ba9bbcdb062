#include "SpeechAudio.h"

#include "CWaveInSource.h"

#include <atomic>
#include <new>

const IID IID_SpeechIAudio = {0xF546B340, 0xC743, 0x11CD, {0x80, 0xE5, 0x00, 0xAA, 0x00, 0x3E, 0x4B, 0x50}};
const IID IID_SpeechIAudioSource = {0xBC06A220, 0xC743, 0x11CD, {0x80, 0xE5, 0x00, 0xAA, 0x00, 0x3E, 0x4B, 0x50}};
const IID IID_SpeechIAudioMultiMediaDevice = {0xB68AD320, 0xC743, 0x11CD,
                                              {0x80, 0xE5, 0x00, 0xAA, 0x00, 0x3E, 0x4B, 0x50}};
const CLSID CLSID_SpeechMMAudioSource = {0xD24FE500, 0xC743, 0x11CD,
                                         {0x80, 0xE5, 0x00, 0xAA, 0x00, 0x3E, 0x4B, 0x50}};

namespace {

HRESULT createWaveIn(IUnknown** source)
{
    auto* made = new (std::nothrow) CWaveInSource();
    if (made == nullptr) {
        *source = nullptr;
        return E_OUTOFMEMORY;
    }
    *source = static_cast<IAudio*>(made);
    return S_OK;
}

std::atomic<AudioSourceFactory> g_factory{nullptr};

} // namespace

HRESULT CreateSpeechAudioSource(IUnknown** source)
{
    AudioSourceFactory factory = g_factory.load();
    return factory != nullptr ? factory(source) : createWaveIn(source);
}

void SetSpeechAudioSourceFactory(AudioSourceFactory factory)
{
    g_factory = factory;
}
