#include "CQuarnDataBase.h"

#include "CQuarnBinaryEntry.h"
#include "CQuarnIntEntry.h"
#include "CQuarnStringEntry.h"
#include "QuarnCodes.h"
#include "QuarnTrace.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

template <typename T> bool copyOut(const T* value, DWORD valueSize, T* buffer, DWORD* pSize)
{
    if (pSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD room = *pSize;
    *pSize = valueSize;
    if (valueSize == 0)
        return true;
    if (room < valueSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    memcpy(buffer, value, valueSize * sizeof(T));
    return true;
}

bool isLeafType(DWORD type)
{
    return type == QUARNTYPE_INT || type == QUARNTYPE_STRING || type == QUARNTYPE_BINARY;
}

template <typename T = CBase> T* failWith(DWORD error)
{
    SetLastError(error);
    return nullptr;
}

} // namespace

CQuarnDataBase::CQuarnDataBase() : m_updateCounter(0)
{
    m_root.SetName(L"\\", 1);
}

CQuarnDataBase::~CQuarnDataBase() = default;

CBase* CQuarnDataBase::OpenEntry(DWORD refId, const WCHAR* path, DWORD type)
{
    if (path == nullptr || path[0] != L'\\' || wcsstr(path, L"\\\\") != nullptr)
        return failWith(ERROR_QUARN_COMMON_INVALID_PATH);
    if (path[1] == L'\0')
        return type == QUARNTYPE_DIR ? &m_root : failWith(ERROR_QUARN_COMMON_TYPE_MISMATCH);
    CQuarnDirEntry* directory = &m_root;
    // The first directory this call made: taken away again when the call fails.
    CBase* made = nullptr;
    auto fail = [&made](DWORD error) -> CBase* {
        if (made != nullptr) {
            made->GetParent()->UnlinkChild(made);
            delete made;
        }
        SetLastError(error);
        return nullptr;
    };
    const WCHAR* component = path + 1;
    for (const WCHAR* end; (end = wcschr(component, L'\\')) != nullptr; component = end + 1) {
        size_t length = static_cast<size_t>(end - component);
        CBase* child = directory->FindChild(component, length);
        if (child == nullptr) {
            child = MakeEntry(QUARNTYPE_DIR, component, length);
            if (child == nullptr)
                return fail(GetLastError());
            directory->AddChild(child);
            if (made == nullptr)
                made = child;
        } else if (!child->IsDirectory()) {
            return fail(ERROR_QUARN_COMMON_INVALID_PATH);
        }
        directory = static_cast<CQuarnDirEntry*>(child);
    }
    if (*component == L'\0')
        return directory;
    size_t length = wcslen(component);
    CBase* entry = directory->FindChild(component, length);
    if (entry == nullptr) {
        if (!isLeafType(type) && type != QUARNTYPE_DIR)
            return fail(ERROR_INVALID_PARAMETER);
        entry = MakeEntry(type, component, length);
        if (entry == nullptr)
            return fail(GetLastError());
        directory->AddChild(entry);
    } else if (entry->GetType() != type) {
        return fail(ERROR_QUARN_COMMON_TYPE_MISMATCH);
    }
    SetLastError(entry->IsDirectory() ? ERROR_QUARN_COMMON_TYPE_MISMATCH : entry->GetReferences().Add(refId));
    return entry;
}

CBase* CQuarnDataBase::OpenLeafEntry(DWORD refId, const WCHAR* path, DWORD type)
{
    if (type == QUARNTYPE_DIR)
        return failWith(ERROR_QUARN_COMMON_TYPE_MISMATCH);
    CBase* entry = OpenEntry(refId, path, type);
    if (entry == nullptr)
        return nullptr;
    // A path ending in "\" names a directory, whatever type was asked for.
    if (entry->GetType() != type)
        return failWith(ERROR_QUARN_COMMON_TYPE_MISMATCH);
    DWORD answer = GetLastError();
    Touch(path);
    SetLastError(answer);
    return entry;
}

bool CQuarnDataBase::SetValueInt(DWORD refId, const WCHAR* path, LONG value)
{
    CBase* entry = OpenLeafEntry(refId, path, QUARNTYPE_INT);
    if (entry == nullptr)
        return false;
    static_cast<CQuarnIntEntry*>(entry)->SetValue(value);
    return true;
}

bool CQuarnDataBase::SetValueString(DWORD refId, const WCHAR* path, const WCHAR* text)
{
    CBase* entry = OpenLeafEntry(refId, path, QUARNTYPE_STRING);
    return entry != nullptr && static_cast<CQuarnStringEntry*>(entry)->SetValue(text);
}

bool CQuarnDataBase::SetValueBinary(DWORD refId, const WCHAR* path, const BYTE* bytes, DWORD size)
{
    CBase* entry = OpenLeafEntry(refId, path, QUARNTYPE_BINARY);
    return entry != nullptr && static_cast<CQuarnBinaryEntry*>(entry)->SetValue(bytes, size);
}

bool CQuarnDataBase::CloseEntry(DWORD refId, const WCHAR* path)
{
    const WCHAR* last;
    CQuarnDirEntry* directory = FindParent(path, &last);
    if (directory == nullptr)
        return false;
    CBase* entry = *last == L'\0' ? nullptr : directory->FindChild(last, wcslen(last));
    if (entry == nullptr) {
        SetLastError(ERROR_QUARN_COMMON_INVALID_PATH);
        return false;
    }
    if (entry->IsDirectory()) {
        SetLastError(ERROR_QUARN_COMMON_TYPE_MISMATCH);
        return false;
    }
    DWORD answer = entry->RemoveReference(refId);
    if (answer != 0) {
        SetLastError(answer);
        return false;
    }
    Touch(path);
    if (entry->GetReferences().IsEmpty()) {
        directory->UnlinkChild(entry);
        delete entry;
        RemoveEmptyAncestors(directory);
    }
    return true;
}

bool CQuarnDataBase::CloseAllEntries(DWORD refId, const WCHAR* path)
{
    CBase* entry = FindEntry(path, QUARNTYPE_DIR);
    if (entry == nullptr)
        return false;
    CQuarnDirEntry* directory = static_cast<CQuarnDirEntry*>(entry);
    DWORD answer = directory->RemoveReference(refId);
    if (answer != 0) {
        SetLastError(answer);
        return false;
    }
    Touch(path);
    Prune(directory);
    RemoveEmptyAncestors(directory);
    QuarnTrace("CQuarnDataBase::CloseAllEntries(): clean-up done\n");
    return true;
}

CBase* CQuarnDataBase::FindEntry(const WCHAR* path, DWORD type)
{
    CBase* entry = Lookup(path);
    if (entry == nullptr)
        return nullptr;
    // "\" and a path that ends in "\" name a directory, taken without a type check.
    if (path[wcslen(path) - 1] != L'\\' && entry->GetType() != type)
        return failWith(ERROR_QUARN_COMMON_TYPE_MISMATCH);
    return entry;
}

CQuarnDirEntry* CQuarnDataBase::FindParent(const WCHAR* path, const WCHAR** ppLast)
{
    const WCHAR* last;
    CQuarnDirEntry* directory = WalkDirectories(path, &last);
    if (directory != nullptr && ppLast != nullptr)
        *ppLast = last;
    return directory;
}

bool CQuarnDataBase::GetEntryType(const WCHAR* path, DWORD* pType)
{
    CBase* entry = pType == nullptr ? failWith(ERROR_INVALID_PARAMETER) : Lookup(path);
    if (entry == nullptr)
        return false;
    *pType = entry->GetType();
    return true;
}

bool CQuarnDataBase::GetValueInt(const WCHAR* path, LONG* pValue)
{
    CBase* entry = FindForResult(path, QUARNTYPE_INT, pValue);
    if (entry == nullptr)
        return false;
    *pValue = static_cast<CQuarnIntEntry*>(entry)->GetValue();
    return true;
}

bool CQuarnDataBase::GetValueString(const WCHAR* path, WCHAR* buffer, DWORD* pSize)
{
    CBase* entry = FindForResult(path, QUARNTYPE_STRING, pSize);
    if (entry == nullptr)
        return false;
    CQuarnStringEntry* text = static_cast<CQuarnStringEntry*>(entry);
    return copyOut(text->GetValue(), text->GetValueSize(), buffer, pSize);
}

bool CQuarnDataBase::GetValueBinary(const WCHAR* path, BYTE* buffer, DWORD* pSize)
{
    CBase* entry = FindForResult(path, QUARNTYPE_BINARY, pSize);
    if (entry == nullptr)
        return false;
    CQuarnBinaryEntry* binary = static_cast<CQuarnBinaryEntry*>(entry);
    return copyOut(binary->GetValue(), binary->GetValueSize(), buffer, pSize);
}

bool CQuarnDataBase::GetChildCount(const WCHAR* path, DWORD* pCount)
{
    CBase* entry = FindForResult(path, QUARNTYPE_DIR, pCount);
    if (entry == nullptr)
        return false;
    *pCount = static_cast<CQuarnDirEntry*>(entry)->GetChildCount();
    return true;
}

bool CQuarnDataBase::GetChildName(const WCHAR* path, DWORD index, WCHAR* buffer, DWORD* pSize)
{
    CBase* entry = FindForResult(path, QUARNTYPE_DIR, pSize);
    if (entry == nullptr)
        return false;
    CBase* child = static_cast<CQuarnDirEntry*>(entry)->GetChild(index);
    if (child == nullptr) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return false;
    }
    const std::wstring& name = child->GetName();
    return copyOut(name.c_str(), static_cast<DWORD>(name.size() + 1), buffer, pSize);
}

