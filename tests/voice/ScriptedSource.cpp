#include "ScriptedSource.h"

#include <mmsystem.h>

#include <atomic>
#include <cstring>

namespace {

ScriptedSource* g_script = nullptr;

class Source final : public IAudio, public IAudioSource {
public:
    virtual ~Source() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_SpeechIAudio) ||
            IsEqualIID(riid, IID_SpeechIAudioMultiMediaDevice))
            *out = static_cast<IAudio*>(this);
        else if (IsEqualIID(riid, IID_SpeechIAudioSource))
            *out = static_cast<IAudioSource*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const long left = --refs_;
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return note("Flush"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE LevelGet(DWORD* level) override { return note("LevelGet"), *level = 7, S_FALSE; }
    HRESULT STDMETHODCALLTYPE LevelSet(DWORD level) override { return note("LevelSet " + std::to_string(level)), S_FALSE; }
    HRESULT STDMETHODCALLTYPE PassNotify(void*, IID) override { return note("PassNotify"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE PosnGet(ULONGLONG*) override { return note("PosnGet"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE Claim() override { return note("Claim"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE UnClaim() override { return note("UnClaim"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE Start() override
    {
        std::lock_guard<std::mutex> guard(g_script->lock);
        g_script->journal.push_back("Start");
        g_script->running = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        std::lock_guard<std::mutex> guard(g_script->lock);
        g_script->journal.push_back("Stop");
        g_script->running = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TotalGet(ULONGLONG*) override { return note("TotalGet"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE ToFileTime(ULONGLONG*, FILETIME*) override { return note("ToFileTime"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE WaveFormatGet(AudioBlock*) override { return note("WaveFormatGet"), S_FALSE; }
    HRESULT STDMETHODCALLTYPE WaveFormatSet(AudioBlock format) override
    {
        return note("WaveFormatSet " + std::to_string(format.size) + " " +
                    std::to_string(static_cast<WAVEFORMATEX*>(format.data)->nSamplesPerSec)),
               S_OK;
    }
    HRESULT STDMETHODCALLTYPE DataAvailable(DWORD* bytes, BOOL* end) override
    {
        std::lock_guard<std::mutex> guard(g_script->lock);
        *bytes = g_script->blocks.empty() ? 0 : DWORD(g_script->blocks.front().size());
        *end = !g_script->running && g_script->blocks.empty();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DataGet(void* buffer, DWORD size, DWORD* got) override
    {
        std::lock_guard<std::mutex> guard(g_script->lock);
        *got = 0;
        if (!g_script->running || g_script->blocks.empty())
            return S_OK;
        auto block = g_script->blocks.front();
        if (block.size() > size)
            return E_FAIL;
        g_script->blocks.pop_front();
        std::memcpy(buffer, block.data(), block.size());
        *got = DWORD(block.size());
        return S_OK;
    }

private:
    void note(const std::string& call)
    {
        std::lock_guard<std::mutex> guard(g_script->lock);
        g_script->journal.push_back(call);
    }
    std::atomic<long> refs_{1};
};

HRESULT create(IUnknown** out)
{
    if (g_script->failCreate) {
        *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    *out = static_cast<IAudio*>(new Source());
    return S_OK;
}

} // namespace

ScriptedSource::ScriptedSource()
{
    g_script = this;
    SetSpeechAudioSourceFactory(create);
}

ScriptedSource::~ScriptedSource()
{
    SetSpeechAudioSourceFactory(nullptr);
    g_script = nullptr;
}

void ScriptedSource::add(const std::vector<unsigned char>& block)
{
    std::lock_guard<std::mutex> guard(lock);
    blocks.push_back(block);
}

size_t ScriptedSource::pending()
{
    std::lock_guard<std::mutex> guard(lock);
    return blocks.size();
}

std::vector<std::string> ScriptedSource::calls()
{
    std::lock_guard<std::mutex> guard(lock);
    return journal;
}

std::vector<unsigned char> levelChunk(int level, size_t bytes)
{
    std::vector<unsigned char> out(bytes);
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const int16_t s = int16_t((i / 2) % 2 == 0 ? level : -level);
        out[i] = (unsigned char)(uint16_t(s) & 0xFF);
        out[i + 1] = (unsigned char)(uint16_t(s) >> 8);
    }
    return out;
}
