#include "CPreferenceManager.h"

#include "CIllegalArgumentException.h"
#include "CInteger.h"
#include "CMethodCallMessage.h"
#include "CNoSuchElementException.h"
#include "CTrace.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <vector>

namespace {

const char SCOPE[] = "CPreferenceManager";
const char MUTE[] = "mute";
const char CURSOR[] = "cursor";
const char SKIN[] = "skin";
const char VIEWBG[] = "viewbg";
const char CUSTOMBG[] = "custombg";
const char NICKNAME[] = "nickname";
const char RESOURCEPATH[] = "resourcepath";
// Muted is kept as "OFF" (sound off), cursors shown as "ON".
const char ON[] = "ON";
const char OFF[] = "OFF";

const DWORD DEFAULT_MUTE = 0;
const DWORD DEFAULT_CURSOR = 1;
const DWORD DEFAULT_SKIN = 0;
const DWORD DEFAULT_VIEWBG = 0;

std::atomic<bool> g_hostRegistrationStarted{false};

// Bytes of a registry value as text: up to the first NUL or the end of what was read.
std::string textOf(const std::vector<char>& bytes, DWORD length)
{
    if (length > bytes.size())
        length = static_cast<DWORD>(bytes.size());
    std::string text(bytes.data(), length);
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    return text;
}

// The value's bytes, or false when its size or its bytes cannot be read.
bool readBytes(HKEY key, const char* name, std::vector<char>* bytes, DWORD* length)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return false;
    bytes->assign(size, '\0');
    *length = size;
    return RegQueryValueExA(key, name, nullptr, nullptr, size != 0 ? reinterpret_cast<BYTE*>(bytes->data()) : nullptr,
                            length) == ERROR_SUCCESS;
}

void readNumber(HKEY key, const char* name, DWORD* value)
{
    DWORD number = 0;
    DWORD size = sizeof(number);
    DWORD type = 0;
    // A shorter value reads into the low bytes of a zeroed number; a longer one is not read.
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) == ERROR_SUCCESS)
        *value = number;
    else
        CTrace::trace(SCOPE, std::string("load: ") + name + " not read, the default stays");
}

void writeNumber(HKEY key, const char* name, DWORD value)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void writeText(HKEY key, const char* name, const std::string& value)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

} // namespace

CPreferenceManager::CPreferenceManager(std::string registryKey, std::string appId, std::string terminalId,
                                       std::string nickname, std::string resourcePath)
    : registryKey_(std::move(registryKey)), appId_(std::move(appId)), resourcePath_(std::move(resourcePath))
{
    try {
        setTerminalId(terminalId);
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedFatalError(SCOPE, "terminal id [" + terminalId + "] refused: " + e.getMessage(), -1);
    }
    setNickname(nickname);
    load();
}

CPreferenceManager::~CPreferenceManager()
{
    save();
    CoUninitialize();
}

std::string CPreferenceManager::getTerminalId() const
{
    return terminalId_.toString();
}

void CPreferenceManager::setTerminalId(const std::string& terminalId)
{
    std::string separator = getSeparator();
    if (terminalId.find(separator) != std::string::npos)
        throw CIllegalArgumentException("the terminal id contains the separator [" + separator + "]");
    terminalId_.setString(terminalId);
}

std::string CPreferenceManager::getAppId() const
{
    return appId_;
}

std::string CPreferenceManager::getNickname() const
{
    return nickname_;
}

void CPreferenceManager::setNickname(const std::string& nickname)
{
    nickname_ = nickname;
}

int CPreferenceManager::getViewBg() const
{
    return CInteger::parseInt(viewBg_.toString());
}

void CPreferenceManager::setViewBg(int index)
{
    viewBg_.setString(CInteger::toString(index));
}

int CPreferenceManager::getSkin() const
{
    return CInteger::parseInt(skin_.toString());
}

void CPreferenceManager::setSkin(int skin)
{
    skin_.setString(CInteger::toString(skin));
}

bool CPreferenceManager::getMute() const
{
    return mute_.toString() == OFF;
}

void CPreferenceManager::setMute(bool muted)
{
    mute_.setString(muted ? OFF : ON);
}

bool CPreferenceManager::getCursor() const
{
    return cursor_.toString() == ON;
}

void CPreferenceManager::setCursor(bool shown)
{
    cursor_.setString(shown ? ON : OFF);
}

std::string CPreferenceManager::getCustomBg() const
{
    return customBg_.toString();
}

