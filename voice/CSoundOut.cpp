#include "CSoundOut.h"

#include "CCSHandler.h"
#include "CTrace.h"
#include "CVCConfig.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

namespace {

const char SCOPE[] = "CSoundOut";
const DWORD SECONDARY_FLAGS = DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
// Geometry used when the settings give an odd or empty chunk: an odd write shifts every later
// sample by one byte.
const DWORD DEFAULT_MSEC = 2000;
const DWORD DEFAULT_CHUNKS = 50;
const DWORD DEFAULT_SILENCE = 10000;

std::atomic<CSoundOut::DeviceFactory> g_factory{nullptr};

std::string text(DWORD value)
{
    return std::to_string(value);
}

} // namespace

const WAVEFORMATEX CSoundOut::DEFAULT_FORMAT = {WAVE_FORMAT_PCM, 1, 11025, 22050, 2, 16, 0};

void CSoundOut::setDeviceFactory(DeviceFactory factory)
{
    g_factory = factory;
}

CSoundOut::CSoundOut(HWND window)
    : capacity_(std::min<uint32_t>(CVCConfig::MaxNumSecBuffer, MAX_BUFFERS)),
      silenceSize_(CVCConfig::SizeSilenceBuffer)
{
    InitializeCriticalSection(&lock_);
    if (silenceSize_ % 2 != 0) {
        CTrace::scopedError(SCOPE, " \"SizeSilenceBuffer\" " + text(silenceSize_) + " is odd, " +
                                       text(DEFAULT_SILENCE) + " used.", -1);
        silenceSize_ = DEFAULT_SILENCE;
    }
    silence_ = new unsigned char[silenceSize_]();
    events_ = new HANDLE[capacity_];
    waitHandles_ = new HANDLE[capacity_ + 1];
    buffers_ = new IDirectSoundBuffer*[capacity_]();
    sizes_ = new DWORD[capacity_]();
    chunks_ = new DWORD[capacity_]();
    positions_ = new DWORD[capacity_]();
    stop_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    waitHandles_[0] = stop_;
    for (uint32_t i = 0; i < capacity_; ++i) {
        events_[i] = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        waitHandles_[i + 1] = events_[i];
    }

    createDevice(window);
    if (device_ == nullptr)
        return; // no sound here: no buffers, no thread, every SetData refused

    DSBUFFERDESC primary;
    std::memset(&primary, 0, sizeof primary);
    primary.dwSize = sizeof primary;
    primary.dwFlags = DSBCAPS_PRIMARYBUFFER;
    // Failures here leave the device's own primary format: ignored.
    if (SUCCEEDED(device_->CreateSoundBuffer(&primary, &primary_, nullptr)) && primary_ != nullptr)
        primary_->SetFormat(&DEFAULT_FORMAT);

    if (buffers_[0] == nullptr) {
        int id = 0;
        CreateSecondaryBuffer(&id, &DEFAULT_FORMAT);
    }
    thread_ = std::thread([this] { run(); });
}

void CSoundOut::createDevice(HWND window)
{
    DeviceFactory factory = g_factory.load();
    IDirectSound* device = nullptr;
    const HRESULT created = (factory != nullptr ? factory : DirectSoundCreate)(nullptr, &device, nullptr);
    // A PC without sound still shares the Stage: the voice just stays silent.
    if (FAILED(created) || device == nullptr) {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(created));
        CTrace::scopedError(SCOPE, std::string(" DirectSoundCreate() failed (") + code + "): no sound output.", -1);
        return;
    }
    device->SetCooperativeLevel(window, DSSCL_PRIORITY);
    DSCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    if (FAILED(device->GetCaps(&caps))) {
        CTrace::scopedError(SCOPE, " Failed to IDirectSound::GetCaps().", -1);
        device->Release();
        return;
    }
    traceCaps(caps);
    device_ = device;
}

void CSoundOut::traceCaps(const DSCAPS& caps)
{
    auto yes = [](bool on) { return on ? "yes" : "no"; };
    CTrace::trace(SCOPE, std::string(" emulated driver: ") + yes(caps.dwFlags & DSCAPS_EMULDRIVER) +
                             ", primary 16 bit: " + yes(caps.dwFlags & DSCAPS_PRIMARY16BIT) +
                             ", secondary 16 bit: " + yes(caps.dwFlags & DSCAPS_SECONDARY16BIT) +
                             ", secondary mono: " + yes(caps.dwFlags & DSCAPS_SECONDARYMONO) + ", secondary rates " +
                             text(caps.dwMinSecondarySampleRate) + "-" + text(caps.dwMaxSecondarySampleRate) +
                             ", free hardware mixing buffers " + text(caps.dwFreeHwMixingAllBuffers));
}

