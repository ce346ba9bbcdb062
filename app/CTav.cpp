#include "CTav.h"

#include "CBuilder.h"
#include "CDirector.h"
#include "CMessageBox.h"
#include "CMutexHandler.h"
#include "CNoSuchElementException.h"
#include "CPreferenceManager.h"
#include "CTavUtility.h"
#include "CTrace.h"

#include <AfxLibrary.h>
#include <AfxOle.h>
#include <AfxSocket.h>
#include <CMutex.h>

#include <objbase.h>

namespace {

const char SCOPE[] = "CTav";
const char APPLICATION_NAME[] = "Tavelin";
const char RESOURCE_LIBRARY[] = "tavlang.dll";
const char NOT_FOUND_SUFFIX[] = " not found. Tavelin will terminate.";
const char REGISTRY_ROOT[] = "Keldar Corporation";
const UINT CAPTION_STRING = 57344;
const UINT NO_SOCKETS_STRING = 104;
const UINT ALREADY_RUNNING_STRING = 62002;
const UINT NOT_INITIALIZED_STRING = 62003;
// A start that ends without running tells so by its exit code.
const int EXIT_NOT_STARTED = 1;

// {14A55B35-246A-11D3-B1D5-00105A1F4184}
const CLSID FIRST_AUTOMATION = {0x14A55B35, 0x246A, 0x11D3, {0xB1, 0xD5, 0x00, 0x10, 0x5A, 0x1F, 0x41, 0x84}};
// {FB99C639-B3F9-11D2-B14C-00105A1F4184}
const CLSID SECOND_AUTOMATION = {0xFB99C639, 0xB3F9, 0x11D2, {0xB1, 0x4C, 0x00, 0x10, 0x5A, 0x1F, 0x41, 0x84}};
const DISPID METHOD_START = 1;
const DISPID METHOD_END = 2;

// Made at load and kept until the process ends: the running instance holds it for good.
CMutex g_canBoot(FALSE, "KeldarTavelin_CanBoot");
CMutexHandler g_noticeGuard("KeldarTavelin_NotifingDualBoot");

std::string caption()
{
    return CTavUtility::loadString(CAPTION_STRING, APPLICATION_NAME);
}

std::string joinPath(const std::string& directory, const char* file)
{
    return directory + "\\" + file;
}

} // namespace

const char CTav::REGISTRY_KEY[] = "Software\\Keldar Corporation\\Tavelin\\2.0";

CTav::CTav()
    : CWinApp(APPLICATION_NAME), builder_(nullptr), resourceLibrary_(nullptr), savedResourceHandle_(nullptr),
      firstAutomationCreated_(false), secondAutomationCreated_(false), started_(false), comInitialized_(false)
{
}

CTav::~CTav() = default;

BOOL CTav::InitInstance()
{
    savedResourceHandle_ = AfxGetResourceHandle();
    resourceLibrary_ = loadResourceLibrary();
    if (resourceLibrary_ == nullptr) {
        CMessageBox::show(nullptr, std::string(RESOURCE_LIBRARY) + NOT_FOUND_SUFFIX, APPLICATION_NAME, MB_ICONERROR);
        return FALSE;
    }
    AfxSetResourceHandle(resourceLibrary_);

    if (readResourceDir(REGISTRY_KEY).empty())
        writeResourceDir(REGISTRY_KEY, getCurrentDir());
    std::string currentDir = getCurrentDir();

    if (!AfxSocketInit()) {
        CMessageBox::show(nullptr, CTavUtility::loadString(NO_SOCKETS_STRING, ""), caption(), MB_OK);
        return FALSE;
    }
    AfxEnableControlContainer();
    Enable3dControls();
    SetRegistryKey(REGISTRY_ROOT);
    CoInitialize(nullptr);
    comInitialized_ = true;
    startHostRegistration();

    if (!g_canBoot.Lock(0)) {
        CTrace::trace(SCOPE, "InitInstance: another instance runs");
        if (g_noticeGuard.Lock())
            CMessageBox::show(nullptr, CTavUtility::loadString(ALREADY_RUNNING_STRING, ""), caption(), MB_ICONWARNING);
        return FALSE;
    }

    // The process utilities cannot see the logic: it is registered here, before the builder
    // asks for it.
    CTavUtility::setDirectorFactory(&CDirector::create);
    builder_ = new CBuilder(&m_pMainWnd, m_lpCmdLine, REGISTRY_KEY, currentDir);
    if (m_pMainWnd == nullptr) {
        CMessageBox::show(nullptr, CTavUtility::loadString(NOT_INITIALIZED_STRING, ""), caption(), MB_ICONWARNING);
        return FALSE;
    }
    started_ = true;
    return TRUE;
}

