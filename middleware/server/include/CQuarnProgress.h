#pragma once
// When a file transfer tells its progress: one notice per interval at most, and only when the
// percentage grew. Values are remaining percentages (100 at first), so a notice is due when
// the value fell below the last one told and more than the interval has passed since the last
// notice (or since the start).
#include <windows.h>

class CQuarnProgress {
public:
    // The shortest time between two progress notices of one transfer and side.
    static constexpr DWORD DEFAULT_INTERVAL_MS = 100;

    explicit CQuarnProgress(DWORD intervalMs = DEFAULT_INTERVAL_MS);

    // The transfer starts now: the interval counts from here.
    void Start(DWORD now);
    // Whether the remaining percentage is to be told now; when it is, it becomes the last value
    // and now the last notice's time.
    bool Due(DWORD remaining, DWORD now);

    DWORD GetInterval() const { return m_interval; }
    DWORD GetLastValue() const { return m_lastValue; }

private:
    DWORD m_interval;
    DWORD m_lastTime;
    DWORD m_lastValue;
};
