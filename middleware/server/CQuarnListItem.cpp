#include "CQuarnListItem.h"

namespace {

volatile LONG s_lastId = 0;

DWORD nextId()
{
    DWORD id;
    do
        id = static_cast<DWORD>(InterlockedIncrement(&s_lastId));
    while (id == 0);
    return id;
}

} // namespace

CQuarnListItem::CQuarnListItem() : m_pPrev(this), m_pNext(this), m_id(nextId()) {}

CQuarnListItem::~CQuarnListItem()
{
    Unlink();
}

bool CQuarnListItem::LinkTail(CQuarnListItem* head)
{
    if (head == nullptr || head == this || IsLinked() || head->m_pNext->m_pPrev != head
        || head->m_pPrev->m_pNext != head) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    m_pPrev = head->m_pPrev;
    m_pNext = head;
    head->m_pPrev->m_pNext = this;
    head->m_pPrev = this;
    return true;
}

void CQuarnListItem::Unlink()
{
    m_pPrev->m_pNext = m_pNext;
    m_pNext->m_pPrev = m_pPrev;
    m_pPrev = this;
    m_pNext = this;
}

CQuarnListItem* CQuarnListItem::FindById(DWORD id) const
{
    if (id != 0) {
        for (CQuarnListItem* item = m_pNext; item != this; item = item->m_pNext) {
            if (item->m_id == id)
                return item;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

size_t CQuarnListItem::CountUpTo(size_t limit) const
{
    size_t count = 0;
    for (CQuarnListItem* item = m_pNext; item != this && count < limit; item = item->m_pNext)
        ++count;
    return count;
}
