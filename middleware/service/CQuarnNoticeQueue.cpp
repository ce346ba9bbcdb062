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
    auto counted = m_perWindow.find(window);
    if (counted != m_perWindow.end() && counted->second >= WINDOW_LIMIT) {
        QuarnTrace("CQuarnNoticeQueue::Append(): %lu holds its share, notice %lu (%lu, 0x%08lX) dropped\n", window,
                   code, wParam, lParam);
        return false;
    }
    try {
        m_records.push_back(Record{window, code, wParam, lParam});
        try {
            ++m_perWindow[window];
        } catch (const std::bad_alloc&) {
            m_records.pop_back();
            throw;
        }
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
    if (index >= m_records.size())
        return;
    auto counted = m_perWindow.find(m_records[index].m_window);
    if (counted != m_perWindow.end() && --counted->second == 0)
        m_perWindow.erase(counted);
    m_records.erase(m_records.begin() + index);
}
