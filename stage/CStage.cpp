#include "CStage.h"

#include "CContent.h"
#include "CFileCopy.h"
#include "CInteger.h"
#include "CJException.h"
#include "CJString.h"
#include "CLeadImage.h"
#include "CLocalMethod.h"
#include "CPreferenceManager.h"
#include "CSharedElement.h"
#include "CTavUtility.h"
#include "CTrace.h"
#include "IGuiHandle.h"
#include "IStageView.h"

#include <atomic>
#include <climits>

namespace {

const char SCOPE[] = "CStage";

// Descriptors are made on the UI thread (dropped files) and on the stage's handler thread
// (cursors): one atomic step takes the serial and advances it.
std::atomic<int> g_serial{0};

const int DESC_SEPARATORS = 8;

const char INS_SET_CUSTOM_BG_DATA_ID[] = "INS_setCustomBgDataId";
const char INS_SET_CUSTOM_BG_SIZE[] = "INS_setCustomBgSize";
const char INS_INIT_REFER_NUM[] = "INS_initReferNum";
const char INS_INIT_CUSTOM_BG_DATA[] = "INS_initCustomBgData";
const char INS_INIT_BACK_GROUND[] = "INS_initBackGround";
const char INS_INIT_LOWER_LAYER[] = "INS_initLowerLayer";
const char LOC_UPDATE_BACK_GROUND[] = "LOC_updateBackGround";
const char LOC_UPDATE_CUSTOM_BG_FILE[] = "LOC_updateCustomBgFile";
const char LOC_CHANGE_TOP[] = "LOC_changeTop";
const char LOC_CHANGE_BOTTOM[] = "LOC_changeBottom";
const char LOC_PLACE_TOP_MOST[] = "LOC_placeTopMost";
const char REQ_CHANGE_TOP[] = "REQ_changeTop";
const char REQ_CHANGE_BOTTOM[] = "REQ_changeBottom";
const char REQ_PLACE_TOP_MOST[] = "REQ_placeTopMost";
const char INS_CHANGE_CUSTOM_BG_DATA[] = "INS_changeCustomBgData";
const char INS_CHANGE_BACK_GROUND[] = "INS_changeBackGround";
const char INS_MOVE_TO_TOP[] = "INS_moveToTop";
const char INS_MOVE_TO_BOTTOM[] = "INS_moveToBottom";
const char INS_MOVE_TO_UPPER_LAYER[] = "INS_moveToUpperLayer";
const char LOC_COPY[] = "LOC_copy";
const char LOC_ON_FILE_COPIED[] = "LOC_onFileCopied";
const char LOC_INSTALL[] = "LOC_install";

// The custom background's pixel block: 24-bit rows, each padded to 4 bytes.
long long customDataLength(int width, int height) {
    return static_cast<long long>((3 * width + 3) & ~3) * height;
}

}  // namespace

const char CStage::ELEMENT_ID[] = "45DBCEE0-A388-11d4-AFDB-00105A67EDD0";
const std::string CStage::ELEM_DESC_SEP = "_ELEM_DESC_SEP_";
const std::string CStage::ALIGN_DESC_SEP = "_ALIGN_DESC_SEP_";
const std::string CStage::CURSOR_PATH = "*.*";
const std::string CStage::SIZE_FIELD = "size";
const std::string CStage::MOTION_FIELD = "motion";

const std::string& CStage::getStageId() {
    static const std::string id = CTavUtility::newGuidString();
    return id;
}

std::string CStage::makeElementDesc(const std::string& location, const std::string& size,
                                    const std::string& motion, const std::string& decoration,
                                    const std::string& attribute, const std::string& path,
                                    int width, int height) {
    const std::string& stageId = getStageId();
    int serial = g_serial.fetch_add(1);
    std::string desc = CInteger::toString(serial) + "_" + stageId;
    desc += ELEM_DESC_SEP + CInteger::toString(width);
    desc += ELEM_DESC_SEP + CInteger::toString(height);
    desc += ELEM_DESC_SEP + location;
    desc += ELEM_DESC_SEP + size;
    desc += ELEM_DESC_SEP + motion;
    desc += ELEM_DESC_SEP + decoration;
    desc += ELEM_DESC_SEP + attribute;
    desc += ELEM_DESC_SEP + path;
    return desc;
}

