#include "CContent.h"

#include "CLeadImage.h"
#include "CMethodCallMessage.h"
#include "CPreferenceManager.h"
#include "CStage.h"
#include "CTrace.h"
#include "IChatGui.h"
#include "IContentDisplay.h"
#include "ISerializable.h"

#include <shlwapi.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <limits>
#include <new>

namespace {

const char SCOPE[] = "CContent";
const char EXE_EXTENSION[] = ".exe";
const char SPEECH_SEPARATOR = ' ';
const char SIZE_SEPARATOR = ' ';

// atoi's reading of a number: leading white space, an optional sign, the digits that follow;
// false when there are no digits or the value leaves 64 bits.
bool readLong(std::string_view text, long long* value)
{
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at])))
        return false;
    unsigned long long magnitude = 0;
    const unsigned long long limit = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        magnitude = magnitude * 10 + static_cast<unsigned>(text[at] - '0');
        if (magnitude > limit)
            return false;
    }
    *value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    std::string_view other(b);
    if (a.size() != other.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(other[i])))
            return false;
    return true;
}

std::string describeException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception";
    }
}

} // namespace

const char CContent::SPEAKER_DESC_SEP[] = "_SPEAKER_DESC_SEP_";
const char CContent::SPEAKER_DESC_SEP_MASKED[] = "-SPEAKER-DESC-SEP-";

// ---- construction

CContent* CContent::createContent(CStage* stage, const std::string& elemDesc)
{
    int width = 0;
    int height = 0;
    std::string location, size, motion, decoration, attribute, path;
    if (!CStage::parseElementDesc(elemDesc, &width, &height, &location, &size, &motion, &decoration, &attribute,
                                  &path)) {
        CTrace::scopedError(SCOPE, " createContent(): not an element descriptor: no content", -1);
        return nullptr;
    }
    try {
        if (CLeadImage::isImageFile(path)) {
            int length = 0;
            unsigned char* block = CLeadImage::createDIB(path, &width, &height, &length);
            // A picture that cannot be decoded is still a picture: it shows an empty block.
            if (block == nullptr) {
                CTrace::trace(SCOPE, " createContent(" + path + "): the picture yields no pixels", 0);
                block = new unsigned char[0];
                length = 0;
                width = 0;
                height = 0;
            }
            return new CContent(stage, elemDesc, location, size, motion, decoration, attribute,
                                static_cast<unsigned>(length), block, width, height, path);
        }
        std::string viewId = PathFindExtensionA(path.c_str());
        CContent* content =
            new CContent(stage, elemDesc, location, size, motion, decoration, attribute, viewId, path);
        if (equalsIgnoringCase(viewId, EXE_EXTENSION))
            content->loadIcon(path);
        return content;
    } catch (const std::bad_alloc&) {
        CTrace::scopedError(SCOPE, " createContent(): out of memory: no content", -1);
        return nullptr;
    }
}

CContent::CContent(CStage* stage, const std::string& elemDesc) : CViewableElement()
{
    commonInit(stage, elemDesc);
    int width = 0;
    int height = 0;
    std::string location, size, motion, decoration, attribute, path;
    if (CStage::parseElementDesc(elemDesc, &width, &height, &location, &size, &motion, &decoration, &attribute,
                                 &path))
        fileSize_ = readFileSize(attribute);
}

CContent::CContent(CStage* stage, const std::string& elemDesc, const std::string& location, const std::string& size,
                   const std::string& motion, const std::string& decoration, const std::string& attribute,
                   const std::string& viewId, const std::string& filePath)
    : CViewableElement(location, size, motion, decoration, attribute, viewId)
{
    commonInit(stage, elemDesc);
    filePath_ = filePath;
    fileSize_ = readFileSize(attribute);
}

