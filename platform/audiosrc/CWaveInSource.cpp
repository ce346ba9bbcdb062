#include "CWaveInSource.h"

#include <cstring>

namespace {
const WAVEFORMATEX CAPTURE_FORMAT = {WAVE_FORMAT_PCM, 1, 11025, 22050, 2, 16, 0};
}

CWaveInSource::CWaveInSource()
{
    std::memset(headers_, 0, sizeof headers_);
}

CWaveInSource::~CWaveInSource()
{
    Stop();
}

HRESULT CWaveInSource::QueryInterface(REFIID riid, void** out)
{
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_SpeechIAudio) ||
        IsEqualIID(riid, IID_SpeechIAudioMultiMediaDevice)) {
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

ULONG CWaveInSource::AddRef()
{
    return ULONG(++refs_);
}

ULONG CWaveInSource::Release()
{
    const long left = --refs_;
    if (left == 0)
        delete this;
    return ULONG(left);
}

HRESULT CWaveInSource::WaveFormatSet(AudioBlock format)
{
    // Only the capture format: 18 bytes, 11025 Hz, 16-bit, mono.
    if (format.data == nullptr || format.size != sizeof(WAVEFORMATEX) ||
        std::memcmp(format.data, &CAPTURE_FORMAT, sizeof CAPTURE_FORMAT) != 0)
        return E_INVALIDARG;
    formatSet_ = true;
    return S_OK;
}

HRESULT CWaveInSource::Start()
{
    if (!formatSet_)
        return E_FAIL;
    if (running_)
        return S_OK;
    done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    quit_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (waveInOpen(&device_, WAVE_MAPPER, &CAPTURE_FORMAT, DWORD_PTR(done_), 0, CALLBACK_EVENT) !=
        MMSYSERR_NOERROR) {
        device_ = nullptr;
        CloseHandle(done_);
        CloseHandle(quit_);
        done_ = quit_ = nullptr;
        return E_FAIL;
    }
    memory_.assign(size_t(BLOCK_BYTES) * QUEUED_BLOCKS, 0);
    for (int i = 0; i < QUEUED_BLOCKS; ++i) {
        WAVEHDR& h = headers_[i];
        std::memset(&h, 0, sizeof h);
        h.lpData = memory_.data() + size_t(i) * BLOCK_BYTES;
        h.dwBufferLength = BLOCK_BYTES;
        waveInPrepareHeader(device_, &h, sizeof h);
        waveInAddBuffer(device_, &h, sizeof h);
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        filled_.clear();
        readInFront_ = 0;
        running_ = true;
    }
    collector_ = std::thread([this] { collect(); });
    waveInStart(device_);
    return S_OK;
}

void CWaveInSource::collect()
{
    HANDLE handles[2] = {quit_, done_};
    int next = 0; // blocks come back in the order they were queued
    for (;;) {
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
            return;
        while (headers_[next].dwFlags & WHDR_DONE) {
            WAVEHDR& h = headers_[next];
            if (h.dwBytesRecorded > 0) {
                std::lock_guard<std::mutex> guard(lock_);
                filled_.emplace_back(h.lpData, h.lpData + h.dwBytesRecorded);
                if (filled_.size() > MAX_WAITING_BLOCKS) {
                    filled_.pop_front();
                    readInFront_ = 0;
                    ++dropped_;
                }
            }
            if (WaitForSingleObject(quit_, 0) == WAIT_OBJECT_0)
                return;
            h.dwFlags &= ~WHDR_DONE;
            h.dwBytesRecorded = 0;
            waveInAddBuffer(device_, &h, sizeof h);
            next = (next + 1) % QUEUED_BLOCKS;
        }
    }
}

HRESULT CWaveInSource::Stop()
{
    if (device_ == nullptr)
        return S_OK;
    SetEvent(quit_);
    if (collector_.joinable())
        collector_.join();
    waveInReset(device_);
    for (WAVEHDR& h : headers_)
        waveInUnprepareHeader(device_, &h, sizeof h);
    waveInClose(device_);
    device_ = nullptr;
    CloseHandle(done_);
    CloseHandle(quit_);
    done_ = quit_ = nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    running_ = false;
    return S_OK;
}

HRESULT CWaveInSource::DataAvailable(DWORD* bytes, BOOL* end)
{
    std::lock_guard<std::mutex> guard(lock_);
    *bytes = filled_.empty() ? 0 : DWORD(filled_.front().size() - readInFront_);
    if (end != nullptr)
        *end = !running_ && filled_.empty();
    return S_OK;
}

HRESULT CWaveInSource::DataGet(void* buffer, DWORD size, DWORD* got)
{
    std::lock_guard<std::mutex> guard(lock_);
    *got = 0;
    if (filled_.empty())
        return S_OK;
    const std::vector<char>& front = filled_.front();
    const DWORD n = DWORD(std::min<size_t>(size, front.size() - readInFront_));
    std::memcpy(buffer, front.data() + readInFront_, n);
    readInFront_ += n;
    if (readInFront_ == front.size()) {
        filled_.pop_front();
        readInFront_ = 0;
    }
    *got = n;
    return S_OK;
}
