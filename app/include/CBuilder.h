#pragma once
// Builds the whole program on the user-interface thread and takes it down again: options and
// tracing, the rich-edit library, the UI thread and its invoker, standby kept off, the
// middleware, the nickname, the preferences, the GUI and, last, the session logic.
#include "CTavUtility.h"

#include <windows.h>

#include <string>

class CLocalMethod;
class CPreferenceManager;
class CQuarn;
class CWnd;
class IGuiHandle;
class ILogicHandle;

class CBuilder {
public:
    // mainWndSlot: the application's main-window slot, which the GUI fills. commandLine: the
    // text after the program name.
    CBuilder(CWnd** mainWndSlot, const char* commandLine, const std::string& registryKey,
             const std::string& currentDir);
    // Stores the nickname, then deletes logic, GUI, preferences, middleware and invoker.
    ~CBuilder();
    CBuilder(const CBuilder&) = delete;
    CBuilder& operator=(const CBuilder&) = delete;

    // The value after the first occurrence of key up to the next blank; empty without the key.
    static std::string getOption(const std::string& commandLine, const std::string& key);
    // The logged-on user's name (the computer's name when it cannot be had).
    static std::string getDefaultNickname();
    // Every user message once, each waiting for its answer.
    static void showAllUserMessages();

    static const char DEFAULT_APP_ID[];

    // How the GUI is made (the main window's factory unless a test replaces it); null restores
    // it. Returns the factory in force before.
    using GuiFactory = IGuiHandle* (*)(CWnd** mainWndSlot, CPreferenceManager* preferences, CQuarn* middleware);
    static GuiFactory setGuiFactory(GuiFactory factory);

private:
    CLocalMethod* localMethod_;
    ILogicHandle* logic_;
    IGuiHandle* gui_;
    CPreferenceManager* preferences_;
    CQuarn* middleware_;
    EXECUTION_STATE previousExecutionState_;
    // Made before the constructor's steps and gone after the destructor's: it gives the process
    // its identity and, at the end, removes the folders of ended processes.
    CTavUtility utility_;
};
