#include "CQUARNLookupDir.h"

#include "CQUARNBinaryValue.h"
#include "CQUARNInterface.h"
#include "CQuarnBstr.h"
#include "CTrace.h"
#include "quarnhost.h"

namespace {

const char SCOPE[] = "CQUARNLookupDir";
// The server's status while a directory is being read, and of a root handle after a node
// came or went until it is refreshed.
const DWORD STILL_READING = ERROR_IO_INCOMPLETE;
const DWORD WAIT_STEP_MS = 100;

// The wait cursor for a scope.
class WaitCursor {
public:
    WaitCursor() : previous_(SetCursor(LoadCursor(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    HCURSOR previous_;
};

} // namespace

CQUARNLookupDir::CQUARNLookupDir(const std::string& path, CQUARNInterface* owner)
    : path(path), handle(0), owner(owner)
{
}

CQUARNLookupDir::~CQUARNLookupDir()
{
    if (handle != 0)
        Close();
}

bool CQUARNLookupDir::Initialize(HWND window)
{
    const char* where = "CQUARNLookupDir::Initialize";
    handle = 0;
    IQuarnSrv* server = owner->serverFor(where);
    if (server == nullptr)
        return false;
    CQuarnBstr text(path);
    if (!text.allocated()) {
        CQUARNInterface::keepError(where, E_OUTOFMEMORY);
        return false;
    }
    ULONG opened = 0;
    if (!CQUARNInterface::succeeded(where, server->LUDOpen(text.get(), CQUARNInterface::windowNumber(window), &opened)))
        return false;
    handle = opened;
    return handle != 0;
}

bool CQUARNLookupDir::Refresh()
{
    const char* where = "CQUARNLookupDir::Refresh";
    IQuarnSrv* server = owner->serverFor(where);
    return server != nullptr && CQUARNInterface::succeeded(where, server->LUDRefresh(handle));
}

DWORD CQUARNLookupDir::GetEntryCount()
{
    const char* where = "CQUARNLookupDir::GetEntryCount";
    IQuarnSrv* server = owner->serverFor(where);
    ULONG count = 0;
    if (server == nullptr || !CQUARNInterface::succeeded(where, server->LUDGetEntryCount(handle, &count)))
        return COUNT_FAILED;
    return count;
}

std::string CQUARNLookupDir::GetEntryName(DWORD index)
{
    const char* where = "CQUARNLookupDir::GetEntryName";
    IQuarnSrv* server = owner->serverFor(where);
    CQuarnBstr name;
    if (server == nullptr || !CQUARNInterface::succeeded(where, server->LUDGetEntryName(handle, index, name.out())))
        return std::string();
    return name.text();
}

DWORD CQUARNLookupDir::GetEntryType(DWORD index)
{
    const char* where = "CQUARNLookupDir::GetEntryType";
    IQuarnSrv* server = owner->serverFor(where);
    ULONG type = 0;
    if (server == nullptr || !CQUARNInterface::succeeded(where, server->LUDGetEntryType(handle, index, &type)))
        return 0;
    return type;
}

bool CQUARNLookupDir::GetEntryValueInt(DWORD index, int* value)
{
    const char* where = "CQUARNLookupDir::GetEntryValueInt";
    IQuarnSrv* server = owner->serverFor(where);
    LONG read = 0;
    bool done = server != nullptr && CQUARNInterface::succeeded(where, server->LUDGetEntryValueInt(handle, index, &read));
    *value = done ? static_cast<int>(read) : 0;
    return done;
}

bool CQUARNLookupDir::GetEntryValueString(DWORD index, std::string& value)
{
    const char* where = "CQUARNLookupDir::GetEntryValueString";
    IQuarnSrv* server = owner->serverFor(where);
    CQuarnBstr read;
    if (server == nullptr
        || !CQUARNInterface::succeeded(where, server->LUDGetEntryValueString(handle, index, read.out())))
        return false;
    value = read.text();
    return true;
}

CQUARNBinaryValue* CQUARNLookupDir::GetEntryValueBinary(DWORD index)
{
    const char* where = "CQUARNLookupDir::GetEntryValueBinary";
    IQuarnSrv* server = owner->serverFor(where);
    if (server == nullptr)
        return nullptr;
    VARIANT read;
    VariantInit(&read);
    HRESULT result = server->LUDGetEntryValueBinary(handle, index, &read);
    CQUARNBinaryValue* value = nullptr;
    if (CQUARNInterface::succeeded(where, result)) {
        value = new CQUARNBinaryValue();
        if (!value->copyFrom(read)) {
            delete value;
            value = nullptr;
            CQUARNInterface::keepError(where, E_OUTOFMEMORY);
        }
    }
    VariantClear(&read);
    return value;
}

CQUARNBinaryValue* CQUARNLookupDir::GetEntryValueBinary(const std::string& name)
{
    if (!WaitReady(5))
        return nullptr;
    DWORD count = GetEntryCount();
    if (count == COUNT_FAILED)
        return nullptr;
    CQUARNBinaryValue* found = nullptr;
    for (DWORD i = 0; i < count; ++i) {
        if (GetEntryName(i) != name)
            continue;
        delete found;
        found = GetEntryValueBinary(i);
    }
    return found;
}

bool CQUARNLookupDir::WaitReady(DWORD tries)
{
    WaitCursor cursor;
    if (handle == 0)
        return false;
    while (tries != 0) {
        if (GetEntryCount() != COUNT_FAILED)
            return true;
        DWORD error = GetLastError();
        if (error != STILL_READING) {
            SetLastError(error);
            return false;
        }
        // A root handle stays pending after a node came or went until it is refreshed; a
        // remote one being read refuses the refresh, which changes nothing.
        Refresh();
        CQUARNInterface::sleep(WAIT_STEP_MS);
        --tries;
    }
    CTrace::trace(SCOPE, "WaitReady: " + path + " still not readable");
    SetLastError(STILL_READING);
    return false;
}

bool CQUARNLookupDir::Close()
{
    const char* where = "CQUARNLookupDir::Close";
    IQuarnSrv* server = owner->serverFor(where);
    if (server == nullptr || !CQUARNInterface::succeeded(where, server->LUDClose(handle)))
        return false;
    handle = 0;
    return true;
}
