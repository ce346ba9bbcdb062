#include "CQuarnAliveSchedule.h"

bool CQuarnAliveSchedule::Tick(DWORD rootCounter)
{
    if (m_countdown > 0)
        --m_countdown;
    else
        m_countdown = PERIOD_START;
    if (rootCounter != m_lastCounter) {
        m_lastCounter = rootCounter;
        m_countdown = BURST_START;
    }
    return m_countdown >= QUIET_BELOW;
}
