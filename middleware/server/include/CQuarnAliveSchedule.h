#pragma once
// When a server announces itself: on every one-second tick the root directory's update counter
// is handed in, and the answer says whether alive packets go out on this tick. A steady
// counter sends once every 62 ticks; a changed counter sends on 5 ticks in a row, so that the
// other nodes soon ask what changed; a new schedule or a resume sends on the next 4 ticks.
#include <windows.h>

class CQuarnAliveSchedule {
public:
    // The countdown after a change or a resume; ticks send while it stays above QUIET_BELOW.
    static constexpr DWORD BURST_START = 65;
    // Where the countdown goes when it has run out: one sending tick, then quiet.
    static constexpr DWORD PERIOD_START = 61;
    static constexpr DWORD QUIET_BELOW = 61;

    CQuarnAliveSchedule() = default;

    // One tick with the root counter now; true when alives go out on it.
    bool Tick(DWORD rootCounter);
    // The computer woke up: the others may have dropped it, so it announces itself at once.
    void Resume() { m_countdown = BURST_START; }

    DWORD GetCountdown() const { return m_countdown; }

private:
    DWORD m_countdown = BURST_START;
    DWORD m_lastCounter = 0;
};
