#include "CComMaster.h"

#include "CMicIn.h"
#include "CSoundOut.h"
#include "CTrace.h"
#include "CVCConfig.h"
#include "IMicrophone.h"
#include "INotifier.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char SCOPE[] = "CComMaster";
const char SENDER[] = "test user";

IMicrophone* makeMicIn(CComMaster* owner)
{
    CMicIn* mic = new CMicIn();
    mic->AddRef();
    mic->SetOwner(owner);
    const HRESULT created = mic->CreateAudioSource();
    if (FAILED(created)) {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(created));
        CTrace::scopedError(SCOPE, std::string(" No audio source (") + code + "): the microphone stays silent.", -1);
    }
    return mic;
}

std::atomic<CComMaster::MicrophoneFactory> g_factory{nullptr};

void putWord(unsigned char* at, uint32_t value)
{
    at[0] = BYTE(value);
    at[1] = BYTE(value >> 8);
    at[2] = BYTE(value >> 16);
    at[3] = BYTE(value >> 24);
}

} // namespace

void CComMaster::setMicrophoneFactory(MicrophoneFactory factory)
{
    g_factory = factory;
}

std::vector<unsigned char> CComMaster::buildPacket(const unsigned char* data, size_t length)
{
    const uint32_t nameSize = sizeof SENDER; // with its NUL
    const uint32_t noteSize = 1;             // the empty second text
    std::vector<unsigned char> packet(20 + nameSize + noteSize + length);
    putWord(&packet[0], 0);
    putWord(&packet[4], 20);
    putWord(&packet[8], nameSize);
    putWord(&packet[12], noteSize);
    putWord(&packet[16], uint32_t(length));
    std::memcpy(&packet[20], SENDER, nameSize);
    packet[20 + nameSize] = 0;
    if (length > 0)
        std::memcpy(&packet[20 + nameSize + noteSize], data, length);
    return packet;
}

CComMaster::CComMaster() : stop_(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    MicrophoneFactory factory = g_factory.load();
    mic_ = factory != nullptr ? factory(this) : makeMicIn(this);
}

CComMaster::~CComMaster()
{
    if (thread_.joinable()) {
        SetEvent(stop_);
        thread_.join();
    }
    if (CVCConfig::VoiceLog) {
        codecLog_.SetFormat(CWaveFile::CODEC_DUMP_FORMAT, sizeof CWaveFile::CODEC_DUMP_FORMAT);
        codecLog_.Save("testhvxc_in.wav");
        pcmLog_.SetFormat(CWaveFile::PCM11_FORMAT, sizeof CWaveFile::PCM11_FORMAT);
        pcmLog_.Save("testpcm11_in.wav");
    }
    encoder_.Close();
    std::free(out_);
    if (mic_ != nullptr)
        mic_->Release();
    CloseHandle(stop_);
}

HRESULT CComMaster::Init(INotifier* sink, CSoundOut* localOutput)
{
    sink_ = sink;
    local_ = localOutput;
    const HRESULT opened = encoder_.OpenEncoder(CVCConfig::PcmChunkSize);
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    return opened;
}

HRESULT CComMaster::RecordSwitch(bool on)
{
    if (mic_ == nullptr)
        return E_FAIL;
    return on ? mic_->StartRecording() : mic_->StopRecording();
}

void CComMaster::run()
{
    const size_t chunkSize = CVCConfig::PcmChunkSize;
    std::vector<unsigned char> chunk(chunkSize);
    size_t remaining = chunkSize;
    size_t position = 0;
    while (mic_ == nullptr) {
        if (WaitForSingleObject(stop_, 100) == WAIT_OBJECT_0)
            return;
    }
    HANDLE handles[3] = {stop_, mic_->speechEndEvent(), mic_->dataEvent()};
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
        if (woke == WAIT_OBJECT_0)
            break;
        if (woke != WAIT_OBJECT_0 + 2)
            continue; // speech ended: a part-filled chunk waits for more sound
        DWORD held = 0;
        BOOL ended = FALSE;
        mic_->VoiceDataAvailable(&held, &ended);
        if (held <= remaining)
            continue;
        DWORD got = 0;
        mic_->VoiceDataGet(chunk.data() + position, DWORD(remaining), &got);
        if (got < remaining) {
            remaining -= got;
            position += got;
            continue;
        }
        if (CVCConfig::LocalPlay && local_ != nullptr)
            local_->SetData(chunk.data(), DWORD(chunkSize), 0);
        if (CVCConfig::VoiceLog)
            pcmLog_.Append(chunk.data(), chunkSize);
        if (encodeChunk(chunk.data(), chunkSize) == S_OK)
            flush();
        remaining = chunkSize;
        position = 0;
    }
}

HRESULT CComMaster::encodeChunk(const unsigned char* pcm, size_t length)
{
    // A chunk that did not encode is not sent: the codec buffer still holds the last one.
    if (encoder_.SetEncoderInput(pcm, length) != S_OK || encoder_.Convert() != S_OK)
        return E_FAIL;
    const unsigned char* codec = nullptr;
    size_t codecLength = 0;
    encoder_.GetEncoderOutput(&codec, &codecLength);
    if (CVCConfig::VoiceLog)
        codecLog_.Append(codec, codecLength);
    while (outCapacity_ < outUsed_ + codecLength) {
        const size_t capacity = outCapacity_ == 0 ? 1000 : outCapacity_ * 2;
        void* grown = std::realloc(out_, capacity);
        if (grown == nullptr)
            return E_FAIL; // the chunk is dropped, the thread goes on
        out_ = static_cast<unsigned char*>(grown);
        outCapacity_ = capacity;
    }
    std::memcpy(out_ + outUsed_, codec, codecLength);
    outUsed_ += codecLength;
    return S_OK;
}

void CComMaster::flush()
{
    if (outUsed_ == 0)
        return;
    const std::vector<unsigned char> packet = buildPacket(out_, outUsed_);
    if (sink_ != nullptr)
        sink_->tell(packet.data(), packet.size());
    outUsed_ = 0;
}
