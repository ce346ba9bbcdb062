#pragma once
// Registers a window for the platform's terminal-session change messages of its own session
// (WM_WTSSESSION_CHANGE) for the notifier's life, where the platform offers them: the functions
// are looked up in "Wtsapi32.dll" at run time.
#include <windows.h>

class CWTSessionNotifier {
public:
    // A null window ends the process (assertion); the statuses are not looked at.
    explicit CWTSessionNotifier(HWND window);
    virtual ~CWTSessionNotifier();
    CWTSessionNotifier(const CWTSessionNotifier&) = delete;
    CWTSessionNotifier& operator=(const CWTSessionNotifier&) = delete;

    // S_OK; E_INVALIDARG for a null window; E_NOTIMPL without the library or its function;
    // E_FAIL (and an error line) when the platform refuses.
    static HRESULT registerNotification(HWND window);
    // S_OK; S_FALSE for a null window; E_NOTIMPL as above; E_FAIL when the platform refuses
    // (no error line: some platforms refuse it always).
    static HRESULT unregisterNotification(HWND window);

private:
    HWND window_;   // not owned
};
