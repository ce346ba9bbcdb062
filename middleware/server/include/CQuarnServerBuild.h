#pragma once
// What differs between the server module (quarnhost) and its service build (quarnguard), in
// one place: how a notice reaches a client, the folder of temporary files and the descriptor
// set on them, whether the watch window checks for windows that are gone, the version, and
// whether transfers can be aborted from either side. The process selects its build once,
// before its first client initialises the server; the module's build is the default.
#include <windows.h>

#include <string>

class CQuarnServerBuild {
public:
    // Who may receive a notice: any window given, or only one that still exists (a lookup's
    // "directory changed", which the module posts only to a live window).
    enum class Target { AnyWindow, LiveWindowOnly };

    CQuarnServerBuild() = default;
    virtual ~CQuarnServerBuild() = default;
    CQuarnServerBuild(const CQuarnServerBuild&) = delete;
    CQuarnServerBuild& operator=(const CQuarnServerBuild&) = delete;

    // The build in use (the module's unless another was selected).
    static CQuarnServerBuild& Current();
    // Selects the process's build; it must outlive every server of the process.
    static void Select(CQuarnServerBuild& build);

    // Delivers a registered message of the middleware (QuarnMessages.h) for a client's window.
    // The module posts it.
    virtual void Notify(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Target target);
    // The folder for temporary files, ending in a backslash (the account's temporary path).
    virtual bool GetTempFolder(std::string& folder);
    // Run before the server starts: the module deletes stale temporary files and never fails.
    virtual bool PrepareTempFolder();
    // Run after the server stopped (the service frees its notices and its folder).
    virtual void OnStopped() {}
    // Sets the access of a new temporary file; the module leaves what the folder gives it.
    virtual bool SecureTempFile(const std::wstring&) { return true; }
    // Whether the watch window checks periodically for clients' windows that are gone.
    virtual bool ChecksWindows() const { return true; }
    virtual DWORD Version() const;
    // Whether either side may abort a transfer (packet type 35).
    virtual bool AbortsTransfers() const { return false; }
};
