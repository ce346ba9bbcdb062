#pragma once
// The user's preferences and this run's identities: read from the registry when the one
// instance is made, written back when it is deleted. Class-wide: single text values of the
// registry (the resource library's folder, the nickname) for the start and the end of the
// program, when no instance exists yet or any more, and whether the outside start-up object
// was told of the start.
#include "CJString.h"
#include "CObservable.h"

#include <string>

class CPreferenceManager : public CObservable {
public:
    // The registry key lies below HKEY_CURRENT_USER. A terminal id that holds the separator
    // ends the process (fatal trace).
    CPreferenceManager(std::string registryKey, std::string appId, std::string terminalId, std::string nickname,
                       std::string resourcePath);
    // Saves; then releases one COM initialisation of the calling thread, the one the process
    // utilities made on it.
    ~CPreferenceManager() override;

    std::string getTerminalId() const;
    // CIllegalArgumentException when the id contains the separator.
    void setTerminalId(const std::string& terminalId);
    std::string getAppId() const;
    std::string getNickname() const;
    void setNickname(const std::string& nickname);
    int getViewBg() const;
    void setViewBg(int index);
    int getSkin() const;
    void setSkin(int skin);
    // True when sounds are muted.
    bool getMute() const;
    void setMute(bool muted);
    // True when the peers' cursors are shown.
    bool getCursor() const;
    void setCursor(bool shown);
    std::string getCustomBg() const;
    void setCustomBg(const std::string& path);
    std::string getResourcePath() const;

    void load();
    void save();

    // The separator of the element layer's call texts, which no terminal id may contain.
    static std::string getSeparator();
    // The value as text, up to its first NUL or the end of the bytes read, whatever its type;
    // CNoSuchElementException when the key or the value cannot be read.
    static std::string readString(const std::string& registryKey, const std::string& valueName);
    // Writes REG_SZ; a key that cannot be made gives an error line, nothing stored.
    static void storeString(const std::string& registryKey, const std::string& valueName, const std::string& value);
    static std::string restoreNickname(const std::string& registryKey);
    static void storeNickname(const std::string& registryKey, const std::string& nickname);
    static std::string restoreResourcePath(const std::string& registryKey);
    static void storeResourcePath(const std::string& registryKey, const std::string& directory);

    // Set by the application object as its first step of telling an outside object of the
    // start (whether or not one was there); read by windows that cannot see the application.
    static void setHostRegistrationStarted(bool started);
    static bool isHostRegistrationStarted();

private:
    std::string registryKey_;
    CJString terminalId_;
    std::string appId_;
    std::string nickname_;
    CJString viewBg_;
    CJString skin_;
    CJString mute_;
    CJString cursor_;
    CJString customBg_;
    std::string resourcePath_;
};