void CPreferenceManager::setCustomBg(const std::string& path)
{
    customBg_.setString(path);
}

std::string CPreferenceManager::getResourcePath() const
{
    return resourcePath_;
}

void CPreferenceManager::load()
{
    DWORD mute = DEFAULT_MUTE;
    DWORD cursor = DEFAULT_CURSOR;
    DWORD skin = DEFAULT_SKIN;
    DWORD viewBg = DEFAULT_VIEWBG;
    std::string customBg;

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, registryKey_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        readNumber(key, MUTE, &mute);
        readNumber(key, CURSOR, &cursor);
        readNumber(key, SKIN, &skin);
        readNumber(key, VIEWBG, &viewBg);
        std::vector<char> bytes;
        DWORD length = 0;
        if (readBytes(key, CUSTOMBG, &bytes, &length))
            customBg = textOf(bytes, length);
        else
            CTrace::trace(SCOPE, "load: custombg not read, empty");
        RegCloseKey(key);
    } else {
        CTrace::trace(SCOPE, "load: no key " + registryKey_ + ", made with the defaults");
        if (RegCreateKeyExA(HKEY_CURRENT_USER, registryKey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            CTrace::scopedFatalError(SCOPE, "load: the key " + registryKey_ + " cannot be made", -1);
        writeNumber(key, MUTE, mute);
        writeNumber(key, CURSOR, cursor);
        writeNumber(key, SKIN, skin);
        writeNumber(key, VIEWBG, viewBg);
        writeText(key, CUSTOMBG, customBg);
        RegCloseKey(key);
    }
    setMute(mute != 0);
    setCursor(cursor != 0);
    setSkin(static_cast<int>(skin));
    setViewBg(static_cast<int>(viewBg));
    setCustomBg(customBg);
}

void CPreferenceManager::save()
{
    DWORD mute = getMute() ? 1 : 0;
    DWORD cursor = getCursor() ? 1 : 0;
    DWORD skin = static_cast<DWORD>(getSkin());
    DWORD viewBg = static_cast<DWORD>(getViewBg());
    std::string customBg = getCustomBg();

    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, registryKey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        CTrace::scopedFatalError(SCOPE, "save: the key " + registryKey_ + " cannot be opened", -1);
    writeNumber(key, MUTE, mute);
    writeNumber(key, CURSOR, cursor);
    writeNumber(key, SKIN, skin);
    writeNumber(key, VIEWBG, viewBg);
    writeText(key, CUSTOMBG, customBg);
    RegCloseKey(key);
}

std::string CPreferenceManager::getSeparator()
{
    return CMethodCallMessage::ARG_SEPARATOR;
}

std::string CPreferenceManager::readString(const std::string& registryKey, const std::string& valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, registryKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        throw CNoSuchElementException("readString: the key " + registryKey + " does not open");
    std::vector<char> bytes;
    DWORD length = 0;
    bool read = readBytes(key, valueName.c_str(), &bytes, &length);
    RegCloseKey(key);
    if (!read)
        throw CNoSuchElementException("readString: " + valueName + " of " + registryKey + " cannot be read");
    return textOf(bytes, length);
}

void CPreferenceManager::storeString(const std::string& registryKey, const std::string& valueName,
                                     const std::string& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, registryKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        CTrace::scopedError(SCOPE, "storeString: subKey={" + registryKey + "} valuName={" + valueName +
                                       "} storeValue={" + value + "}",
                            -1);
        return;
    }
    writeText(key, valueName.c_str(), value);
    RegCloseKey(key);
}

std::string CPreferenceManager::restoreNickname(const std::string& registryKey)
{
    return readString(registryKey, NICKNAME);
}

void CPreferenceManager::storeNickname(const std::string& registryKey, const std::string& nickname)
{
    storeString(registryKey, NICKNAME, nickname);
}

std::string CPreferenceManager::restoreResourcePath(const std::string& registryKey)
{
    return readString(registryKey, RESOURCEPATH);
}

void CPreferenceManager::storeResourcePath(const std::string& registryKey, const std::string& directory)
{
    storeString(registryKey, RESOURCEPATH, directory);
}

void CPreferenceManager::setHostRegistrationStarted(bool started)
{
    g_hostRegistrationStarted.store(started);
}

bool CPreferenceManager::isHostRegistrationStarted()
{
    return g_hostRegistrationStarted.load();
}