CContent::CContent(CStage* stage, const std::string& elemDesc, const std::string& location, const std::string& size,
                   const std::string& motion, const std::string& decoration, const std::string& attribute,
                   unsigned viewDataSize, unsigned char* viewData, int viewWidth, int viewHeight,
                   const std::string& filePath)
    : CViewableElement(location, size, motion, decoration, attribute, viewDataSize, viewData, viewWidth, viewHeight)
{
    commonInit(stage, elemDesc);
    filePath_ = filePath;
    fileSize_ = readFileSize(attribute);
}

void CContent::commonInit(CStage* stage, const std::string& elemDesc)
{
    stage_ = stage;
    elemDesc_ = elemDesc;
    fileTransmitter_ = stage != nullptr ? stage->getFileTransmitter() : nullptr;
    fileCopy_ = stage != nullptr ? stage->getFileCopy() : nullptr;
    display_ = nullptr;
    fileSize_ = 0;
    iconBits_ = 0;
    firstOwnSpeech_ = true;
    speakersNotShown_ = true;
    registerMethod("INS_initIconImageData", &CContent::INS_initIconImageData);
    registerMethod("INS_initIconMaskData", &CContent::INS_initIconMaskData);
    registerMethod("INS_initIconBitsPerPixel", &CContent::INS_initIconBitsPerPixel);
    registerMethod("INS_initSDL", &CContent::INS_initSDL);
    registerMethod("LOC_setCopyEndNotifier", &CContent::LOC_setCopyEndNotifier);
    registerMethod("LOC_startFileCopy", &CContent::LOC_startFileCopy);
    registerMethod("LOC_startFileCopyForExec", &CContent::LOC_startFileCopyForExec);
    registerMethod("REQ_startFileTransmit", &CContent::REQ_startFileTransmit);
    registerMethod("LOC_onFileCopied", &CContent::LOC_onFileCopied);
    registerMethod("LOC_onFileReceived", &CContent::LOC_onFileReceived);
    registerMethod("INS_cancelFileTransmit", &CContent::INS_cancelFileTransmit);
    registerMethod("LOC_postSpeech", &CContent::LOC_postSpeech);
    registerMethod("COP_addSpeaker", &CContent::COP_addSpeaker);
    registerMethod("REQ_addSpeech", &CContent::REQ_addSpeech);
    registerMethod("INS_addSpeech", &CContent::INS_addSpeech);
    registerMethod("INS_notifyFileTransmit", &CContent::INS_notifyFileTransmit);
}

CContent::~CContent()
{
    CTrace::trace(SCOPE, " ~CContent()", 0);
}

// The associated icon of a program file at 32 x 32; kept only when both blocks are whole, as
// every replica checks them.
void CContent::loadIcon(const std::string& path)
{
    unsigned char* image = nullptr;
    unsigned char* mask = nullptr;
    short imageBits = 0;
    short maskBits = 0;
    int imageLength = CLeadImage::createIconDIBOf(path, &image, &imageBits, ICON_SIDE, ICON_SIDE);
    int maskLength = CLeadImage::createIconMaskDIBOf(path, &mask, &maskBits, ICON_SIDE, ICON_SIDE);
    if (image != nullptr && mask != nullptr && imageLength > 0 && imageLength == iconImageLength(imageBits)
        && maskLength == ICON_MASK_LENGTH) {
        iconImage_.assign(image, image + imageLength);
        iconMask_.assign(mask, mask + maskLength);
        iconBits_ = imageBits;
    } else {
        CTrace::trace(SCOPE, " loadIcon(" + path + "): no whole 32 x 32 icon (" + std::to_string(imageLength)
                                 + " bytes at " + std::to_string(imageBits) + " bits, mask "
                                 + std::to_string(maskLength) + " bytes)",
                      0);
    }
    delete[] image;
    delete[] mask;
}

std::vector<std::string> CContent::speakers() const
{
    std::lock_guard<std::mutex> hold(speakerLock_);
    return speakers_;
}

// ---- texts

long long CContent::readFileSize(std::string_view attribute)
{
    long long size = 0;
    if (!readLong(attribute.substr(0, attribute.find(SIZE_SEPARATOR)), &size) || size < 0)
        return 0;
    return size;
}

