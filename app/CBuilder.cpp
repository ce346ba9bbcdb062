#include "CBuilder.h"

#include "CInteger.h"
#include "CLocalMethod.h"
#include "CMainWnd.h"
#include "CMessageBox.h"
#include "CNoSuchElementException.h"
#include "CPreferenceManager.h"
#include "CQuarn.h"
#include "CThread.h"
#include "CTrace.h"
#include "ILogicHandle.h"

#include <cstdlib>
#include <new>

namespace {

const char SCOPE[] = "CBuilder";
const char RICHEDIT_LIBRARY[] = "RICHED20.DLL";
const char OPT_DUMP[] = "DUMP";
const char OPT_TIMEOFF[] = "TIMEOFF";
const char OPT_DUMPLEVEL[] = "DUMPLEVEL=";
const char OPT_CODE_SCOPE[] = "CODE_SCOPE=";
const char OPT_SELF_ID[] = "SELF_ID=";
const char OPT_APP_ID[] = "APP_ID=";
const char OPT_NICKNAME[] = "NICKNAME=";
const char OPT_MESSAGE_TEST[] = "USER_MESSAGE_DISP_TEST";
const UINT CAPTION_STRING = 57344;
const UINT NO_RICHEDIT_STRING = 62004;
// A start that ends without running tells so by its exit code.
const int EXIT_NOT_STARTED = 1;

std::string g_registryKey;
CBuilder::GuiFactory g_guiFactory = &CMainWnd::createGuiHandle;
HMODULE g_richEdit = nullptr;

std::string caption()
{
    return CTavUtility::loadString(CAPTION_STRING, "Tavelin");
}

} // namespace

const char CBuilder::DEFAULT_APP_ID[] = "764A7520-9D2C-11d4-AFDB-00105A67EDD0";

CBuilder::CBuilder(CWnd** mainWndSlot, const char* commandLine, const std::string& registryKey,
                   const std::string& currentDir)
    : localMethod_(nullptr), logic_(nullptr), gui_(nullptr), preferences_(nullptr), middleware_(nullptr),
      previousExecutionState_(0)
{
    std::string options = commandLine != nullptr ? commandLine : "";

    CTrace::setOutputToFile();
    CTrace::setAbortOnError(false);
    CTrace::setDumpOff();
    if (options.find(OPT_DUMP) != std::string::npos)
        CTrace::setDumpOn();
    else
        CTrace::setDumpOff();
    CTrace::setTimeStamp(options.find(OPT_TIMEOFF) == std::string::npos);

    std::string dumpLevel = getOption(options, OPT_DUMPLEVEL);
    if (!dumpLevel.empty()) {
        CTrace::trace(SCOPE, "dump level [" + dumpLevel + "]");
        CTrace::setDumpLevel(CInteger::parseInt(dumpLevel));
        CTrace::setDumpOff();
    }
    std::string codeScope = getOption(options, OPT_CODE_SCOPE);
    if (!codeScope.empty()) {
        CTrace::trace(SCOPE, "code scope [" + codeScope + "]");
        CTrace::setCodeScope(codeScope);
    }
    std::string terminalId = getOption(options, OPT_SELF_ID);
    if (!terminalId.empty())
        CTrace::trace(SCOPE, "self id [" + terminalId + "]");
    else
        terminalId = CTavUtility::newGuidString();
    std::string appId = getOption(options, OPT_APP_ID);
    if (!appId.empty())
        CTrace::trace(SCOPE, "application id [" + appId + "]");
    else
        appId = DEFAULT_APP_ID;
    std::string nickname = getOption(options, OPT_NICKNAME);
    if (!nickname.empty())
        CTrace::trace(SCOPE, "nickname [" + nickname + "]");
    if (options.find(OPT_MESSAGE_TEST) != std::string::npos)
        showAllUserMessages();

    g_registryKey = registryKey;

    g_richEdit = LoadLibraryA(RICHEDIT_LIBRARY);
    if (g_richEdit == nullptr) {
        CTrace::trace(SCOPE, "RICHED20.DLL does not load");
        CMessageBox::show(nullptr, CTavUtility::loadString(NO_RICHEDIT_STRING, ""), caption(), MB_ICONERROR);
        exit(EXIT_NOT_STARTED);
    }

    CTrace::setThreadName("MAIN");
    CThread::registerUIThread();

    localMethod_ = new CLocalMethod();

    previousExecutionState_ = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    if (previousExecutionState_ == 0)
        CTrace::scopedFatalError(SCOPE, "SetThreadExecutionState failed", -1);

    middleware_ = new CQuarn(appId, terminalId);

    if (nickname.empty()) {
        try {
            nickname = CPreferenceManager::restoreNickname(registryKey);
        } catch (const CNoSuchElementException& e) {
            CTrace::trace(SCOPE, "no stored nickname: " + e.getMessage());
        }
        if (nickname.empty())
            nickname = getDefaultNickname();
    }

    CTrace::trace(SCOPE, "appId=[" + appId + "] termId=[" + terminalId + "] nickName=[" + nickname + "]");

    preferences_ = new CPreferenceManager(registryKey, appId, terminalId, nickname, currentDir);

    gui_ = g_guiFactory(mainWndSlot, preferences_, middleware_);
    // The logic would use the GUI from its first step on.
    if (gui_ == nullptr) {
        CTrace::trace(SCOPE, "no GUI, so no logic");
        return;
    }
    logic_ = CTavUtility::createDirector(gui_, preferences_, middleware_);
    if (logic_ == nullptr)
        CTrace::trace(SCOPE, "no logic");
}

