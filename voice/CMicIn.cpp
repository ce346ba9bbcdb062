#include "CMicIn.h"

#include "CVCConfig.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const WAVEFORMATEX CAPTURE_FORMAT = {WAVE_FORMAT_PCM, 1, 11025, 22050, 2, 16, 0};

uint32_t meanLevel(const unsigned char* bytes, DWORD length)
{
    const DWORD samples = length / 2;
    if (samples == 0)
        return 0;
    uint64_t sum = 0;
    for (DWORD i = 0; i < samples; ++i) {
        const int16_t s = int16_t(uint16_t(bytes[2 * i]) | uint16_t(bytes[2 * i + 1]) << 8);
        sum += uint64_t(s < 0 ? -int32_t(s) : int32_t(s));
    }
    return uint32_t(sum / samples);
}

} // namespace

CMicIn::CMicIn()
    : speechEnd_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), dataEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      stop_(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
}

CMicIn::~CMicIn()
{
    if (CVCConfig::VoiceLog) {
        debugLog_.SetFormat(CWaveFile::PCM11_FORMAT, sizeof CWaveFile::PCM11_FORMAT);
        debugLog_.Save("testmic_in.wav");
    }
    Stop();
    if (source_ != nullptr)
        source_->Release();
    if (audio_ != nullptr)
        audio_->Release();
    if (device_ != nullptr)
        device_->Release();
    CloseHandle(speechEnd_);
    CloseHandle(dataEvent_);
    CloseHandle(stop_);
}

HRESULT CMicIn::CreateAudioSource()
{
    IUnknown* device = nullptr;
    const HRESULT created = CreateSpeechAudioSource(&device);
    if (FAILED(created) || device == nullptr)
        return FAILED(created) ? created : E_FAIL;
    device_ = device;
    if (FAILED(device->QueryInterface(IID_SpeechIAudio, reinterpret_cast<void**>(&audio_))))
        audio_ = nullptr;
    if (FAILED(device->QueryInterface(IID_SpeechIAudioSource, reinterpret_cast<void**>(&source_))))
        source_ = nullptr;
    return created;
}

