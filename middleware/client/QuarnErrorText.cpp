#include "QuarnErrorText.h"

#include <cstdio>
#include <iterator>

namespace {

struct CodeName {
    DWORD code;
    const char* name;
};

// Padded to one more than the longest name, so that the numbers line up in the log.
const int NAME_WIDTH = 38;
const CodeName NAMES[] = {
    {0xE0040001, "ERROR_QUARN_COMMON_INVALID_TYPE"},
    {0xE0040002, "ERROR_QUARN_COMMON_INVALID_PATH"},
    {0xE0040003, "ERROR_QUARN_COMMON_TYPE_MISMATCH"},
    {0xE0040101, "ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO"},
    {0xE0040102, "ERROR_QUARN_SERVER_NOT_INITIALIZED"},
    {0xE0040201, "ERROR_QUARN_COMM_LOOKUPDIR_CHANGED"},
    {0xE0040202, "ERROR_QUARN_COMM_CONNECTION_CLOSED"},
    {0xE0040301, "ERROR_QUARN_DB_REFERNCE_NOT_FOUND"},
    {0xE0040302, "ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST"},
};
const char UNDEFINED[] = "***UNDEFINED QUARNERROR *****    ";

} // namespace

std::string quarnErrorText(DWORD code) { return quarnErrorText(code, UNDEFINED); }

std::string quarnErrorText(DWORD code, const std::string& unnamed)
{
    std::string text = unnamed;
    for (const CodeName& entry : NAMES)
        if (entry.code == code) {
            text = entry.name;
            text.resize(NAME_WIDTH, ' ');
        }
    char number[40];
    std::snprintf(number, sizeof(number), "GetLastError()= 0x%08lX", static_cast<unsigned long>(code));
    return text + number;
}
