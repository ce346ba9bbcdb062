#include "CQuarnDirEntry.h"

#include "QuarnCodes.h"

#include <cwchar>

CQuarnDirEntry::CQuarnDirEntry() : CBase(QUARNTYPE_DIR), m_pFirstChild(nullptr), m_updateCounter(0) {}

CQuarnDirEntry::~CQuarnDirEntry()
{
    // The entries of each directory are put in front of those still to delete before the
    // directory itself goes, so no destructor ever has entries of its own to delete.
    CBase* pending = m_pFirstChild;
    m_pFirstChild = nullptr;
    while (pending != nullptr) {
        CBase* entry = pending;
        pending = entry->m_pNext;
        if (entry->IsDirectory()) {
            CQuarnDirEntry* directory = static_cast<CQuarnDirEntry*>(entry);
            if (CBase* first = directory->m_pFirstChild) {
                CBase* last = first;
                while (last->m_pNext != nullptr)
                    last = last->m_pNext;
                last->m_pNext = pending;
                pending = first;
                directory->m_pFirstChild = nullptr;
            }
        }
        entry->m_pNext = nullptr;
        entry->m_pParent = nullptr;
        delete entry;
    }
}

DWORD CQuarnDirEntry::RemoveReference(DWORD id)
{
    bool removed = false;
    for (CBase* entry = m_pFirstChild; entry != nullptr; entry = NextBeneath(entry, this)) {
        if (!entry->IsDirectory() && entry->RemoveReference(id) == 0)
            removed = true;
    }
    return removed ? 0 : ERROR_QUARN_DB_REFERNCE_NOT_FOUND;
}

CBase* CQuarnDirEntry::FindChild(const WCHAR* name, size_t length) const
{
    for (CBase* child = m_pFirstChild; child != nullptr; child = child->m_pNext) {
        const std::wstring& childName = child->GetName();
        if (childName.size() == length && wmemcmp(childName.data(), name, length) == 0)
            return child;
    }
    return nullptr;
}

DWORD CQuarnDirEntry::GetChildCount() const
{
    DWORD count = 0;
    for (CBase* child = m_pFirstChild; child != nullptr; child = child->m_pNext)
        ++count;
    return count;
}

CBase* CQuarnDirEntry::GetChild(DWORD index) const
{
    CBase* child = m_pFirstChild;
    while (child != nullptr && index-- > 0)
        child = child->m_pNext;
    return child;
}

void CQuarnDirEntry::AddChild(CBase* child)
{
    child->m_pParent = this;
    child->m_pNext = m_pFirstChild;
    m_pFirstChild = child;
}

void CQuarnDirEntry::UnlinkChild(CBase* child)
{
    for (CBase** link = &m_pFirstChild; *link != nullptr; link = &(*link)->m_pNext) {
        if (*link == child) {
            *link = child->m_pNext;
            child->m_pNext = nullptr;
            child->m_pParent = nullptr;
            return;
        }
    }
}

CBase* CQuarnDirEntry::NextBeneath(const CBase* entry, const CQuarnDirEntry* top)
{
    if (entry->IsDirectory()) {
        if (CBase* first = static_cast<const CQuarnDirEntry*>(entry)->m_pFirstChild)
            return first;
    }
    while (entry != top && entry != nullptr) {
        if (entry->m_pNext != nullptr)
            return entry->m_pNext;
        entry = entry->m_pParent;
    }
    return nullptr;
}
