#pragma once
// The shared Stage's model. Here: the texts it shares between terminals and with the stage
// window and the contents. An element descriptor names one content or cursor (and is the key
// under which every terminal keeps it), a layer list gives the order of the lower display
// layer, a size text the size of the custom background.
#include "CVector.h"

#include <string>
#include <vector>

class CStage {
public:
    // Between the nine fields of a descriptor.
    static const std::string ELEM_DESC_SEP;
    // Between the keys of a layer list.
    static const std::string ALIGN_DESC_SEP;
    // The path field of a cursor's descriptor.
    static const std::string CURSOR_PATH;
    static const std::string SIZE_FIELD;
    static const std::string MOTION_FIELD;

    // Longest descriptor taken from a peer: ten times the longest the program makes (a
    // 516-byte dropped path, a 260-byte copy path and a 255-character nickname in its fields).
    static constexpr size_t MAX_DESC_LENGTH = 16384;
    // Most keys read from one layer list: twice the replicas a shared space holds.
    static constexpr size_t LAYER_KEY_LIMIT = 1024;

    // "serial_stageid", then the fields in order, ELEM_DESC_SEP between each two. Takes the
    // next serial number of the process; any thread.
    static std::string makeElementDesc(const std::string& location, const std::string& size,
                                       const std::string& motion, const std::string& decoration,
                                       const std::string& attribute, const std::string& path,
                                       int width, int height);
    // Reads every field but the key; the path is all after the eighth separator. False, with
    // nothing set, for a text of fewer than eight separators or over MAX_DESC_LENGTH bytes:
    // no such element.
    static bool parseElementDesc(const std::string& desc, int* width, int* height,
                                 std::string* location, std::string* size, std::string* motion,
                                 std::string* decoration, std::string* attribute, std::string* path);
    // True when the path field is exactly CURSOR_PATH.
    static bool isCursorDesc(const std::string& desc);

    // The entries' texts in order, the separator between each two.
    static std::string joinDesc(CVector& entries, const std::string& separator);
    // The keys of a layer list, bottom first, up to the first empty one; after LAYER_KEY_LIMIT
    // keys the rest is dropped with an error line.
    static std::vector<std::string> parseLayerList(const std::string& list);

    // "width height".
    static std::string sizeToString(int width, int height);
    // Width from the text before the first blank, height from the text after it, each by atoi.
    static void parseSize(const std::string& text, int* width, int* height);

    // The process's stage id: a GUID text, made on first use and kept for the process's life.
    static const std::string& getStageId();
};