std::string CContent::joinSpeakerList(const std::vector<std::string>& speakers)
{
    std::string list;
    for (size_t i = 0; i < speakers.size(); ++i) {
        if (i > 0)
            list += SPEAKER_DESC_SEP;
        list += speakers[i];
    }
    return list;
}

std::vector<std::string> CContent::parseSpeakerList(std::string_view list)
{
    const std::string_view separator(SPEAKER_DESC_SEP);
    std::vector<std::string> speakers;
    size_t at = 0;
    while (at <= list.size()) {
        size_t end = list.find(separator, at);
        std::string_view entry = list.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (entry.empty())
            break;
        if (speakers.size() >= SPEAKER_LIMIT) {
            CTrace::scopedError(SCOPE, " parseSpeakerList(): more than " + std::to_string(SPEAKER_LIMIT)
                                           + " speakers: the rest is dropped",
                                -1);
            break;
        }
        if (entry.size() > SPEAKER_DATA_LIMIT)
            CTrace::scopedError(SCOPE, " parseSpeakerList(): a speaker of " + std::to_string(entry.size())
                                           + " bytes is left out",
                                -1);
        else if (std::find(speakers.begin(), speakers.end(), entry) != speakers.end())
            CTrace::scopedError(SCOPE, " parseSpeakerList(): a speaker listed twice is taken once", -1);
        else
            speakers.emplace_back(entry);
        if (end == std::string_view::npos)
            break;
        at = end + separator.size();
    }
    return speakers;
}

std::string CContent::makeSpeech(const std::string& terminalId, const std::string& referNum, const std::string& text)
{
    return terminalId + SPEECH_SEPARATOR + referNum + SPEECH_SEPARATOR + text;
}

bool CContent::parseSpeech(std::string_view speech, std::string* terminalId, std::string* referNum, std::string* text)
{
    if (speech.size() > SPEECH_LIMIT)
        return false;
    size_t first = speech.find(SPEECH_SEPARATOR);
    if (first == std::string_view::npos)
        return false;
    size_t second = speech.find(SPEECH_SEPARATOR, first + 1);
    if (second == std::string_view::npos)
        return false;
    *terminalId = std::string(speech.substr(0, first));
    *referNum = std::string(speech.substr(first + 1, second - first - 1));
    *text = std::string(speech.substr(second + 1));
    return true;
}

std::string CContent::speakerNickname(std::string_view nickname)
{
    const std::string_view separator(SPEAKER_DESC_SEP);
    std::string masked;
    masked.reserve(nickname.size());
    size_t at = 0;
    while (at < nickname.size()) {
        if (nickname.compare(at, separator.size(), separator) == 0) {
            masked += SPEAKER_DESC_SEP_MASKED;
            at += separator.size();
        } else {
            masked += nickname[at] == '\n' ? ' ' : nickname[at];
            ++at;
        }
    }
    return masked;
}

int CContent::iconImageLength(int bits)
{
    switch (bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return (ICON_SIDE * bits + 31) / 32 * 4 * ICON_SIDE;
    default:
        return 0;
    }
}

// ---- role checks: a call in the wrong role or at the wrong time comes from a peer; it is
// reported and left alone.

bool CContent::runsAs(bool master, const char* method) const
{
    if (isMaster() == master)
        return true;
    CTrace::scopedError(SCOPE, std::string(" \"") + method + "\" ran on " + (isMaster() ? "the master" : "a slave")
                                   + ": ignored",
                        -1);
    return false;
}

bool CContent::acceptsInit(const char* method) const
{
    if (!runsAs(false, method))
        return false;
    if (!isSynchronized())
        return true;
    CTrace::scopedError(SCOPE, std::string(" \"") + method + "\" ran after the synchronisation: ignored", -1);
    return false;
}

// ---- display

void CContent::onPlugInViewableElement(const std::string&)
{
    if (isMaster())
        bindDisplay("onPlugInViewableElement");
}

void CContent::onPlugOutViewableElement(const std::string&)
{
    // The stage releases the window itself.
    display_ = nullptr;
}