bool CStage::parseElementDesc(const std::string& desc, int* width, int* height, std::string* location,
                              std::string* size, std::string* motion, std::string* decoration,
                              std::string* attribute, std::string* path) {
    if (desc.size() > MAX_DESC_LENGTH)
        return false;
    // The fields up to the path, each ending at its separator; the path runs to the end.
    std::string fields[DESC_SEPARATORS];
    size_t position = 0;
    for (int n = 0; n < DESC_SEPARATORS; ++n) {
        size_t found = desc.find(ELEM_DESC_SEP, position);
        if (found == std::string::npos)
            return false;
        fields[n] = desc.substr(position, found - position);
        position = found + ELEM_DESC_SEP.size();
    }
    *width = CInteger::parseInt(fields[1]);
    *height = CInteger::parseInt(fields[2]);
    *location = fields[3];
    *size = fields[4];
    *motion = fields[5];
    *decoration = fields[6];
    *attribute = fields[7];
    *path = desc.substr(position);
    return true;
}

bool CStage::isCursorDesc(const std::string& desc) {
    int width = 0, height = 0;
    std::string location, size, motion, decoration, attribute, path;
    return parseElementDesc(desc, &width, &height, &location, &size, &motion, &decoration, &attribute, &path)
           && path == CURSOR_PATH;
}

std::string CStage::joinDesc(CVector& entries, const std::string& separator) {
    std::string joined;
    int count = entries.size();
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            joined += separator;
        joined += objectToString(entries.elementAt(i));
    }
    return joined;
}

std::vector<std::string> CStage::parseLayerList(std::string_view list) {
    std::vector<std::string> keys;
    const std::string_view separator = ALIGN_DESC_SEP;
    size_t position = 0;
    while (position < list.size()) {
        size_t found = list.find(separator, position);
        size_t end = found == std::string_view::npos ? list.size() : found;
        if (end == position)
            break;
        if (keys.size() == LAYER_KEY_LIMIT) {
            CTrace::scopedError(SCOPE, " parseLayerList(): more than " + std::to_string(LAYER_KEY_LIMIT)
                                           + " keys in a layer list of " + std::to_string(list.size())
                                           + " bytes: the rest is dropped",
                                -1);
            break;
        }
        keys.emplace_back(list.substr(position, end - position));
        if (found == std::string_view::npos)
            break;
        position = found + separator.size();
    }
    return keys;
}

std::string CStage::sizeToString(int width, int height) {
    return CInteger::toString(width) + " " + CInteger::toString(height);
}

void CStage::parseSize(std::string_view text, int* width, int* height) {
    size_t blank = text.find(' ');
    *width = parseNumber(text.substr(0, blank));
    if (blank == std::string_view::npos) {
        *height = 0;
        return;
    }
    std::string_view rest = text.substr(blank + 1);
    *height = parseNumber(rest.substr(0, rest.find(' ')));
}

int CStage::parseNumber(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(value);
}

// ---- the model

