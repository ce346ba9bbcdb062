#include "CQuarnClientSlots.h"

DWORD CQuarnClientSlots::Take(const void* owner, HWND window)
{
    FreeGone();
    for (DWORD slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!m_inUse[slot]) {
            m_inUse[slot] = true;
            m_owner[slot] = owner;
            m_window[slot] = window;
            return slot;
        }
    }
    return NO_SLOT;
}

void CQuarnClientSlots::SetWindowOf(const void* owner, HWND window)
{
    for (DWORD slot = 0; slot < SLOT_COUNT; ++slot) {
        if (owner != nullptr && m_inUse[slot] && m_owner[slot] == owner)
            m_window[slot] = window;
    }
}

void CQuarnClientSlots::FreeGone()
{
    for (DWORD slot = 0; slot < SLOT_COUNT; ++slot) {
        if (m_inUse[slot] && m_window[slot] != nullptr && !IsWindow(m_window[slot]))
            Free(slot);
    }
}

bool CQuarnClientSlots::Free(DWORD slot)
{
    if (slot >= SLOT_COUNT || !m_inUse[slot])
        return false;
    m_inUse[slot] = false;
    m_owner[slot] = nullptr;
    m_window[slot] = nullptr;
    return true;
}

void CQuarnClientSlots::FreeOwnedBy(const void* owner)
{
    for (DWORD slot = 0; slot < SLOT_COUNT; ++slot) {
        if (owner != nullptr && m_inUse[slot] && m_owner[slot] == owner)
            Free(slot);
    }
}

DWORD CQuarnClientSlots::CountInUse() const
{
    DWORD count = 0;
    for (bool inUse : m_inUse)
        count += inUse ? 1 : 0;
    return count;
}

bool CQuarnClientSlots::PassTurn()
{
    FreeGone();
    for (DWORD step = 1; step <= SLOT_COUNT; ++step) {
        DWORD slot = (m_turn + step) % SLOT_COUNT;
        if (m_inUse[slot]) {
            m_turn = slot;
            m_countDown = 2 * CountInUse();
            return true;
        }
    }
    return false;
}

DWORD CQuarnClientSlots::Next()
{
    if (m_countDown != 0 && --m_countDown == 0)
        PassTurn();
    return m_turn;
}
