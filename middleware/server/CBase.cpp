#include "CBase.h"

#include "QuarnCodes.h"
#include "QuarnTrace.h"

#include <new>

CBase::CReferenceList::CReferenceList()
{
    m_head.m_dwId = 0;
    m_head.m_pNext = &m_head;
    m_head.m_pPrev = &m_head;
}

CBase::CReferenceList::~CReferenceList()
{
    DeleteAll();
}

DWORD CBase::CReferenceList::Add(DWORD id)
{
    if (Find(id) != nullptr)
        return ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST;
    Node* node = new (std::nothrow) Node;
    if (node == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    node->m_dwId = id;
    node->m_pNext = &m_head;
    node->m_pPrev = m_head.m_pPrev;
    m_head.m_pPrev->m_pNext = node;
    m_head.m_pPrev = node;
    return 0;
}

DWORD CBase::CReferenceList::Remove(DWORD id)
{
    Node* node = Find(id);
    if (node == nullptr)
        return ERROR_QUARN_DB_REFERNCE_NOT_FOUND;
    node->m_pPrev->m_pNext = node->m_pNext;
    node->m_pNext->m_pPrev = node->m_pPrev;
    delete node;
    return 0;
}

bool CBase::CReferenceList::Contains(DWORD id) const
{
    return Find(id) != nullptr;
}

DWORD CBase::CReferenceList::GetCount() const
{
    DWORD count = 0;
    for (const Node* node = m_head.m_pNext; node != &m_head; node = node->m_pNext)
        ++count;
    return count;
}

DWORD CBase::CReferenceList::GetAt(DWORD index) const
{
    for (const Node* node = m_head.m_pNext; node != &m_head; node = node->m_pNext) {
        if (index-- == 0)
            return node->m_dwId;
    }
    return 0;
}

void CBase::CReferenceList::DeleteAll()
{
    while (m_head.m_pNext != &m_head) {
        Node* node = m_head.m_pNext;
        m_head.m_pNext = node->m_pNext;
        QuarnTrace("CBase::CReferenceList::DeleteAll(): delete m_pNext\n");
        delete node;
    }
    m_head.m_pPrev = &m_head;
}

CBase::CReferenceList::Node* CBase::CReferenceList::Find(DWORD id) const
{
    for (Node* node = m_head.m_pNext; node != &m_head; node = node->m_pNext) {
        if (node->m_dwId == id)
            return node;
    }
    return nullptr;
}

CBase::CBase(DWORD type) : m_type(type), m_pNext(nullptr), m_pParent(nullptr) {}

CBase::~CBase() = default;

DWORD CBase::RemoveReference(DWORD id)
{
    return m_references.Remove(id);
}

bool CBase::SetName(const WCHAR* name, size_t length)
{
    try {
        m_name.assign(name, length);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

bool CBase::IsDirectory() const
{
    return m_type == QUARNTYPE_DIR;
}