CStage::CStage(ISessionHandle* session, bool master, IGuiHandle* gui, CPreferenceManager* prefs,
               CFileCopy* fileCopy)
    : CSharedSpace(session, master),
      view_(nullptr),
      fileTransmitter_(nullptr),
      prefs_(prefs),
      fileCopy_(fileCopy),
      referenceList_(10, -1),
      referNum_(0),
      backgroundNumber_(0),
      customDataId_(0),
      customDataChanged_(true),
      customWidth_(0),
      customHeight_(0) {
    setId(ELEMENT_ID);
    if (gui != nullptr) {
        try {
            view_ = gui->getStageView();
        } catch (CJException& e) {
            CTrace::scopedError(SCOPE, " CStage(): no stage view: " + e.toString(), -1);
        }
        fileTransmitter_ = gui->getFileTransmitter();
    }
    if (prefs_ != nullptr) {
        ownTerminalId_ = prefs_->getTerminalId();
        backgroundNumber_ = prefs_->getViewBg();
        customBgFile_ = prefs_->getCustomBg();
    }
    registerMethod(INS_SET_CUSTOM_BG_DATA_ID, &CStage::INS_setCustomBgDataId);
    registerMethod(INS_SET_CUSTOM_BG_SIZE, &CStage::INS_setCustomBgSize);
    registerMethod(INS_INIT_REFER_NUM, &CStage::INS_initReferNum);
    registerMethod(INS_INIT_CUSTOM_BG_DATA, &CStage::INS_initCustomBgData);
    registerMethod(INS_INIT_BACK_GROUND, &CStage::INS_initBackGround);
    registerMethod(INS_INIT_LOWER_LAYER, &CStage::INS_initLowerLayer);
    registerMethod(LOC_UPDATE_BACK_GROUND, &CStage::LOC_updateBackGround);
    registerMethod(LOC_UPDATE_CUSTOM_BG_FILE, &CStage::LOC_updateCustomBgFile);
    registerMethod(LOC_CHANGE_TOP, &CStage::LOC_changeTop);
    registerMethod(LOC_CHANGE_BOTTOM, &CStage::LOC_changeBottom);
    registerMethod(LOC_PLACE_TOP_MOST, &CStage::LOC_placeTopMost);
    registerMethod(REQ_CHANGE_TOP, &CStage::REQ_changeTop);
    registerMethod(REQ_CHANGE_BOTTOM, &CStage::REQ_changeBottom);
    registerMethod(REQ_PLACE_TOP_MOST, &CStage::REQ_placeTopMost);
    registerMethod(INS_CHANGE_CUSTOM_BG_DATA, &CStage::INS_changeCustomBgData);
    registerMethod(INS_CHANGE_BACK_GROUND, &CStage::INS_changeBackGround);
    registerMethod(INS_MOVE_TO_TOP, &CStage::INS_moveToTop);
    registerMethod(INS_MOVE_TO_BOTTOM, &CStage::INS_moveToBottom);
    registerMethod(INS_MOVE_TO_UPPER_LAYER, &CStage::INS_moveToUpperLayer);
    registerMethod(LOC_COPY, &CStage::LOC_copy);
    registerMethod(LOC_ON_FILE_COPIED, &CStage::LOC_onFileCopied);
    getStageId();
}

CStage::~CStage() {
    clearReferences();
}

std::string CStage::getElementId() const {
    return ELEMENT_ID;
}

CPreferenceManager* CStage::getPreferenceManager() {
    return prefs_;
}

IFileTransmitter* CStage::getFileTransmitter() {
    return fileTransmitter_;
}

CFileCopy* CStage::getFileCopy() {
    return fileCopy_;
}

int CStage::getReferNum() {
    return referNum_;
}

// ---- checks

bool CStage::onSlave(const char* method) {
    if (!isMaster())
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + method + "(): only a slave copy takes it, this is the master: ignored",
                        -1);
    return false;
}

bool CStage::onMaster(const char* method) {
    if (isMaster())
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + method + "(): only the master copy takes it, this is a slave: ignored",
                        -1);
    return false;
}

bool CStage::beforeSync(const char* method) {
    if (!onSlave(method))
        return false;
    if (!isSynchronized())
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + method + "(): the copy is synchronised already: ignored", -1);
    return false;
}

bool CStage::afterSync(const char* method) {
    if (!onSlave(method))
        return false;
    if (isSynchronized())
        return true;
    CTrace::trace(SCOPE, std::string(" ") + method + "(): not synchronised yet: ignored", 0);
    return false;
}

bool CStage::isBackground(int number, const char* method) {
    if (number >= 0 && number <= LAST_BACKGROUND)
        return true;
    CTrace::scopedError(SCOPE, std::string(" ") + method + "(" + std::to_string(number)
                                   + "): no such background: ignored",
                        -1);
    return false;
}