HRESULT CMicIn::QueryInterface(REFIID riid, void** out)
{
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_SpeechIAudio)) {
        *out = static_cast<IAudio*>(this);
    } else if (IsEqualIID(riid, IID_SpeechIAudioSource)) {
        *out = static_cast<IAudioSource*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CMicIn::AddRef()
{
    return ULONG(++refs_);
}

ULONG CMicIn::Release()
{
    const long left = --refs_;
    if (left == 0)
        delete this;
    return ULONG(left);
}

HRESULT CMicIn::DataAvailable(DWORD* bytes, BOOL* end)
{
    bool ended = false;
    interfaceRing_.GetState(bytes, &ended);
    if (end != nullptr)
        *end = ended;
    return S_OK;
}

HRESULT CMicIn::DataGet(void* buffer, DWORD size, DWORD* got)
{
    return interfaceRing_.GetData(buffer, size, got);
}

HRESULT CMicIn::VoiceDataAvailable(DWORD* bytes, BOOL* end)
{
    bool ended = false;
    voiced_.GetState(bytes, &ended);
    if (end != nullptr)
        *end = ended;
    return S_OK;
}

HRESULT CMicIn::VoiceDataGet(void* buffer, DWORD size, DWORD* got)
{
    return voiced_.GetData(buffer, size, got);
}

#define PASS_TO_SOURCE(call) return audio_ != nullptr ? audio_->call : E_FAIL
HRESULT CMicIn::Flush() { PASS_TO_SOURCE(Flush()); }
HRESULT CMicIn::LevelGet(DWORD* level) { PASS_TO_SOURCE(LevelGet(level)); }
HRESULT CMicIn::LevelSet(DWORD level) { PASS_TO_SOURCE(LevelSet(level)); }
HRESULT CMicIn::PassNotify(void* sink, IID sinkInterface) { PASS_TO_SOURCE(PassNotify(sink, sinkInterface)); }
HRESULT CMicIn::PosnGet(ULONGLONG* position) { PASS_TO_SOURCE(PosnGet(position)); }
HRESULT CMicIn::Claim() { PASS_TO_SOURCE(Claim()); }
HRESULT CMicIn::UnClaim() { PASS_TO_SOURCE(UnClaim()); }
HRESULT CMicIn::TotalGet(ULONGLONG* total) { PASS_TO_SOURCE(TotalGet(total)); }
HRESULT CMicIn::ToFileTime(ULONGLONG* position, FILETIME* time) { PASS_TO_SOURCE(ToFileTime(position, time)); }
HRESULT CMicIn::WaveFormatGet(AudioBlock* format) { PASS_TO_SOURCE(WaveFormatGet(format)); }
HRESULT CMicIn::WaveFormatSet(AudioBlock format) { PASS_TO_SOURCE(WaveFormatSet(format)); }
#undef PASS_TO_SOURCE

HRESULT CMicIn::Start()
{
    // A Stop without a running thread leaves the auto-reset stop event signalled: the new
    // thread would end at once.
    ResetEvent(stop_);
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    interfaceRing_.Clear();
    interfaceRing_.SetEnded(false);
    return S_OK;
}

HRESULT CMicIn::Stop()
{
    interfaceRing_.SetEnded(true);
    SetEvent(stop_);
    if (thread_.joinable())
        thread_.join();
    return S_OK;
}

void CMicIn::run()
{
    if (audio_ != nullptr) {
        AudioBlock format = {const_cast<WAVEFORMATEX*>(&CAPTURE_FORMAT), sizeof CAPTURE_FORMAT};
        audio_->WaveFormatSet(format);
        audio_->Start();
    }
    interfaceRing_.SetEnded(false);
    voiced_.SetEnded(false);
    if (source_ == nullptr) {
        // Nothing to read: wait for the stop, no polling through a missing interface.
        WaitForSingleObject(stop_, INFINITE);
        return;
    }
    std::vector<unsigned char> buffer(READ_SIZE);
    while (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
        DWORD got = 0;
        source_->DataGet(buffer.data(), READ_SIZE, &got);
        if (got > 0) {
            detect(buffer.data(), got);
            continue;
        }
        DWORD bytes = 0;
        BOOL end = FALSE;
        source_->DataAvailable(&bytes, &end);
        if (end) {
            interfaceRing_.SetEnded(true);
            voiced_.SetEnded(true);
        }
        // Idle (or ended): 10 ms, or the stop.
        if (bytes == 0 && WaitForSingleObject(stop_, 10) == WAIT_OBJECT_0)
            break;
    }
    if (audio_ != nullptr)
        audio_->Stop();
}

void CMicIn::detect(const unsigned char* chunk, DWORD length)
{
    if (!calibrated_) {
        const DWORD room = CALIBRATION_BYTES - collected_;
        if (room >= length) {
            std::memcpy(collector_ + collected_, chunk, length);
            collected_ += length;
            return;
        }
        std::memcpy(collector_ + collected_, chunk, room);
        baseline_ = meanLevel(collector_, CALIBRATION_BYTES);
        calibrated_ = true;
        return;
    }
    const uint32_t level = meanLevel(chunk, length);
    const bool loud = baseline_ != 0 && level / baseline_ > SPEECH_RATIO;
    if (!speaking_) {
        if (loud) {
            speaking_ = true;
            quiet_ = 0;
            unsigned char preRoll[PRE_ROLL_BYTES];
            DWORD got = 0;
            if (preRoll_.GetLatestData(preRoll, PRE_ROLL_BYTES, &got) == S_OK)
                voiced_.SetData(preRoll, got);
            SetEvent(dataEvent_);
            preRoll_.Clear();
        }
    } else if (!loud) {
        if (quiet_ < HANG_OVER) {
            ++quiet_;
        } else {
            speaking_ = false;
            SetEvent(speechEnd_);
        }
    } else {
        quiet_ = 0;
    }
    if (speaking_) {
        voiced_.SetData(chunk, length);
        SetEvent(dataEvent_);
        if (CVCConfig::VoiceLog)
            debugLog_.Append(chunk, length);
    } else {
        const DWORD room = preRoll_.freeSpace();
        if (length > room)
            preRoll_.DropData(length - room);
        preRoll_.SetData(chunk, length);
    }
}