CSoundOut::~CSoundOut()
{
    if (thread_.joinable()) {
        SetEvent(stop_);
        thread_.join();
    }
    for (int i = 0; i < count_.load(); ++i) {
        if (buffers_[i] != nullptr)
            buffers_[i]->Release();
    }
    if (primary_ != nullptr)
        primary_->Release();
    if (device_ != nullptr)
        device_->Release();
    delete[] silence_;
    for (uint32_t i = 0; i < capacity_; ++i)
        CloseHandle(events_[i]);
    CloseHandle(stop_);
    delete[] events_;
    delete[] waitHandles_;
    delete[] buffers_;
    delete[] sizes_;
    delete[] chunks_;
    delete[] positions_;
    DeleteCriticalSection(&lock_);
}

HRESULT CSoundOut::CreateSecondaryBuffer(int* id, const WAVEFORMATEX* format)
{
    const int slot = count_.load();
    if (device_ == nullptr || uint32_t(slot) >= capacity_ || buffers_[slot] != nullptr) {
        CTrace::scopedError(SCOPE, " CreateSecondaryBuffer failed. (illegal buffer)", -1);
        return E_FAIL;
    }
    DWORD size = DWORD(uint32_t(format->nAvgBytesPerSec) * CVCConfig::MsecSecBufSize / 1000);
    DWORD chunks = CVCConfig::ChunkSecBuffer;
    DWORD chunk = chunks == 0 ? 0 : size / chunks;
    if (chunk < 2 || chunk % 2 != 0 || size % 2 != 0) {
        CTrace::scopedError(SCOPE, " Buffer of " + text(size) + " bytes in chunks of " + text(chunk) +
                                       " does not keep 16-bit samples whole: " + text(DEFAULT_MSEC) + " ms in " +
                                       text(DEFAULT_CHUNKS) + " chunks used.",
                            -1);
        size = DWORD(uint32_t(format->nAvgBytesPerSec) * DEFAULT_MSEC / 1000);
        chunks = DEFAULT_CHUNKS;
        chunk = size / chunks;
    }

    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = SECONDARY_FLAGS;
    desc.dwBufferBytes = size;
    desc.lpwfxFormat = const_cast<WAVEFORMATEX*>(format);
    IDirectSoundBuffer* buffer = nullptr;
    if (FAILED(device_->CreateSoundBuffer(&desc, &buffer, nullptr)) || buffer == nullptr)
        CTrace::scopedFatalError(SCOPE, " CreateSoundBuffer() failed.", -1);
    sizes_[slot] = size;
    chunks_[slot] = chunk;
    positions_[slot] = 0;

    DSBPOSITIONNOTIFY* positions = new DSBPOSITIONNOTIFY[chunks];
    for (DWORD i = 0; i < chunks; ++i) {
        positions[i].dwOffset = chunk * i;
        positions[i].hEventNotify = events_[slot];
    }
    IDirectSoundNotify* notify = nullptr;
    const HRESULT got = buffer->QueryInterface(IID_IDirectSoundNotify, reinterpret_cast<void**>(&notify));
    CTrace::scopedAssertTrue(SUCCEEDED(got) && notify != nullptr, SCOPE, " Failed to acquire IDirectSoundNotify.", -1);
    const HRESULT set = notify->SetNotificationPositions(chunks, positions);
    notify->Release();
    delete[] positions;
    CTrace::scopedAssertTrue(SUCCEEDED(set), SCOPE, " Failed to IDirectSoundNotify::SetNotificationPositions().", -1);

    buffers_[slot] = buffer;
    // Not counted yet: written by its slot, past the id check.
    CTrace::scopedAssertTrue(writeSilence(slot, chunk + format->wBitsPerSample / 8) == S_OK, SCOPE,
                             " FillSilence() failed.", -1);
    if (CVCConfig::SoundOutLoop)
        CTrace::scopedAssertTrue(SUCCEEDED(buffer->Play(0, 0, DSBPLAY_LOOPING)), SCOPE,
                                 " IDirectSoundBuffer::Play() failed.", -1);
    *id = slot;
    count_.store(slot + 1);
    // A wait begun before this buffer existed does not watch it: wake the thread through
    // buffer 0's notification (a refill there only tops up what runs low).
    if (slot > 0)
        SetEvent(events_[0]);
    return S_OK;
}