// ---- sends

void CStage::toSlaves(const char* method, const std::string& text) {
    try {
        sendToSlavesStr(method, text);
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, std::string(" ") + method + " cannot be sent to the slaves: " + e.toString(), -1);
    }
}

void CStage::toSlavesBuf(const char* method, const std::vector<unsigned char>& bytes) {
    try {
        sendToSlavesBuf(method, static_cast<int>(bytes.size()), bytes.data());
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, std::string(" ") + method + " cannot be sent to the slaves: " + e.toString(), -1);
    }
}

void CStage::toMaster(const char* method, const std::string& text) {
    try {
        sendToMasterStr(method, text);
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, std::string(" ") + method + " cannot be sent to the master: " + e.toString(), -1);
    }
}

void CStage::toCaller(const char* method, const std::string& text) {
    try {
        replyToCallerStr(method, text);
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, std::string(" ") + method + " cannot be sent to the caller: " + e.toString(), -1);
    }
}

void CStage::toCallerBuf(const char* method, const std::vector<unsigned char>& bytes) {
    try {
        replyToCallerBuf(method, static_cast<int>(bytes.size()), bytes.data());
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, std::string(" ") + method + " cannot be sent to the caller: " + e.toString(), -1);
    }
}

// ---- displays

IElementDisplay* CStage::getDisplay(const std::string& elemDesc) {
    bool cursor = isCursorDesc(elemDesc);
    bool own = false;
    {
        std::lock_guard<std::mutex> hold(displayLock_);
        if (displayed_.count(elemDesc) != 0) {
            CTrace::scopedError(SCOPE, " getDisplay(" + elemDesc + "): the key has a display already: none made", -1);
            return nullptr;
        }
        displayed_.insert(elemDesc);
        // A replica naming this terminal is someone else's cursor: only the one installed here
        // follows this terminal's mouse.
        own = cursor && elemDesc == ownCursorDesc_;
    }
    IElementDisplay* display = nullptr;
    if (view_ != nullptr)
        display = cursor ? view_->getCursorDisplay(elemDesc, own) : view_->getElementDisplay(elemDesc);
    if (display == nullptr) {
        CTrace::trace(SCOPE, " getDisplay(" + elemDesc + "): the view gave no display", 0);
        std::lock_guard<std::mutex> hold(displayLock_);
        displayed_.erase(elemDesc);
    }
    return display;
}

void CStage::releaseDisplay(const std::string& key) {
    {
        std::lock_guard<std::mutex> hold(displayLock_);
        if (displayed_.erase(key) == 0) {
            CTrace::trace(SCOPE, " releaseDisplay(" + key + "): the key has no display", 0);
            return;
        }
    }
    if (view_ != nullptr)
        view_->releaseDisplay(key);
}

// ---- reference numbers

void CStage::clearReferences() {
    referenceList_.deleteAllElements();
    referenceLeft_.clear();
    latestReference_.clear();
}

// A terminal that asks again without having left keeps its number; one that left gets a new
// one. -1 when the master has handed out all it may.
int CStage::referenceFor(const std::string& terminalId) {
    auto latest = latestReference_.find(terminalId);
    if (latest != latestReference_.end() && !referenceLeft_[latest->second])
        return latest->second;
    int number = referenceList_.size();
    if (number >= REFERENCE_LIMIT) {
        CTrace::scopedError(SCOPE, " onSyncSharedSpace(): " + std::to_string(REFERENCE_LIMIT)
                                       + " reference numbers are handed out, the most there may be: [" + terminalId
                                       + "] gets none",
                            -1);
        return -1;
    }
    referenceList_.addElement(new CJString(terminalId));
    referenceLeft_.push_back(false);
    latestReference_[terminalId] = number;
    return number;
}

// ---- the space's hooks

CSharedElement* CStage::createOriginalElement(const std::string& elemDesc) {
    return CContent::createContent(this, elemDesc);
}

