#include "DataPartParsers.h"

#include "CQuarnDataBase.h"
#include "CQuarnDirectoryReply.h"
#include "CQuarnFileReceive.h"
#include "CQuarnLookup.h"
#include "CQuarnServerSocket.h"
#include "CQuarnSocket.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"

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

// A directory reply checked whole, then every entry read.
void directoryReply(const BYTE* data, DWORD length)
{
    CQuarnDirectoryReply reply;
    if (!reply.Parse(data, length))
        return;
    size_t characters = 0;
    for (DWORD i = 0; i < reply.GetCount(); ++i) {
        const CQuarnDirectoryReply::Entry* entry = reply.GetEntry(i);
        characters += entry->name.size() + (entry->text ? entry->text->size() : 0) + entry->bytes.size();
    }
    (void)characters;
}

// What a lookup handle does with the data as either reply, and what a client then reads.
void lookupReplies(const BYTE* data, DWORD length)
{
    CQuarnLookup lookup;
    lookup.SetPending();
    lookup.OnDirectoryReply(0, data, length);
    lookup.OnCounterReply(0, data, length);
    lookup.OnCounterReply(ERROR_QUARN_COMMON_INVALID_PATH, data, length);
    DWORD count = 0;
    if (!lookup.GetCount(&count))
        return;
    for (DWORD i = 0; i <= count && i < 64; ++i) {
        WCHAR text[32];
        BYTE bytes[32];
        DWORD size = 32, type;
        LONG number;
        lookup.GetEntryName(i, text, &size);
        lookup.GetEntryType(i, &type);
        lookup.GetEntryValueInt(i, &number);
        size = 32;
        lookup.GetEntryValueString(i, text, &size);
        size = 32;
        lookup.GetEntryValueBinary(i, bytes, &size);
    }
}

// How a node answers the data as a request of either type.
void directoryRequests(const BYTE* data, DWORD length)
{
    static CQuarnDataBase* database = [] {
        CQuarnDataBase* made = new CQuarnDataBase;
        const BYTE value[] = {1, 2, 3};
        made->SetValueString(0xFFFFFFFF, L"\\Computer Information\\Computer Name", L"PC1");
        made->SetValueInt(0xFFFFFFFF, L"\\Computer Information\\Version", 0x00010003);
        made->SetValueBinary(3, L"\\A\\B", value, sizeof(value));
        return made;
    }();
    std::vector<BYTE> reply;
    CQuarnServerSocket::AnswerDirectoryRequest(database, data, length, reply);
    CQuarnServerSocket::AnswerCounterRequest(database, data, length, reply);
}

// How a node answers the data as a file-transfer open: the strings, the destination looked up
// in watch records ("\12" watched, and applications behind "\1"), a record made and told.
void fileTransferOpens(const BYTE* data, DWORD length)
{
    struct Receiver {
        CQuarnSrvCore core;
        CQuarnDataBase database;
        CQuarnWatchWindow watch{core, database};
        HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        CQuarnFileReceive records;
        Receiver()
        {
            watch.Add(7, window, L"\\12");
            watch.Add(2, CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr), L"\\1");
        }
    };
    static Receiver* receiver = new Receiver;
    DWORD record;
    CQuarnServerSocket::AnswerFileTransferOpen(&receiver->watch, receiver->records, data, length, &record);
    while (CQuarnListItem* made = receiver->records.GetFirst())
        delete made;
    MSG message;
    while (PeekMessageA(&message, nullptr, QuarnFileTransferMessage(), QuarnFileTransferMessage(), PM_REMOVE)) {
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
        {"directory reply", directoryReply},
        {"lookup replies", lookupReplies},
        {"directory requests", directoryRequests, false},
        {"file-transfer opens", fileTransferOpens, false},
    };
    return parsers;
}