void CContent::bindDisplay(const char* operation)
{
    IElementDisplay* display = stage_ != nullptr ? stage_->getDisplay(elemDesc_) : nullptr;
    if (display == nullptr) {
        CTrace::trace(SCOPE, std::string(" ") + operation + "(): no display, the content lives without one", 0);
        return;
    }
    display_ = display;
    setElementDisplay(display);
    loadIconToDisplay();
}

void CContent::onSyncViewableElement()
{
    if (!runsAs(true, "onSyncViewableElement"))
        return;
    replyToCallerStr("INS_initSDL", joinSpeakerList(speakers()));
    if (iconImage_.empty() || iconMask_.empty())
        return;
    replyToCallerBuf("INS_initIconImageData", static_cast<int>(iconImage_.size()), iconImage_.data());
    replyToCallerBuf("INS_initIconMaskData", static_cast<int>(iconMask_.size()), iconMask_.data());
    replyToCallerStr("INS_initIconBitsPerPixel", std::to_string(iconBits_));
}

void CContent::onEndSyncViewableElement()
{
    if (!acceptsInit("onEndSyncViewableElement"))
        return;
    bindDisplay("onEndSyncViewableElement");
}

IContentDisplay* CContent::contentDisplay() const
{
    return dynamic_cast<IContentDisplay*>(display_);
}

bool CContent::hasWholeIcon() const
{
    return !iconImage_.empty() && static_cast<int>(iconImage_.size()) == iconImageLength(iconBits_)
           && static_cast<int>(iconMask_.size()) == ICON_MASK_LENGTH;
}

void CContent::loadIconToDisplay()
{
    IContentDisplay* display = contentDisplay();
    if (display == nullptr || iconImage_.empty() || iconMask_.empty()) {
        CTrace::trace(SCOPE, " loadIconToDisplay(): no icon or no content window", 0);
        return;
    }
    if (!hasWholeIcon()) {
        CTrace::scopedError(SCOPE, " loadIconToDisplay(): an image of " + std::to_string(iconImage_.size())
                                       + " bytes is no icon at " + std::to_string(iconBits_) + " bits: refused",
                            -1);
        return;
    }
    display->setIcon(static_cast<unsigned>(iconImage_.size()), iconImage_.data(),
                     static_cast<unsigned>(iconMask_.size()), iconMask_.data(), static_cast<std::uint16_t>(iconBits_),
                     1);
}

// ---- icon

void CContent::INS_initIconImageData(int size, const unsigned char* bytes)
{
    if (!acceptsInit("INS_initIconImageData"))
        return;
    if (!iconImage_.empty()) {
        CTrace::scopedError(SCOPE, " INS_initIconImageData: the icon image is set already: ignored", -1);
        return;
    }
    bool whole = bytes != nullptr && size > 0;
    if (whole) {
        whole = false;
        for (int bits : {1, 4, 8, 16, 24, 32})
            whole = whole || size == iconImageLength(bits);
    }
    if (!whole) {
        CTrace::scopedError(SCOPE, " INS_initIconImageData: " + std::to_string(size)
                                       + " bytes are no 32 x 32 icon image: refused",
                            -1);
        return;
    }
    iconImage_.assign(bytes, bytes + size);
}

void CContent::INS_initIconMaskData(int size, const unsigned char* bytes)
{
    if (!acceptsInit("INS_initIconMaskData"))
        return;
    if (!iconMask_.empty()) {
        CTrace::scopedError(SCOPE, " INS_initIconMaskData: the icon mask is set already: ignored", -1);
        return;
    }
    if (bytes == nullptr || size != ICON_MASK_LENGTH) {
        CTrace::scopedError(SCOPE, " INS_initIconMaskData: " + std::to_string(size)
                                       + " bytes are no 32 x 32 icon mask: refused",
                            -1);
        return;
    }
    iconMask_.assign(bytes, bytes + size);
}