// A descriptor that does not read is no element: a peer's install of it makes no replica.
CSharedElement* CStage::createReplicaElement(const std::string& elemDesc) {
    int width = 0, height = 0;
    std::string location, size, motion, decoration, attribute, path;
    if (!parseElementDesc(elemDesc, &width, &height, &location, &size, &motion, &decoration, &attribute, &path)) {
        CTrace::scopedError(SCOPE, " createReplicaElement(): [" + elemDesc.substr(0, 256)
                                       + "] is no element descriptor: no replica",
                            -1);
        return nullptr;
    }
    return new CContent(this, elemDesc);
}

void CStage::onPlugInSharedSpace(const std::string&) {
    if (view_ == nullptr) {
        CTrace::scopedError(SCOPE, " onPlugInSharedSpace(): no stage view is set: the stage shows nothing", -1);
    } else {
        view_->setStage(this);
    }
    if (!isMaster())
        return;
    clearReferences();
    referenceFor(ownTerminalId_);
    referNum_ = 0;
    if (view_ != nullptr)
        view_->setStatus(0);
    prepareCustomData();
    showCustomData();
    if (view_ != nullptr) {
        view_->changeBackGround(backgroundNumber_);
        view_->onInitialized();
    }
    installOwnCursor();
}

void CStage::onPlugOutSharedSpace(const std::string&) {
    if (isMaster())
        clearReferences();
}

void CStage::onSyncSharedSpace() {
    if (!onMaster("onSyncSharedSpace"))
        return;
    std::string caller;
    try {
        caller = getCallerTerminal();
    } catch (CJException& e) {
        CTrace::scopedFatalError(SCOPE, " onSyncSharedSpace(): caller terminal not set: " + e.toString(), -1);
    }
    int number = referenceFor(caller);
    if (number >= 0)
        toCaller(INS_INIT_REFER_NUM, CInteger::toString(number));
    if (view_ != nullptr && backgroundNumber_ == view_->getCustomBgNumber())
        sendCustomData(INS_INIT_CUSTOM_BG_DATA, true);
    toCaller(INS_INIT_BACK_GROUND, CInteger::toString(backgroundNumber_));
    CVector keys(10, -1);
    if (view_ != nullptr)
        view_->lowerLayerAlignment(keys);
    std::string list = joinDesc(keys, ALIGN_DESC_SEP);
    keys.deleteAllElements();
    toCaller(INS_INIT_LOWER_LAYER, list);
}

void CStage::onEndSyncSharedSpace() {
    if (!beforeSync("onEndSyncSharedSpace"))
        return;
    if (view_ != nullptr) {
        view_->setStatus(referNum_);
        view_->onInitialized();
    }
    installOwnCursor();
}

void CStage::onBeforePlugInOrgElem(const std::string&, CSharedElement*) {}

void CStage::onAfterPlugInOrgElem(const std::string& elemDesc, CSharedElement*) {
    if (view_ != nullptr)
        view_->onElementInstalled(elemDesc);
}

void CStage::onBeforePlugOutOrgElem(const std::string&, CSharedElement*) {}

void CStage::onAfterPlugOutOrgElem(const std::string& elemDesc, CSharedElement*) {
    releaseDisplay(elemDesc);
}

void CStage::onBeforePlugInRplElem(const std::string&, CSharedElement*) {}

void CStage::onAfterPlugInRplElem(const std::string&, CSharedElement*) {}

void CStage::onBeforePlugOutRplElem(const std::string&, CSharedElement*) {}

void CStage::onAfterPlugOutRplElem(const std::string& elemDesc, CSharedElement*) {
    releaseDisplay(elemDesc);
}

// The master marks the terminal as gone, so that its next synchronisation takes a new number.
void CStage::onRemoveAllRplElems(const std::string& termId) {
    if (!isMaster() || termId == ownTerminalId_)
        return;
    auto latest = latestReference_.find(termId);
    if (latest != latestReference_.end())
        referenceLeft_[latest->second] = true;
}

