#include "CQuarnHost.h"

#include "CQuarnModule.h"
#include "CQuarnRegistrar.h"
#include "CQuarnSrvFactory.h"
#include "QuarnSwitch.h"
#include "QuarnTrace.h"
#include "quarnhost.h"

#include <objbase.h>

#include <string>

int CQuarnHost::Main(const char* commandLine)
{
    HRESULT initialized = CoInitialize(nullptr);
    if (FAILED(initialized))
        QuarnTrace("CQuarnHost::Main(): CoInitialize 0x%08lX\n", static_cast<unsigned long>(initialized));
    HRESULT result = S_OK;
    QuarnSwitch which = ParseQuarnSwitch(commandLine);
    if (which == QuarnSwitch::Run) {
        result = Serve();
    } else {
        char path[MAX_PATH + 1];
        DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        CQuarnRegistrar registrar(HKEY_LOCAL_MACHINE, CQuarnRegistrar::MACHINE_CLASSES);
        if (length == 0 || length >= MAX_PATH)
            result = HRESULT_FROM_WIN32(length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
        else if (which == QuarnSwitch::RegServer)
            result = registrar.Register(std::string(path, length));
        else
            result = registrar.Unregister();
    }
    if (SUCCEEDED(initialized))
        CoUninitialize();
    return static_cast<int>(result);
}

HRESULT CQuarnHost::Serve()
{
    CQuarnModule& module = CQuarnModule::Instance();
    if (!module.StartMonitor(GetCurrentThreadId()))
        QuarnTrace("CQuarnHost::Serve(): no shutdown monitor, error %lu\n", GetLastError());
    static CQuarnSrvFactory factory;
    DWORD cookie = 0;
    HRESULT result = CoRegisterClassObject(CLSID_QuarnSrv, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    // Without the class object no client can come, and so no last release would end the wait.
    if (FAILED(result))
        return result;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    CoRevokeClassObject(cookie);
    Sleep(CQuarnModule::EXIT_PAUSE_MS);
    module.WaitMonitor();
    return S_OK;
}
