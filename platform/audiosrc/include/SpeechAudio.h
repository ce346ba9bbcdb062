#pragma once
// The speech API's multimedia audio source interfaces, as this program uses them: IAudio
// (thirteen slots after IUnknown) and IAudioSource. Wine has no such class; CWaveInSource
// stands in for it.
#include <windows.h>
#include <unknwn.h>

// An audio format or other variable-length block handed through IAudio.
struct AudioBlock {
    void* data;
    DWORD size;
};

// {F546B340-C743-11CD-80E5-00AA003E4B50}
extern const IID IID_SpeechIAudio;
// {BC06A220-C743-11CD-80E5-00AA003E4B50}
extern const IID IID_SpeechIAudioSource;
// {B68AD320-C743-11CD-80E5-00AA003E4B50}: the multimedia device face asked for at creation.
extern const IID IID_SpeechIAudioMultiMediaDevice;
// {D24FE500-C743-11CD-80E5-00AA003E4B50}: the multimedia audio source class.
extern const CLSID CLSID_SpeechMMAudioSource;

struct IAudio : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
    virtual HRESULT STDMETHODCALLTYPE LevelGet(DWORD* level) = 0;
    virtual HRESULT STDMETHODCALLTYPE LevelSet(DWORD level) = 0;
    virtual HRESULT STDMETHODCALLTYPE PassNotify(void* sink, IID sinkInterface) = 0;
    virtual HRESULT STDMETHODCALLTYPE PosnGet(ULONGLONG* position) = 0;
    virtual HRESULT STDMETHODCALLTYPE Claim() = 0;
    virtual HRESULT STDMETHODCALLTYPE UnClaim() = 0;
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE TotalGet(ULONGLONG* total) = 0;
    virtual HRESULT STDMETHODCALLTYPE ToFileTime(ULONGLONG* position, FILETIME* time) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaveFormatGet(AudioBlock* format) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaveFormatSet(AudioBlock format) = 0;
};

struct IAudioSource : public IUnknown {
    // Bytes ready for the next DataGet; end set once the source has stopped and is drained.
    virtual HRESULT STDMETHODCALLTYPE DataAvailable(DWORD* bytes, BOOL* end) = 0;
    virtual HRESULT STDMETHODCALLTYPE DataGet(void* buffer, DWORD size, DWORD* got) = 0;
};

// Creates the audio source in place of CoCreateInstance(CLSID_SpeechMMAudioSource, ...,
// IID_SpeechIAudioMultiMediaDevice): our waveIn source unless a test set another.
using AudioSourceFactory = HRESULT (*)(IUnknown** source);
HRESULT CreateSpeechAudioSource(IUnknown** source);
void SetSpeechAudioSourceFactory(AudioSourceFactory factory);
