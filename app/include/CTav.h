#pragma once
// The application object of tavapp: loads the resource library, starts sockets and COM, tells
// an outside object (when one is installed) of the start, lets only one instance run, and has
// the builder make the program; at exit it undoes all of it in reverse.
#include <CWinApp.h>
#include <COleDispatchDriver.h>

#include <string>

class CBuilder;

class CTav : public CWinApp {
public:
    CTav();
    ~CTav() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    static bool isHostRegistrationStarted();
    HINSTANCE loadResourceLibrary();
    static std::string readResourceDir(const std::string& registryKey);
    static void writeResourceDir(const std::string& registryKey, const std::string& directory);
    static std::string getCurrentDir();
    // Creates the outside start-up object, if one is installed, and tells it of the start.
    void startHostRegistration();

    static const char REGISTRY_KEY[];

private:
    CBuilder* builder_;
    HINSTANCE resourceLibrary_;
    HINSTANCE savedResourceHandle_;
    bool firstAutomationCreated_;
    bool secondAutomationCreated_;
    COleDispatchDriver firstAutomation_;
    COleDispatchDriver secondAutomation_;
    // InitInstance returned TRUE: the program ran.
    bool started_;
    // CoInitialize ran, so exit balances it.
    bool comInitialized_;
};
