#include "CQuarnProgress.h"

CQuarnProgress::CQuarnProgress(DWORD intervalMs) : m_interval(intervalMs), m_lastTime(0), m_lastValue(100) {}

void CQuarnProgress::Start(DWORD now)
{
    m_lastTime = now;
    m_lastValue = 100;
}

bool CQuarnProgress::Due(DWORD remaining, DWORD now)
{
    // Tick counts wrap; their difference does not.
    if (remaining >= m_lastValue || now - m_lastTime <= m_interval)
        return false;
    m_lastValue = remaining;
    m_lastTime = now;
    return true;
}