void CStage::installOwnCursor() {
    std::string desc = makeElementDesc("0 0", SIZE_FIELD, MOTION_FIELD, CInteger::toString(referNum_),
                                       ownTerminalId_, CURSOR_PATH, DESC_WIDTH, DESC_HEIGHT);
    {
        std::lock_guard<std::mutex> hold(displayLock_);
        ownCursorDesc_ = desc;
    }
    try {
        CLocalMethod::postMethodStr(getObjectId(), LOC_INSTALL, desc);
    } catch (CJException& e) {
        CTrace::scopedError(SCOPE, " installOwnCursor(): " + e.toString(), -1);
    }
}

// ---- custom background

void CStage::prepareCustomData() {
    customData_.clear();
    customWidth_ = 0;
    customHeight_ = 0;
    if (!customBgFile_.empty() && CLeadImage::isImageFile(customBgFile_)) {
        int width = 0, height = 0, length = 0;
        if (view_ != nullptr)
            view_->getStageSize(width, height);
        unsigned char* block = CLeadImage::createDIB(customBgFile_, &width, &height, &length);
        if (block != nullptr && length > 0) {
            customData_.assign(block, block + length);
            customWidth_ = width;
            customHeight_ = height;
        } else {
            CTrace::trace(SCOPE, " prepareCustomData(" + customBgFile_ + "): the picture cannot be loaded", 0);
        }
        delete[] block;
    } else {
        CTrace::trace(SCOPE, " prepareCustomData(" + customBgFile_ + "): not a picture, no thumbnail can be made", 0);
    }
    ++customDataId_;
}

void CStage::showCustomData() {
    if (view_ != nullptr)
        view_->changeCustomBgData(static_cast<unsigned>(customData_.size()),
                                  customData_.empty() ? nullptr : customData_.data(), customWidth_, customHeight_);
}

// The version first, then the size, then the bytes: a slave takes bytes only of a new version.
void CStage::sendCustomData(const char* dataMethod, bool toCallerOnly) {
    std::string id = CInteger::toString(customDataId_);
    std::string size = sizeToString(customWidth_, customHeight_);
    if (toCallerOnly) {
        toCaller(INS_SET_CUSTOM_BG_DATA_ID, id);
        toCaller(INS_SET_CUSTOM_BG_SIZE, size);
        toCallerBuf(dataMethod, customData_);
    } else {
        toSlaves(INS_SET_CUSTOM_BG_DATA_ID, id);
        toSlaves(INS_SET_CUSTOM_BG_SIZE, size);
        toSlavesBuf(dataMethod, customData_);
    }
}

// Bytes from the master become the picture only when they fill the announced size exactly.
void CStage::takeCustomData(const char* method, int size, const unsigned char* bytes) {
    if (!customDataChanged_) {
        CTrace::trace(SCOPE, std::string(" ") + method + "(): this version is held already", 0);
        return;
    }
    if (size < 0 || (size > 0 && bytes == nullptr)) {
        CTrace::scopedError(SCOPE, std::string(" ") + method + "(): a block of " + std::to_string(size)
                                       + " bytes: refused",
                            -1);
        return;
    }
    // An empty block is the master's word that it has no picture.
    if (size > 0) {
        bool sides = customWidth_ >= 1 && customWidth_ <= CUSTOM_SIDE_LIMIT && customHeight_ >= 1
                     && customHeight_ <= CUSTOM_SIDE_LIMIT;
        if (!sides || customDataLength(customWidth_, customHeight_) != size) {
            CTrace::scopedError(SCOPE, std::string(" ") + method + "(): " + std::to_string(size)
                                           + " bytes do not make a picture of "
                                           + sizeToString(customWidth_, customHeight_) + ": refused",
                                -1);
            return;
        }
    }
    customData_.assign(bytes, bytes + size);
    showCustomData();
}

// ---- remote and local methods

