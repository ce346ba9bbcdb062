#pragma once
// One item of the shared Stage: a dropped picture, any other dropped file, or a terminal's
// mouse cursor. The original (master copy) lives on the terminal that owns the file; every
// other terminal's stage holds a replica made from the same element descriptor. Beside the
// viewable element's values a content carries the icon of a program file and the chat about
// the item: its speakers and the lines that travel through the master copy to every copy.
//
// Threads: the registered methods and the hooks run on the content's handler thread; the
// display is reached only through IElementDisplay (IContentDisplay for a content window),
// which moves the work onto the window's thread. The speaker list alone is also read by other
// threads (speakers()), under its own lock.
#include "CViewableElement.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class CFileCopy;
class CStage;
class IChatGui;
class IContentDisplay;
class IElementDisplay;
class IFileTransmitter;
class ISerializable;

class CContent : public CViewableElement {
public:
    // Between the entries of a speaker list.
    static const char SPEAKER_DESC_SEP[];
    // What a nickname's SPEAKER_DESC_SEP becomes in speaker data, so that the list keeps it as
    // one entry.
    static const char SPEAKER_DESC_SEP_MASKED[];

    // Speakers a content keeps (every list entry comes from a peer): far above the terminals of
    // a session.
    static constexpr size_t SPEAKER_LIMIT = 256;
    // Longest speaker data: a terminal id, a reference number and a 255-character nickname with
    // room to spare.
    static constexpr size_t SPEAKER_DATA_LIMIT = 1024;
    // Longest speech: a chat line far beyond what the input line takes.
    static constexpr size_t SPEECH_LIMIT = 65536;
    // The icon that travels: 32 x 32 pixels, its mask at one bit per pixel.
    static constexpr int ICON_SIDE = 32;
    static constexpr int ICON_MASK_LENGTH = ICON_SIDE * ICON_SIDE / 8;

    // A new original of the descriptor (its picture decoded, or its extension as view id and,
    // for a program file, its icon), or null when it cannot be made.
    static CContent* createContent(CStage* stage, const std::string& elemDesc);
    // A replica: its view values, icon and speakers arrive while it synchronises.
    CContent(CStage* stage, const std::string& elemDesc);
    ~CContent() override;

    const std::string& getElementDesc() const { return elemDesc_; }
    // The file on the owner terminal; empty on a replica.
    const std::string& getFilePath() const { return filePath_; }
    long long getFileSize() const { return fileSize_; }
    // The speaker list as this copy keeps it, in order.
    std::vector<std::string> speakers() const;

    // ---- texts

    // The first blank-separated field of an attribute as a byte count: 0 when it is missing,
    // negative or beyond 63 bits.
    static long long readFileSize(std::string_view attribute);
    // The entries joined by SPEAKER_DESC_SEP.
    static std::string joinSpeakerList(const std::vector<std::string>& speakers);
    // The entries up to the first empty one; an entry over SPEAKER_DATA_LIMIT is left out, an
    // entry equal to an earlier one is not taken twice, after SPEAKER_LIMIT entries the rest is
    // dropped (each with an error line).
    static std::vector<std::string> parseSpeakerList(std::string_view list);
    // "terminal reference text"; the text is all after the second blank.
    static std::string makeSpeech(const std::string& terminalId, const std::string& referNum,
                                  const std::string& text);
    // False for a speech over SPEECH_LIMIT or with fewer than two blanks.
    static bool parseSpeech(std::string_view speech, std::string* terminalId, std::string* referNum,
                            std::string* text);
    // The nickname as speaker data carries it: SPEAKER_DESC_SEP masked, line feeds as blanks.
    static std::string speakerNickname(std::string_view nickname);
    // The image length of a whole icon at the depth (1, 4, 8, 16, 24 or 32), else 0.
    static int iconImageLength(int bits);

protected:
    void onPlugInViewableElement(const std::string& text) override;
    void onPlugOutViewableElement(const std::string& text) override;
    void onSyncViewableElement() override;
    void onEndSyncViewableElement() override;
    void onGainedOperation(const std::string& operatorTermId, const std::string& requestId) override;
    void onLostOperation(const std::string& operatorTermId, const std::string& requestId) override;

private:
    // An original shown by a view id.
    CContent(CStage* stage, const std::string& elemDesc, const std::string& location, const std::string& size,
             const std::string& motion, const std::string& decoration, const std::string& attribute,
             const std::string& viewId, const std::string& filePath);
    // An original shown by a picture (the content takes the block over).
    CContent(CStage* stage, const std::string& elemDesc, const std::string& location, const std::string& size,
             const std::string& motion, const std::string& decoration, const std::string& attribute,
             unsigned viewDataSize, unsigned char* viewData, int viewWidth, int viewHeight,
             const std::string& filePath);
    void commonInit(CStage* stage, const std::string& elemDesc);
    void loadIcon(const std::string& path);
    void bindDisplay(const char* operation);
    void loadIconToDisplay();
    bool hasWholeIcon() const;
    IContentDisplay* contentDisplay() const;
    IChatGui* getChatGui() const;
    bool acceptsInit(const char* method) const;
    bool runsAs(bool master, const char* method) const;
    bool takeSpeaker(const std::string& speakerData);
    void showSpeech(const std::string& speech);

    // Registered methods.
    void INS_initIconImageData(int size, const unsigned char* bytes);
    void INS_initIconMaskData(int size, const unsigned char* bytes);
    void INS_initIconBitsPerPixel(const std::string& text);
    void INS_initSDL(const std::string& list);
    void LOC_setCopyEndNotifier(ISerializable* notifier);
    void LOC_startFileCopy(const std::string& destination);
    void LOC_startFileCopyForExec(const std::string& destination);
    void REQ_startFileTransmit(const std::string& jobId);
    void LOC_onFileCopied(const std::string& report);
    void LOC_onFileReceived(const std::string& report);
    void INS_cancelFileTransmit(const std::string& jobId);
    void LOC_postSpeech(const std::string& text);
    void COP_addSpeaker(const std::string& speakerData);
    void REQ_addSpeech(const std::string& speech);
    void INS_addSpeech(const std::string& speech);
    void INS_notifyFileTransmit(const std::string& jobId);

    CStage* stage_;
    std::string elemDesc_;
    IFileTransmitter* fileTransmitter_;
    CFileCopy* fileCopy_;
    IElementDisplay* display_; // handler thread: from plug-in or end of synchronisation to plug-out
    std::string filePath_;
    long long fileSize_;
    std::vector<unsigned char> iconImage_; // empty when none
    std::vector<unsigned char> iconMask_;
    std::int16_t iconBits_;
    bool firstOwnSpeech_;
    bool speakersNotShown_;
    std::string ownReferText_;
    mutable std::mutex speakerLock_; // innermost; never held while calling out
    std::vector<std::string> speakers_; // speakerLock_
};
