#include "CVoiceManager.h"

#include "CCSHandler.h"
#include "CComMaster.h"
#include "CHvxcOut.h"
#include "CTavUtility.h"
#include "CTrace.h"
#include "CVCConfig.h"

#include <CWnd.h>

#include <atomic>

namespace {

const char SCOPE[] = "CVoiceManager";

CHvxcOut* makePlayback()
{
    HWND window = nullptr;
    try {
        CWnd* main = CTavUtility::getMainWnd();
        if (main != nullptr)
            window = main->GetSafeHwnd();
    } catch (...) {
        // No UI thread (yet): the sound output takes no window.
    }
    return new CHvxcOut(window);
}

std::atomic<CVoiceManager::PlaybackFactory> g_factory{nullptr};

uint32_t wordAt(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void drop(const std::string& why)
{
    CTrace::scopedError(SCOPE, " Voice packet dropped: " + why + ".", -1);
}

} // namespace

void CVoiceManager::setPlaybackFactory(PlaybackFactory factory)
{
    g_factory = factory;
}

CVoiceManager::CVoiceManager(INotifier* sink) : sink_(sink)
{
    PlaybackFactory factory = g_factory.load();
    playback_ = factory != nullptr ? factory() : makePlayback();
    master_ = new CComMaster();
    master_->Init(sink_, playback_->soundOut());
    InitializeCriticalSection(&nodeLock_);
    InitializeCriticalSection(&idLock_);
}

CVoiceManager::~CVoiceManager()
{
    delete master_;
    delete playback_;
    {
        CCSHandler guard(&nodeLock_);
        nodes_.clear();
    }
    {
        CCSHandler guard(&idLock_);
        freeIds_.clear();
    }
    DeleteCriticalSection(&nodeLock_);
    DeleteCriticalSection(&idLock_);
}

int CVoiceManager::FindAvailableNumber()
{
    {
        CCSHandler guard(&idLock_);
        if (!freeIds_.empty()) {
            const int id = freeIds_.front();
            freeIds_.pop_front();
            return id;
        }
    }
    int id = CVTermNode::NO_BUFFER;
    if (playback_->AddBuffer(&id) != S_OK) {
        // The sound output is full (or absent): the member is kept, unheard.
        CTrace::scopedError(SCOPE, " AddBuffer failed: the member gets no sound buffer.", -1);
        return CVTermNode::NO_BUFFER;
    }
    CTrace::scopedAssertTrue(id >= 0, SCOPE, " AddBuffer gave a negative buffer id.", -1);
    return id;
}

void CVoiceManager::setName(const std::string& terminalId, const std::string& name)
{
    CTrace::scopedAssertTrue(!terminalId.empty() && !name.empty(), SCOPE, " setName: empty terminal id or name.", -1);
    CCSHandler guard(&nodeLock_);
    for (const CVTermNode& node : nodes_) {
        if (node.terminalId == terminalId) {
            CTrace::scopedError(SCOPE, " setName: " + terminalId + " is already a member.", -1);
            return;
        }
    }
    nodes_.emplace_back(terminalId, name, FindAvailableNumber());
    CTrace::trace(SCOPE, " setName: " + terminalId + " plays on buffer " + std::to_string(nodes_.back().bufferId));
}

void CVoiceManager::removeName(const std::string& terminalId)
{
    CTrace::scopedAssertTrue(!terminalId.empty(), SCOPE, " removeName: empty terminal id.", -1);
    CCSHandler guard(&nodeLock_);
    for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
        if (it->terminalId != terminalId)
            continue;
        if (it->bufferId != CVTermNode::NO_BUFFER) {
            CCSHandler ids(&idLock_);
            freeIds_.push_back(it->bufferId);
        }
        nodes_.erase(it);
        return;
    }
    CTrace::scopedError(SCOPE, " removeName: " + terminalId + " is no member.", -1);
}

bool CVoiceManager::bufferOf(const std::string& terminalId, int* bufferId)
{
    CCSHandler guard(&nodeLock_);
    for (const CVTermNode& node : nodes_) {
        if (node.terminalId == terminalId) {
            *bufferId = node.bufferId;
            return true;
        }
    }
    return false;
}

size_t CVoiceManager::memberCount()
{
    CCSHandler guard(&nodeLock_);
    return nodes_.size();
}

void CVoiceManager::play(const std::string& callerId, const unsigned char* packet, size_t size)
{
    // The caller id and every header word come from a peer: all checked inside what arrived.
    if (callerId.empty())
        return drop("no caller id");
    if (packet == nullptr || size < 20)
        return drop(std::to_string(size) + " bytes, under a header");
    if (size > MAX_PACKET)
        return drop(std::to_string(size) + " bytes, over a datagram");
    const uint32_t type = wordAt(packet);
    const uint32_t nameOffset = wordAt(packet + 4);
    const uint64_t nameSize = wordAt(packet + 8);
    const uint64_t noteSize = wordAt(packet + 12);
    const uint64_t dataLength = wordAt(packet + 16);
    if (type != 0)
        return drop("unsupported packet type " + std::to_string(type));
    if (nameOffset < 20)
        return drop("name inside the header");
    const uint64_t dataStart = uint64_t(nameOffset) + nameSize + noteSize;
    if (dataStart + dataLength > size)
        return drop("fields past its " + std::to_string(size) + " bytes");
    if (dataLength != CVCConfig::CodecChunkSize)
        return drop(std::to_string(dataLength) + " codec bytes where a chunk is " +
                    std::to_string(CVCConfig::CodecChunkSize));
    int bufferId = CVTermNode::NO_BUFFER;
    if (!bufferOf(callerId, &bufferId))
        return drop("from " + callerId + ", an unregistered terminal");
    if (bufferId == CVTermNode::NO_BUFFER)
        return drop("from " + callerId + ", who has no sound buffer");
    playback_->SetData(packet + dataStart, DWORD(dataLength), bufferId);
}

void CVoiceManager::playSpeech(const std::string&, const std::string&) {}

void CVoiceManager::startRecording()
{
    master_->RecordSwitch(true);
}

void CVoiceManager::stopRecording()
{
    master_->RecordSwitch(false);
}