bool CQuarnDataBase::GetUpdateCounter(const WCHAR* path, DWORD* pCounter)
{
    CBase* entry = FindForResult(path, QUARNTYPE_DIR, pCounter);
    if (entry == nullptr)
        return false;
    *pCounter = static_cast<CQuarnDirEntry*>(entry)->GetUpdateCounter();
    return true;
}

bool CQuarnDataBase::Touch(const WCHAR* path)
{
    if (path == nullptr || path[0] != L'\\') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD counter = ++m_updateCounter;
    m_root.SetUpdateCounter(counter);
    CQuarnDirEntry* directory = &m_root;
    const WCHAR* component = path + 1;
    for (;;) {
        const WCHAR* end = wcschr(component, L'\\');
        size_t length = end == nullptr ? wcslen(component) : static_cast<size_t>(end - component);
        if (end == nullptr && length == 0)
            return true;
        CBase* child = directory->FindChild(component, length);
        if (child == nullptr || !child->IsDirectory())
            return true;
        directory = static_cast<CQuarnDirEntry*>(child);
        directory->SetUpdateCounter(counter);
        if (end == nullptr)
            return true;
        component = end + 1;
    }
}

void CQuarnDataBase::Prune(CQuarnDirEntry* top)
{
    CQuarnDirEntry* directory = top;
    CBase* entry = top->GetFirstChild();
    for (;;) {
        if (entry != nullptr) {
            CBase* next = entry->GetNext();
            if (entry->IsDirectory() && static_cast<CQuarnDirEntry*>(entry)->GetFirstChild() != nullptr) {
                directory = static_cast<CQuarnDirEntry*>(entry);
                entry = directory->GetFirstChild();
                continue;
            }
            if (entry->IsDirectory() || entry->GetReferences().IsEmpty()) {
                directory->UnlinkChild(entry);
                delete entry;
            }
            entry = next;
            continue;
        }
        // Every entry of this directory has been seen: back to where it stands in its parent.
        if (directory == top)
            return;
        CQuarnDirEntry* parent = directory->GetParent();
        CBase* next = directory->GetNext();
        if (directory->GetFirstChild() == nullptr) {
            parent->UnlinkChild(directory);
            delete directory;
        }
        directory = parent;
        entry = next;
    }
}