bool CSoundOut::validId(int id) const
{
    if (id >= 0 && id < count_.load())
        return true;
    CTrace::scopedError(SCOPE, " FillBuffer: Illegal buffer ID.", -1);
    return false;
}

bool CSoundOut::isPlaying(int id)
{
    if (id < 0 || id >= count_.load())
        return false;
    CCSHandler guard(&lock_);
    DWORD status = 0;
    return SUCCEEDED(buffers_[id]->GetStatus(&status)) && (status & DSBSTATUS_PLAYING) != 0;
}

HRESULT CSoundOut::SetData(const void* data, DWORD length, int id)
{
    return FillBuffer(data, length, id);
}

HRESULT CSoundOut::FillBuffer(const void* data, DWORD length, int id)
{
    if (!validId(id))
        return E_FAIL;
    return write(id, data, length);
}

HRESULT CSoundOut::FillSilence(DWORD length, int id)
{
    if (!validId(id))
        return E_FAIL;
    return writeSilence(id, length);
}

HRESULT CSoundOut::writeSilence(int slot, DWORD length)
{
    while (length > 0) {
        const DWORD piece = std::min(length, silenceSize_);
        const HRESULT result = write(slot, silence_, piece);
        if (result != S_OK)
            return result;
        length -= piece;
    }
    return S_OK;
}

HRESULT CSoundOut::write(int slot, const void* data, DWORD length)
{
    CCSHandler guard(&lock_);
    IDirectSoundBuffer* buffer = buffers_[slot];
    const DWORD size = sizes_[slot];
    DWORD status = 0;
    buffer->GetStatus(&status);
    const bool playing = (status & DSBSTATUS_PLAYING) != 0;
    if (!playing)
        positions_[slot] = 0;
    // Peers fill these buffers: a block that does not fit before the play cursor would
    // overwrite sound not yet played, so it is dropped whole.
    DWORD freeBytes = size;
    if (playing) {
        DWORD play = 0;
        DWORD ignored = 0;
        if (SUCCEEDED(buffer->GetCurrentPosition(&play, &ignored)))
            freeBytes = positions_[slot] < play ? play - positions_[slot] : play + size - positions_[slot];
    }
    if (length > freeBytes) {
        CTrace::scopedError(SCOPE, " FillBuffer: block of " + text(length) + " bytes dropped, " + text(freeBytes) +
                                       " bytes free in buffer " + text(DWORD(slot)) + ".",
                            -1);
        return E_FAIL;
    }
    void* first = nullptr;
    void* second = nullptr;
    DWORD firstLength = 0;
    DWORD secondLength = 0;
    const HRESULT locked = buffer->Lock(positions_[slot], length, &first, &firstLength, &second, &secondLength, 0);
    if (FAILED(locked))
        return locked;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::memcpy(first, bytes, firstLength);
    if (second != nullptr && secondLength > 0)
        std::memcpy(second, bytes + firstLength, secondLength);
    buffer->Unlock(first, firstLength, second, secondLength);
    positions_[slot] = (positions_[slot] + firstLength + secondLength) % size;
    buffer->GetStatus(&status);
    if ((status & DSBSTATUS_PLAYING) == 0)
        buffer->Play(0, 0, 0);
    return S_OK;
}

void CSoundOut::run()
{
    for (;;) {
        const DWORD handles = DWORD(count_.load()) + 1;
        const DWORD result = WaitForMultipleObjects(handles, waitHandles_, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0)
            return;
        if (result > WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + handles)
            refill(int(result - WAIT_OBJECT_0 - 1));
    }
}

void CSoundOut::refill(int id)
{
    if (!CVCConfig::SoundOutLoop)
        return;
    // The lock is re-entrant: the silence written below joins this one block.
    CCSHandler guard(&lock_);
    DWORD play = 0;
    DWORD ignored = 0;
    if (FAILED(buffers_[id]->GetCurrentPosition(&play, &ignored)))
        return;
    const DWORD size = sizes_[id];
    const DWORD position = positions_[id];
    const DWORD freeBytes = position < play ? play - position : play + size - position;
    const DWORD queued = size - freeBytes;
    if (queued < 2 * chunks_[id])
        writeSilence(id, 2 * chunks_[id]);
}
