#include "CStage.h"

#include "CInteger.h"
#include "CSharedElement.h"
#include "CTavUtility.h"
#include "CTrace.h"

#include <atomic>

namespace {

const char SCOPE[] = "CStage";

// Descriptors are made on the UI thread (dropped files) and on the stage's handler thread
// (cursors): one atomic step takes the serial and advances it.
std::atomic<int> g_serial{0};

const int DESC_SEPARATORS = 8;

}  // namespace

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

std::vector<std::string> CStage::parseLayerList(const std::string& list) {
    std::vector<std::string> keys;
    size_t position = 0;
    while (position < list.size()) {
        size_t found = list.find(ALIGN_DESC_SEP, position);
        size_t end = found == std::string::npos ? list.size() : found;
        if (end == position)
            break;
        if (keys.size() == LAYER_KEY_LIMIT) {
            CTrace::scopedError(SCOPE, " parseLayerList(): more than " + std::to_string(LAYER_KEY_LIMIT)
                                           + " keys in a layer list of " + std::to_string(list.size())
                                           + " bytes: the rest is dropped",
                                -1);
            break;
        }
        keys.push_back(list.substr(position, end - position));
        if (found == std::string::npos)
            break;
        position = found + ALIGN_DESC_SEP.size();
    }
    return keys;
}

std::string CStage::sizeToString(int width, int height) {
    return CInteger::toString(width) + " " + CInteger::toString(height);
}

void CStage::parseSize(const std::string& text, int* width, int* height) {
    *width = CInteger::parseInt(CSharedElement::getToken(0, text, " "));
    *height = CInteger::parseInt(CSharedElement::getToken(1, text, " "));
}