CBuilder::~CBuilder()
{
    CTrace::trace(SCOPE, "~CBuilder");
    if (preferences_ != nullptr)
        CPreferenceManager::storeNickname(g_registryKey, preferences_->getNickname());
    delete logic_;
    logic_ = nullptr;
    delete gui_;
    gui_ = nullptr;
    delete preferences_;
    preferences_ = nullptr;
    delete middleware_;
    middleware_ = nullptr;
    delete localMethod_;
    localMethod_ = nullptr;
    if (previousExecutionState_ != 0)
        SetThreadExecutionState(previousExecutionState_);
    if (g_richEdit != nullptr) {
        FreeLibrary(g_richEdit);
        g_richEdit = nullptr;
    }
}

CBuilder::GuiFactory CBuilder::setGuiFactory(GuiFactory factory)
{
    GuiFactory previous = g_guiFactory;
    g_guiFactory = factory != nullptr ? factory : &CMainWnd::createGuiHandle;
    return previous;
}

std::string CBuilder::getOption(const std::string& commandLine, const std::string& key)
{
    size_t at = commandLine.find(key);
    if (at == std::string::npos)
        return "";
    size_t begin = at + key.size();
    size_t end = commandLine.find(' ', begin);
    return commandLine.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string CBuilder::getDefaultNickname()
{
    char name[256] = {};
    DWORD size = sizeof(name);
    if (GetUserNameA(name, &size))
        return name;
    CTrace::trace(SCOPE, "getDefaultNickname: no user name, GetLastError()=" + std::to_string(GetLastError()));
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    size = sizeof(computer);
    if (GetComputerNameA(computer, &size))
        return computer;
    return "";
}

void CBuilder::showAllUserMessages()
{
    static const UINT MESSAGES[] = {104,   62000, 62002, 62003, 62004, 63000, 63001, 63002, 63003, 63004,
                                    63005, 63006, 63007, 63008, 63009, 63010, 63011, 63012, 63013, 63014,
                                    63015, 63016, 63017, 63017, 63026, 63021, 62005, 62006};
    std::string title = caption();
    for (UINT id : MESSAGES) {
        UINT type = (id == 63026 || id == 62005) ? MB_YESNO : MB_OK;
        CMessageBox::show(nullptr, CTavUtility::loadString(id, ""), title, type);
    }
}