void CStage::INS_setCustomBgDataId(const std::string& id) {
    CTrace::trace(SCOPE, " INS_setCustomBgDataId(" + id + ")", 0);
    if (!onSlave(INS_SET_CUSTOM_BG_DATA_ID))
        return;
    // Held as the number it reads as: a peer's text is not kept at any length.
    std::string announced = CInteger::toString(parseNumber(id));
    customDataChanged_ = announced != slaveCustomDataId_;
    slaveCustomDataId_ = announced;
}

void CStage::INS_setCustomBgSize(const std::string& size) {
    CTrace::trace(SCOPE, " INS_setCustomBgSize(" + size.substr(0, 64) + ")", 0);
    if (!onSlave(INS_SET_CUSTOM_BG_SIZE))
        return;
    parseSize(size, &customWidth_, &customHeight_);
}

void CStage::INS_initReferNum(const std::string& number) {
    CTrace::trace(SCOPE, " INS_initReferNum(" + number.substr(0, 64) + ")", 0);
    if (!beforeSync(INS_INIT_REFER_NUM))
        return;
    referNum_ = parseNumber(number);
}

void CStage::INS_initCustomBgData(int size, const unsigned char* bytes) {
    CTrace::trace(SCOPE, " INS_initCustomBgData(): " + std::to_string(size) + " bytes", 0);
    if (!beforeSync(INS_INIT_CUSTOM_BG_DATA))
        return;
    takeCustomData(INS_INIT_CUSTOM_BG_DATA, size, bytes);
}

void CStage::INS_initBackGround(const std::string& number) {
    CTrace::trace(SCOPE, " INS_initBackGround(" + number.substr(0, 64) + ")", 0);
    if (!beforeSync(INS_INIT_BACK_GROUND))
        return;
    int background = parseNumber(number);
    if (!isBackground(background, INS_INIT_BACK_GROUND))
        return;
    backgroundNumber_ = background;
    if (view_ != nullptr)
        view_->changeBackGround(background);
}

void CStage::INS_initLowerLayer(const std::string& list) {
    CTrace::trace(SCOPE, " INS_initLowerLayer(): " + std::to_string(list.size()) + " bytes", 0);
    if (!beforeSync(INS_INIT_LOWER_LAYER) || view_ == nullptr)
        return;
    // Each key on top in list order rebuilds the master's layer from the bottom up.
    for (const std::string& key : parseLayerList(list))
        if (!view_->isGrabed(key))
            view_->putOnTop(key);
}

void CStage::LOC_updateBackGround(const std::string& number) {
    CTrace::trace(SCOPE, " LOC_updateBackGround(" + number + ")", 0);
    if (!isMaster()) {
        CTrace::trace(SCOPE, " LOC_updateBackGround(): only the master's choice is shared: nothing", 0);
        return;
    }
    int background = parseNumber(number);
    if (!isBackground(background, LOC_UPDATE_BACK_GROUND))
        return;
    backgroundNumber_ = background;
    if (view_ != nullptr && background == view_->getCustomBgNumber())
        sendCustomData(INS_CHANGE_CUSTOM_BG_DATA, false);
    toSlaves(INS_CHANGE_BACK_GROUND, number);
}

void CStage::LOC_updateCustomBgFile(const std::string& path) {
    CTrace::trace(SCOPE, " LOC_updateCustomBgFile(" + path + ")", 0);
    if (!isMaster()) {
        CTrace::trace(SCOPE, " LOC_updateCustomBgFile(): only the master's picture is shared: nothing", 0);
        return;
    }
    customBgFile_ = path;
    prepareCustomData();
    showCustomData();
}

void CStage::moveToTop(const std::string& key) {
    if (view_ != nullptr && !view_->isGrabed(key))
        view_->moveToTop(key);
}

void CStage::moveToBottom(const std::string& key) {
    if (view_ != nullptr && !view_->isGrabed(key))
        view_->moveToBottom(key);
}

