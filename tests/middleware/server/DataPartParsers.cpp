#include "DataPartParsers.h"

#include "CQuarnSocket.h"

namespace {

void threeStrings(const BYTE* data, DWORD length)
{
    DWORD offset = 0;
    std::optional<std::wstring> text;
    for (int i = 0; i < 3 && CQuarnSocket::ParseString(data, length, offset, text); ++i) {
    }
}

void directoryRequest(const BYTE* data, DWORD length)
{
    DWORD offset = 0;
    DWORD handle;
    std::wstring path;
    if (CQuarnSocket::ParseLong(data, length, offset, handle))
        CQuarnSocket::ParsePath(data, length, offset, path);
}

void aliveRecord(const BYTE* data, DWORD length)
{
    DWORD offset = 0;
    GUID node;
    DWORD counter;
    if (CQuarnSocket::ParseGuid(data, length, offset, node))
        CQuarnSocket::ParseLong(data, length, offset, counter);
}

// Items one after the other as a reply's records hold them: number, text, binary value, until
// one fails or the data ends.
void itemWalk(const BYTE* data, DWORD length)
{
    DWORD offset = 0;
    DWORD number;
    std::optional<std::wstring> text;
    std::vector<BYTE> bytes;
    while (offset < length) {
        DWORD before = offset;
        if (!CQuarnSocket::ParseLong(data, length, offset, number) || !CQuarnSocket::ParseString(data, length, offset, text)
            || !CQuarnSocket::ParseBinary(data, length, offset, bytes) || offset == before)
            return;
    }
}

// A path from any even or odd place in the data.
void pathsEverywhere(const BYTE* data, DWORD length)
{
    std::wstring path;
    for (DWORD start = 0; start <= length && start < 16; ++start) {
        DWORD offset = start;
        CQuarnSocket::ParsePath(data, length, offset, path);
    }
}

} // namespace

const std::vector<DataPartParser>& dataPartParsers()
{
    static const std::vector<DataPartParser> parsers = {
        {"three strings", threeStrings},
        {"directory request", directoryRequest},
        {"alive record", aliveRecord},
        {"item walk", itemWalk},
        {"paths", pathsEverywhere},
    };
    return parsers;
}