void CQuarnDataBase::RemoveEmptyAncestors(CQuarnDirEntry* directory)
{
    while (directory->GetParent() != nullptr && directory->GetFirstChild() == nullptr) {
        CQuarnDirEntry* parent = directory->GetParent();
        parent->UnlinkChild(directory);
        delete directory;
        directory = parent;
    }
}

bool CQuarnDataBase::Lock(DWORD timeoutMs)
{
    return m_lock.Lock(timeoutMs);
}

bool CQuarnDataBase::Unlock()
{
    return m_lock.Unlock();
}

bool CQuarnDataBase::IsLocked()
{
    return m_lock.IsHeldByCaller();
}

CQuarnDirEntry* CQuarnDataBase::WalkDirectories(const WCHAR* path, const WCHAR** ppLast)
{
    if (path == nullptr || path[0] != L'\\' || wcsstr(path, L"\\\\") != nullptr)
        return failWith<CQuarnDirEntry>(ERROR_QUARN_COMMON_INVALID_PATH);
    CQuarnDirEntry* directory = &m_root;
    const WCHAR* component = path + 1;
    for (const WCHAR* end; (end = wcschr(component, L'\\')) != nullptr; component = end + 1) {
        CBase* child = directory->FindChild(component, static_cast<size_t>(end - component));
        if (child == nullptr || !child->IsDirectory())
            return failWith<CQuarnDirEntry>(ERROR_QUARN_COMMON_INVALID_PATH);
        directory = static_cast<CQuarnDirEntry*>(child);
    }
    *ppLast = component;
    return directory;
}

CBase* CQuarnDataBase::Lookup(const WCHAR* path)
{
    const WCHAR* last;
    CQuarnDirEntry* directory = WalkDirectories(path, &last);
    if (directory == nullptr)
        return nullptr;
    if (*last == L'\0')
        return directory;
    CBase* entry = directory->FindChild(last, wcslen(last));
    if (entry == nullptr)
        return failWith(ERROR_QUARN_COMMON_INVALID_PATH);
    return entry;
}

CBase* CQuarnDataBase::FindForResult(const WCHAR* path, DWORD type, const void* resultPlace)
{
    if (resultPlace == nullptr)
        return failWith(ERROR_INVALID_PARAMETER);
    return FindEntry(path, type);
}

CBase* CQuarnDataBase::MakeEntry(DWORD type, const WCHAR* name, size_t length)
{
    CBase* entry = nullptr;
    switch (type) {
    case QUARNTYPE_INT:
        entry = new (std::nothrow) CQuarnIntEntry;
        break;
    case QUARNTYPE_STRING:
        entry = new (std::nothrow) CQuarnStringEntry;
        break;
    case QUARNTYPE_BINARY:
        entry = new (std::nothrow) CQuarnBinaryEntry;
        break;
    case QUARNTYPE_DIR:
        entry = new (std::nothrow) CQuarnDirEntry;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (entry == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!entry->SetName(name, length)) {
        delete entry;
        return nullptr;
    }
    return entry;
}