// Every order change goes through the master, so all terminals apply them in its order.
void CStage::LOC_changeTop(const std::string& key) {
    CTrace::trace(SCOPE, " LOC_changeTop(" + key + ")", 0);
    if (!isMaster()) {
        toMaster(REQ_CHANGE_TOP, key);
        return;
    }
    moveToTop(key);
    toSlaves(INS_MOVE_TO_TOP, key);
}

void CStage::LOC_changeBottom(const std::string& key) {
    CTrace::trace(SCOPE, " LOC_changeBottom(" + key + ")", 0);
    if (!isMaster()) {
        toMaster(REQ_CHANGE_BOTTOM, key);
        return;
    }
    moveToBottom(key);
    toSlaves(INS_MOVE_TO_BOTTOM, key);
}

void CStage::LOC_placeTopMost(const std::string& key) {
    CTrace::trace(SCOPE, " LOC_placeTopMost(" + key + ")", 0);
    if (!isMaster()) {
        toMaster(REQ_PLACE_TOP_MOST, key);
        return;
    }
    moveToTop(key);
    toSlaves(INS_MOVE_TO_UPPER_LAYER, key);
}

void CStage::REQ_changeTop(const std::string& key) {
    if (onMaster(REQ_CHANGE_TOP))
        LOC_changeTop(key);
}

void CStage::REQ_changeBottom(const std::string& key) {
    if (onMaster(REQ_CHANGE_BOTTOM))
        LOC_changeBottom(key);
}

void CStage::REQ_placeTopMost(const std::string& key) {
    if (onMaster(REQ_PLACE_TOP_MOST))
        LOC_placeTopMost(key);
}

void CStage::INS_changeCustomBgData(int size, const unsigned char* bytes) {
    CTrace::trace(SCOPE, " INS_changeCustomBgData(): " + std::to_string(size) + " bytes", 0);
    if (!onSlave(INS_CHANGE_CUSTOM_BG_DATA))
        return;
    takeCustomData(INS_CHANGE_CUSTOM_BG_DATA, size, bytes);
}

void CStage::INS_changeBackGround(const std::string& number) {
    CTrace::trace(SCOPE, " INS_changeBackGround(" + number.substr(0, 64) + ")", 0);
    if (!onSlave(INS_CHANGE_BACK_GROUND))
        return;
    int background = parseNumber(number);
    if (!isBackground(background, INS_CHANGE_BACK_GROUND))
        return;
    backgroundNumber_ = background;
    if (view_ != nullptr)
        view_->changeBackGround(background);
}

void CStage::INS_moveToTop(const std::string& key) {
    CTrace::trace(SCOPE, " INS_moveToTop(" + key + ")", 0);
    if (afterSync(INS_MOVE_TO_TOP))
        moveToTop(key);
}

void CStage::INS_moveToBottom(const std::string& key) {
    CTrace::trace(SCOPE, " INS_moveToBottom(" + key + ")", 0);
    if (afterSync(INS_MOVE_TO_BOTTOM))
        moveToBottom(key);
}

void CStage::INS_moveToUpperLayer(const std::string& key) {
    CTrace::trace(SCOPE, " INS_moveToUpperLayer(" + key + ")", 0);
    if (afterSync(INS_MOVE_TO_UPPER_LAYER) && view_ != nullptr && !view_->isGrabed(key))
        view_->moveToUpperLayer(key);
}

void CStage::LOC_copy(const std::string& job) {
    CTrace::trace(SCOPE, " LOC_copy(" + job + ")", 0);
    if (fileCopy_ == nullptr) {
        CTrace::scopedError(SCOPE, " LOC_copy(): there is no file copy element: the job is dropped", -1);
        return;
    }
    try {
        CLocalMethod::postMethodStr(fileCopy_->getObjectId(), LOC_COPY, job);
    } catch (CJException& e) {
        CTrace::trace(SCOPE, " LOC_copy(): the job is dropped: " + e.toString(), 0);
    }
}

void CStage::LOC_onFileCopied(const std::string& report) {
    CTrace::trace(SCOPE, " LOC_onFileCopied(" + report + ")", 0);
    if (view_ != nullptr)
        view_->onFileCopied(report);
}
