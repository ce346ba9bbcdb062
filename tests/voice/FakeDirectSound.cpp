#include "FakeDirectSound.h"

#include "CSoundOut.h"

#include <cstring>

namespace {

FakeDirectSound* g_current = nullptr;

// The last reference deletes the object and counts it out of the device's live objects.
template <typename T>
ULONG release(FakeDirectSound& ds, long& refs, T* self)
{
    const long left = --refs;
    if (left == 0) {
        {
            std::lock_guard<std::mutex> guard(ds.lock);
            --ds.live;
        }
        delete self;
    }
    return ULONG(left);
}

class Buffer final : public IDirectSoundBuffer, public IDirectSoundNotify {
public:
    virtual ~Buffer() = default;
    Buffer(FakeDirectSound& ds, std::shared_ptr<FakeBuffer> state, bool primary)
        : ds_(ds), state_(std::move(state)), primary_(primary)
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        ++ds_.live;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (IsEqualIID(riid, IID_IDirectSoundNotify)) {
            *out = static_cast<IDirectSoundNotify*>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectSoundBuffer)) {
            *out = static_cast<IDirectSoundBuffer*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return release(ds_, refs_, this); }

    HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD play, LPDWORD write) override
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        note("GetCurrentPosition");
        *play = state_->play;
        if (write != nullptr)
            *write = state_->play;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolume(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPan(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        note("GetStatus");
        *status = (state_->playing ? DSBSTATUS_PLAYING : 0) | (state_->looping ? DSBSTATUS_LOOPING : 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2,
                                   DWORD) override
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        note("Lock " + std::to_string(offset) + " " + std::to_string(bytes));
        const DWORD size = DWORD(state_->memory.size());
        if (state_->lockResult != S_OK)
            return state_->lockResult;
        if (bytes > size || offset >= size)
            return DSERR_INVALIDPARAM;
        *p1 = state_->memory.data() + offset;
        *n1 = std::min(bytes, size - offset);
        *p2 = *n1 < bytes ? state_->memory.data() : nullptr;
        *n2 = bytes - *n1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD flags) override
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        note("Play " + std::to_string(flags));
        state_->playing = true;
        state_->looping = (flags & DSBPLAY_LOOPING) != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX format) override
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        note("SetFormat " + std::to_string(format->nSamplesPerSec) + " " + std::to_string(format->wBitsPerSample) +
             " " + std::to_string(format->nChannels));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetVolume(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFrequency(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID, DWORD n1, LPVOID, DWORD n2) override
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        note("Unlock " + std::to_string(n1) + " " + std::to_string(n2));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Restore() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) override
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        note("SetNotificationPositions " + std::to_string(count));
        state_->notes.assign(positions, positions + count);
        return S_OK;
    }

private:
    void note(const std::string& call)
    {
        if (primary_) {
            ds_.primary.push_back(call);
        } else {
            state_->calls.push_back(call);
            ds_.journal.push_back(call);
        }
    }

    FakeDirectSound& ds_;
    std::shared_ptr<FakeBuffer> state_;
    bool primary_;
    long refs_ = 1;
};

class Device final : public IDirectSound {
public:
    virtual ~Device() = default;
    explicit Device(FakeDirectSound& ds) : ds_(ds)
    {
        std::lock_guard<std::mutex> guard(ds_.lock);
        ++ds_.live;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return release(ds_, refs_, this); }
    HRESULT STDMETHODCALLTYPE CreateSoundBuffer(LPCDSBUFFERDESC desc, LPLPDIRECTSOUNDBUFFER out, IUnknown*) override
    {
        const bool primary = (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) != 0;
        if ((primary && ds_.failPrimary) || (!primary && ds_.failSecondary))
            return DSERR_GENERIC;
        auto state = std::make_shared<FakeBuffer>();
        state->flags = desc->dwFlags;
        if (!primary) {
            state->memory.assign(desc->dwBufferBytes, 0xEE); // stale bytes, so that writes show
            state->format = *desc->lpwfxFormat;
            std::lock_guard<std::mutex> guard(ds_.lock);
            ds_.buffers.push_back(state);
        }
        *out = new Buffer(ds_, state, primary);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSCAPS caps) override
    {
        if (ds_.failCaps)
            return DSERR_GENERIC;
        caps->dwFlags = DSCAPS_EMULDRIVER | DSCAPS_PRIMARY16BIT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPLPDIRECTSOUNDBUFFER) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Compact() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSpeakerConfig(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSpeakerConfig(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(LPCGUID) override { return E_NOTIMPL; }

private:
    FakeDirectSound& ds_;
    long refs_ = 1;
};

} // namespace

FakeDirectSound::FakeDirectSound()
{
    g_current = this;
    CSoundOut::setDeviceFactory(create);
}

FakeDirectSound::~FakeDirectSound()
{
    CSoundOut::setDeviceFactory(nullptr);
    g_current = nullptr;
}

HRESULT WINAPI FakeDirectSound::create(LPCGUID, LPDIRECTSOUND* device, LPUNKNOWN)
{
    if (g_current->failCreate != S_OK) {
        *device = nullptr;
        return g_current->failCreate;
    }
    *device = new Device(*g_current);
    return S_OK;
}

size_t FakeDirectSound::bufferCount()
{
    std::lock_guard<std::mutex> guard(lock);
    return buffers.size();
}

FakeBuffer& FakeDirectSound::buffer(size_t index)
{
    std::lock_guard<std::mutex> guard(lock);
    return *buffers.at(index);
}

std::vector<std::string> FakeDirectSound::primaryCalls()
{
    std::lock_guard<std::mutex> guard(lock);
    return primary;
}

int FakeDirectSound::liveObjects()
{
    std::lock_guard<std::mutex> guard(lock);
    return live;
}

void FakeDirectSound::note(const std::string& call)
{
    std::lock_guard<std::mutex> guard(lock);
    journal.push_back(call);
}

std::vector<std::string> FakeDirectSound::calls()
{
    std::lock_guard<std::mutex> guard(lock);
    return journal;
}

void FakeDirectSound::clearCalls()
{
    std::lock_guard<std::mutex> guard(lock);
    journal.clear();
    for (auto& b : buffers)
        b->calls.clear();
}

std::vector<std::string> FakeBuffer::callsNamed(FakeDirectSound& ds, const std::string& prefix)
{
    std::lock_guard<std::mutex> guard(ds.lock);
    std::vector<std::string> out;
    for (const auto& c : calls) {
        if (c.rfind(prefix, 0) == 0)
            out.push_back(c);
    }
    return out;
}

void FakeBuffer::setPlay(FakeDirectSound& ds, DWORD position)
{
    std::lock_guard<std::mutex> guard(ds.lock);
    play = position;
}

void FakeBuffer::stop(FakeDirectSound& ds)
{
    std::lock_guard<std::mutex> guard(ds.lock);
    playing = false;
    looping = false;
}
