#include "FakeMicrophone.h"

namespace {

FakeMicrophone* g_mic = nullptr;

IMicrophone* take(CComMaster*)
{
    g_mic->AddRef();
    return g_mic;
}

} // namespace

FakeMicrophone::FakeMicrophone()
    : data_(CreateEventA(nullptr, FALSE, FALSE, nullptr)), speechEnd_(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    ring_.SetEnded(false);
    g_mic = this;
    CComMaster::setMicrophoneFactory(take);
}

FakeMicrophone::~FakeMicrophone()
{
    CComMaster::setMicrophoneFactory(nullptr);
    g_mic = nullptr;
    CloseHandle(data_);
    CloseHandle(speechEnd_);
}

void FakeMicrophone::feed(const std::vector<unsigned char>& bytes)
{
    ring_.SetData(bytes.data(), DWORD(bytes.size()));
    SetEvent(data_);
}

HRESULT FakeMicrophone::VoiceDataAvailable(DWORD* bytes, BOOL* end)
{
    bool ended = false;
    ring_.GetState(bytes, &ended);
    *end = ended;
    return S_OK;
}

HRESULT FakeMicrophone::VoiceDataGet(void* buffer, DWORD size, DWORD* got)
{
    ++reads_;
    return ring_.GetData(buffer, size, got);
}

void PacketSink::tell(const unsigned char* data, size_t size)
{
    std::lock_guard<std::mutex> guard(lock_);
    packets_.emplace_back(data, data + size);
}

std::vector<std::vector<unsigned char>> PacketSink::packets()
{
    std::lock_guard<std::mutex> guard(lock_);
    return packets_;
}

size_t PacketSink::count()
{
    std::lock_guard<std::mutex> guard(lock_);
    return packets_.size();
}