int CTav::ExitInstance()
{
    if (builder_ != nullptr) {
        delete builder_;
        builder_ = nullptr;
    }
    if (firstAutomationCreated_) {
        firstAutomation_.InvokeMethod(METHOD_END, {});
        firstAutomation_.ReleaseDispatch();
        firstAutomationCreated_ = false;
    }
    if (secondAutomationCreated_) {
        secondAutomation_.InvokeMethod(METHOD_END, {});
        secondAutomation_.ReleaseDispatch();
        secondAutomationCreated_ = false;
    }
    if (comInitialized_) {
        CoUninitialize();
        comInitialized_ = false;
    }
    AfxSetResourceHandle(savedResourceHandle_);
    if (resourceLibrary_ != nullptr) {
        AfxFreeLibrary(resourceLibrary_);
        resourceLibrary_ = nullptr;
    }
    int code = CWinApp::ExitInstance();
    return started_ ? code : EXIT_NOT_STARTED;
}

bool CTav::isHostRegistrationStarted()
{
    return CPreferenceManager::isHostRegistrationStarted();
}

HINSTANCE CTav::loadResourceLibrary()
{
    HINSTANCE library = AfxLoadLibrary(joinPath(getCurrentDir(), RESOURCE_LIBRARY).c_str());
    if (library != nullptr)
        return library;
    std::string saved = readResourceDir(REGISTRY_KEY);
    if (saved.empty())
        return nullptr;
    return AfxLoadLibrary(joinPath(saved, RESOURCE_LIBRARY).c_str());
}

std::string CTav::readResourceDir(const std::string& registryKey)
{
    try {
        return CPreferenceManager::restoreResourcePath(registryKey);
    } catch (const CNoSuchElementException& e) {
        CTrace::trace(SCOPE, "readResourceDir: " + e.getMessage());
    } catch (...) {
        CTrace::trace(SCOPE, "readResourceDir: the reader failed");
    }
    return "";
}

void CTav::writeResourceDir(const std::string& registryKey, const std::string& directory)
{
    CPreferenceManager::storeResourcePath(registryKey, directory);
}

std::string CTav::getCurrentDir()
{
    char directory[MAX_PATH + 1] = {};
    DWORD length = GetCurrentDirectoryA(sizeof(directory), directory);
    if (length == 0 || length >= sizeof(directory))
        return "";
    return directory;
}

void CTav::startHostRegistration()
{
    CPreferenceManager::setHostRegistrationStarted(true);
    long instance = static_cast<long>(reinterpret_cast<LONG_PTR>(m_hInstance));
    long threadId = static_cast<long>(m_nThreadID != 0 ? m_nThreadID : GetCurrentThreadId());
    if (firstAutomation_.CreateDispatch(FIRST_AUTOMATION)) {
        firstAutomationCreated_ = true;
        firstAutomation_.InvokeMethod(METHOD_START, {instance, threadId, ""});
        return;
    }
    if (secondAutomation_.CreateDispatch(SECOND_AUTOMATION)) {
        secondAutomationCreated_ = true;
        secondAutomation_.InvokeMethod(METHOD_START, {instance, threadId});
        return;
    }
    CTrace::trace(SCOPE, "startHostRegistration: no outside object");
}