void CContent::INS_initIconBitsPerPixel(const std::string& text)
{
    if (!acceptsInit("INS_initIconBitsPerPixel"))
        return;
    long long bits = 0;
    if (!readLong(text, &bits) || iconImageLength(static_cast<int>(std::clamp(bits, -1LL, 64LL))) == 0) {
        CTrace::scopedError(SCOPE, " INS_initIconBitsPerPixel: no icon depth: refused", -1);
        return;
    }
    iconBits_ = static_cast<std::int16_t>(bits);
}

// ---- file transfer: the local calls of the content window and the copy reports

void CContent::LOC_setCopyEndNotifier(ISerializable* notifier)
{
    CTrace::trace(SCOPE, " LOC_setCopyEndNotifier()", 0);
    delete notifier;
}

void CContent::LOC_startFileCopy(const std::string& destination)
{
    CTrace::trace(SCOPE, " LOC_startFileCopy(" + destination + ")", 0);
}

void CContent::LOC_startFileCopyForExec(const std::string& destination)
{
    CTrace::trace(SCOPE, " LOC_startFileCopyForExec(" + destination + ")", 0);
}

void CContent::REQ_startFileTransmit(const std::string& jobId)
{
    CTrace::trace(SCOPE, " REQ_startFileTransmit(" + jobId + ")", 0);
}

void CContent::LOC_onFileCopied(const std::string& report)
{
    CTrace::trace(SCOPE, " LOC_onFileCopied(" + report + ")", 0);
}

void CContent::LOC_onFileReceived(const std::string& report)
{
    CTrace::trace(SCOPE, " LOC_onFileReceived(" + report + ")", 0);
}

void CContent::INS_cancelFileTransmit(const std::string& jobId)
{
    CTrace::trace(SCOPE, " INS_cancelFileTransmit(" + jobId + ")", 0);
}

void CContent::INS_notifyFileTransmit(const std::string& jobId)
{
    CTrace::trace(SCOPE, " INS_notifyFileTransmit(" + jobId + ")", 0);
}

// ---- operation right

void CContent::onGainedOperation(const std::string& operatorTermId, const std::string& requestId)
{
    IContentDisplay* display = contentDisplay();
    if (display == nullptr)
        return;
    if (operatorTermId == CMethodCallMessage::INVALID_TERMINAL)
        CTrace::trace(SCOPE, " onGainedOperation(): nobody holds the right", 0);
    else if (operatorTermId == getTerminalId())
        display->onGainedMyOperation(requestId);
    else
        display->onGainedOperation(requestId);
}

void CContent::onLostOperation(const std::string& operatorTermId, const std::string& requestId)
{
    IContentDisplay* display = contentDisplay();
    if (display == nullptr || operatorTermId == CMethodCallMessage::INVALID_TERMINAL)
        return;
    if (operatorTermId == getTerminalId())
        display->onLostMyOperation(requestId);
    else
        display->onLostOperation(requestId);
}

// ---- speakers and speech

IChatGui* CContent::getChatGui() const
{
    IContentDisplay* display = contentDisplay();
    return display != nullptr ? display->getChatGui() : nullptr;
}

void CContent::INS_initSDL(const std::string& list)
{
    if (!acceptsInit("INS_initSDL"))
        return;
    std::vector<std::string> speakers = parseSpeakerList(list);
    std::lock_guard<std::mutex> hold(speakerLock_);
    speakers_.swap(speakers);
}

