#pragma once
// The voice engine of one terminal: the capture master that sends, the playback that plays
// each phone member in a sound buffer of its own, and the members with their buffer ids.
#include "CVTermNode.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

class CComMaster;
class CHvxcOut;
class INotifier;

class CVoiceManager {
public:
    // A voice packet is one datagram: what UDP can carry.
    static constexpr size_t MAX_PACKET = 65507;

    explicit CVoiceManager(INotifier* sink);
    virtual ~CVoiceManager();
    CVoiceManager(const CVoiceManager&) = delete;
    CVoiceManager& operator=(const CVoiceManager&) = delete;

    void setName(const std::string& terminalId, const std::string& name);
    void removeName(const std::string& terminalId);
    // A received voice packet from callerId: decoded into the caller's own buffer, or dropped.
    void play(const std::string& callerId, const unsigned char* packet, size_t size);
    // Received speech text: carried, and not acted on.
    void playSpeech(const std::string& callerId, const std::string& text);
    void startRecording();
    void stopRecording();

    // The member's buffer id; false when it has no node.
    bool bufferOf(const std::string& terminalId, int* bufferId);
    size_t memberCount();

    // Where the playback comes from; tests count its calls. Null restores ours (CHvxcOut on
    // the main window).
    using PlaybackFactory = CHvxcOut* (*)();
    static void setPlaybackFactory(PlaybackFactory factory);

private:
    int FindAvailableNumber();

    INotifier* sink_;
    CHvxcOut* playback_;
    CComMaster* master_;
    std::vector<CVTermNode> nodes_;
    std::deque<int> freeIds_;
    CRITICAL_SECTION nodeLock_;
    CRITICAL_SECTION idLock_;
};
