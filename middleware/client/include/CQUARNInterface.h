#pragma once
// The terminal's connection to the middleware server of its own computer: holds IQuarnSrv and
// turns its HRESULTs into plain results, keeping a failed call's code as the thread's last
// error. It makes the lookup and application directory handles.
#include <windows.h>

#include <string>

struct IQuarnSrv;
struct IUnknown;
class CQUARNAPDir;
class CQUARNLookupDir;

class CQUARNInterface {
public:
    // How the server object is made: CoCreateInstance of the server's class unless replaced.
    using Factory = HRESULT (*)(IUnknown** object);
    // How the client waits between tries (start-up and directory waits): Sleep unless replaced.
    using Sleeper = void (*)(DWORD milliseconds);

    CQUARNInterface();
    virtual ~CQUARNInterface();
    CQUARNInterface(const CQUARNInterface&) = delete;
    CQUARNInterface& operator=(const CQUARNInterface&) = delete;

    // Both return the previous one; null restores the real one.
    static Factory setFactory(Factory factory);
    static Sleeper setSleeper(Sleeper sleeper);
    static void sleep(DWORD milliseconds);

    // The registered window messages of the middleware, registered when the program starts.
    static UINT computerNodeChangeMessage();
    static UINT lookupDirectoryMessage();
    static UINT fileTransferMessage();
    static UINT profileMessage();

    // Sets the thread's last error from a failed call: middleware codes as they are, platform
    // errors as their Win32 number, anything else as it is.
    static void keepError(const char* where, HRESULT error);
    // Windows cross the interface as 32-bit numbers.
    static ULONG windowNumber(HWND window);

    bool Initialize();
    bool Uninitialize();
    bool RegisterWnd(HWND window);
    bool DeregisterWnd(HWND window);
    CQUARNAPDir* OpenAPDir(const std::string& applicationName, HWND window);
    CQUARNLookupDir* openLookupDir(const std::string& path, HWND window);
    std::string GetGUIDString();
    bool UnlockDB(bool locked);
    // Throws CQuarnCallException with the failed call's HRESULT.
    std::string GetIP(const std::string& path);
    DWORD GetServerVersion();

    // For the directory handles: the server, or null with E_POINTER kept.
    IQuarnSrv* serverFor(const char* where);
    // True when the call succeeded; otherwise the error is kept.
    static bool succeeded(const char* where, HRESULT result);

private:
    bool release(const char* where);

    std::string guidString;
    IQuarnSrv* pQuarnSrv;
    bool comInitialized;
};