void CContent::LOC_postSpeech(const std::string& text)
{
    IChatGui* chat = getChatGui();
    if (chat == nullptr) {
        CTrace::trace(SCOPE, " LOC_postSpeech(): no chat", 0);
        return;
    }
    std::string referText = ownReferText_;
    if (firstOwnSpeech_)
        referText = std::to_string(stage_ != nullptr ? stage_->getReferNum() : 0);
    std::string speech = makeSpeech(getTerminalId(), referText, text);
    if (speech.size() > SPEECH_LIMIT) {
        CTrace::scopedError(SCOPE, " LOC_postSpeech(): a line of " + std::to_string(text.size())
                                       + " bytes is too long: dropped",
                            -1);
        return;
    }
    try {
        if (firstOwnSpeech_) {
            ownReferText_ = referText;
            CPreferenceManager* preferences = stage_ != nullptr ? stage_->getPreferenceManager() : nullptr;
            std::string nickname = preferences != nullptr ? preferences->getNickname() : std::string();
            std::string speakerData = chat->makeSpeakerData(getTerminalId(), speakerNickname(nickname), ownReferText_);
            COP_addSpeaker(speakerData);
            firstOwnSpeech_ = false;
            requestMasterMethod("COP_addSpeaker", speakerData);
        }
        if (isMaster())
            REQ_addSpeech(speech);
        else
            sendToMasterStr("REQ_addSpeech", speech);
    } catch (...) {
        CTrace::scopedError(SCOPE, " LOC_postSpeech(): not sent: " + describeException(), -1);
    }
}

// The master list keeps each speaker once and at most SPEAKER_LIMIT of them.
bool CContent::takeSpeaker(const std::string& speakerData)
{
    std::lock_guard<std::mutex> hold(speakerLock_);
    if (std::find(speakers_.begin(), speakers_.end(), speakerData) != speakers_.end())
        return true;
    if (speakers_.size() >= SPEAKER_LIMIT)
        return false;
    speakers_.push_back(speakerData);
    return true;
}

void CContent::COP_addSpeaker(const std::string& speakerData)
{
    // Data holding the list's separator would split into other speakers, or end the list, on
    // every terminal that joins later.
    if (speakerData.empty() || speakerData.size() > SPEAKER_DATA_LIMIT
        || speakerData.find(SPEAKER_DESC_SEP) != std::string::npos) {
        CTrace::scopedError(SCOPE, " COP_addSpeaker: speaker data of " + std::to_string(speakerData.size())
                                       + " bytes that the speaker list cannot carry: refused",
                            -1);
        return;
    }
    if (isMaster() && !takeSpeaker(speakerData)) {
        CTrace::scopedError(SCOPE, " COP_addSpeaker: " + std::to_string(SPEAKER_LIMIT)
                                       + " speakers already: refused",
                            -1);
        return;
    }
    IChatGui* chat = getChatGui();
    if (chat == nullptr) {
        CTrace::trace(SCOPE, " COP_addSpeaker: no chat", 0);
        return;
    }
    chat->addSpeaker(speakerData);
}

void CContent::REQ_addSpeech(const std::string& speech)
{
    if (!runsAs(true, "REQ_addSpeech"))
        return;
    std::string terminalId, referNum, text;
    if (!parseSpeech(speech, &terminalId, &referNum, &text)) {
        CTrace::scopedError(SCOPE, " REQ_addSpeech: no speech: dropped", -1);
        return;
    }
    showSpeech(speech);
    try {
        sendToSlavesStr("INS_addSpeech", speech);
    } catch (...) {
        CTrace::scopedError(SCOPE, " REQ_addSpeech: not relayed: " + describeException(), -1);
    }
}

void CContent::INS_addSpeech(const std::string& speech)
{
    if (!runsAs(false, "INS_addSpeech"))
        return;
    std::string terminalId, referNum, text;
    if (!parseSpeech(speech, &terminalId, &referNum, &text)) {
        CTrace::scopedError(SCOPE, " INS_addSpeech: no speech: dropped", -1);
        return;
    }
    showSpeech(speech);
}

void CContent::showSpeech(const std::string& speech)
{
    IChatGui* chat = getChatGui();
    if (chat == nullptr) {
        CTrace::trace(SCOPE, " showSpeech(): no chat", 0);
        return;
    }
    if (speakersNotShown_) {
        for (const std::string& speaker : speakers())
            chat->addSpeaker(speaker);
        speakersNotShown_ = false;
    }
    std::string terminalId, referNum, text;
    parseSpeech(speech, &terminalId, &referNum, &text);
    chat->addSpeech(terminalId, text);
    if (IContentDisplay* display = contentDisplay())
        display->onSpeech(referNum);
}
