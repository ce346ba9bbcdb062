#include "CQuarnNoticeQueue.h"

#include "QuarnTrace.h"

#include <new>

bool CQuarnNoticeQueue::Append(DWORD window, DWORD code, DWORD wParam, DWORD lParam)
{
    if (window == 0)
        return false;
    if (m_records.size() >= LIMIT) {
        QuarnTrace("CQuarnNoticeQueue::Append(): full, notice %lu for %lu (%lu, 0x%08lX) dropped\n", code, window,
                   wParam, lParam);
        return false;
    }
    try {
        m_records.push_back(Record{window, code, wParam, lParam});
    } catch (const std::bad_alloc&) {
        QuarnTrace("CQuarnNoticeQueue::Append(): no memory, notice %lu for %lu dropped\n", code, window);
        return false;
    }
    return true;
}

DWORD CQuarnNoticeQueue::Get(DWORD index, Field field) const
{
    if (index >= m_records.size())
        return NO_VALUE;
    const Record& record = m_records[index];
    switch (field) {
    case Field::Code:
        return record.m_code;
    case Field::Window:
        return record.m_window;
    case Field::WParam:
        return record.m_wParam;
    case Field::LParam:
        return record.m_lParam;
    }
    return NO_VALUE;
}

void CQuarnNoticeQueue::Remove(DWORD index)
{
    if (index < m_records.size())
        m_records.erase(m_records.begin() + index);
}
