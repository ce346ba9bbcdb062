#include "CQuarnRegistrar.h"

#include "quarnhost.h"

#include <oleauto.h>

namespace {

const char PROGID[] = "Quarnhost.QuarnSrv.1";
const char PROGID_INDEPENDENT[] = "Quarnhost.QuarnSrv";
const WORD LIB_MAJOR = 1;
const WORD LIB_MINOR = 0;
const LCID LIB_LOCALE = 0x409;

HRESULT fromError(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

// Whether the ProgID's class is this one: the shared ProgID names the server registered last.
bool namesClass(HKEY classes, const char* progId, const char* clsid)
{
    char data[64] = {};
    DWORD size = sizeof(data) - 1;
    if (RegGetValueA(classes, (std::string(progId) + "\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size)
        != ERROR_SUCCESS)
        return false;
    return _stricmp(data, clsid) == 0;
}

} // namespace

const CQuarnRegistrar::Identity& CQuarnRegistrar::HostIdentity()
{
    static const Identity host = {"{D04B612E-C43E-49C5-A0C5-E2999608C64B}", "{774E287D-8E76-45C1-81C1-A7DB9214E41D}",
                                  "{A47E7BA1-57CC-4CBB-BDC4-7E244F061A94}", "{4B1DB918-A2DF-4AA9-9DA9-63563B116B09}",
                                  LIBID_QUARNHOSTLib, "Quarnhost", "QuarnSrv Class"};
    return host;
}

CQuarnRegistrar::CQuarnRegistrar(HKEY root, std::string classes, const Identity& identity)
    : m_root(root), m_classes(std::move(classes)), m_identity(identity)
{
}

std::string CQuarnRegistrar::ClassKey(const Identity& identity)
{
    return std::string("CLSID\\") + identity.clsid;
}

std::vector<CQuarnRegistrar::Value> CQuarnRegistrar::Table(const std::string& modulePath, const Identity& identity)
{
    const std::string cls = ClassKey(identity);
    return {
        {std::string("AppID\\") + identity.appId, "", identity.appName},
        {std::string("AppID\\") + identity.appName + ".EXE", "AppID", identity.appId},
        {PROGID, "", identity.className},
        {std::string(PROGID) + "\\CLSID", "", identity.clsid},
        {PROGID_INDEPENDENT, "", identity.className},
        {std::string(PROGID_INDEPENDENT) + "\\CLSID", "", identity.clsid},
        {std::string(PROGID_INDEPENDENT) + "\\CurVer", "", PROGID},
        {cls, "", identity.className},
        {cls, "AppID", identity.appId},
        {cls + "\\ProgID", "", PROGID},
        {cls + "\\VersionIndependentProgID", "", PROGID_INDEPENDENT},
        {cls + "\\LocalServer32", "", modulePath},
        {cls + "\\TypeLib", "", identity.libId},
    };
}

std::vector<std::string> CQuarnRegistrar::OwnKeys(const Identity& identity)
{
    return {std::string("AppID\\") + identity.appId, std::string("AppID\\") + identity.appName + ".EXE",
            ClassKey(identity)};
}

LONG CQuarnRegistrar::WriteTable(const std::string& modulePath) const
{
    HKEY classes;
    LONG error = RegCreateKeyExA(m_root, m_classes.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes, nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    // The class key is replaced whole, with its empty "Programmable".
    error = RegDeleteTreeA(classes, ClassKey(m_identity).c_str());
    if (error == ERROR_FILE_NOT_FOUND)
        error = ERROR_SUCCESS;
    HKEY programmable;
    if (error == ERROR_SUCCESS)
        error = RegCreateKeyExA(classes, (ClassKey(m_identity) + "\\Programmable").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &programmable, nullptr);
    if (error == ERROR_SUCCESS)
        RegCloseKey(programmable);
    for (const Value& value : Table(modulePath, m_identity)) {
        if (error != ERROR_SUCCESS)
            break;
        HKEY key;
        error = RegCreateKeyExA(classes, value.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (error != ERROR_SUCCESS)
            break;
        error = RegSetValueExA(key, value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.data.c_str()),
                               static_cast<DWORD>(value.data.size() + 1));
        RegCloseKey(key);
    }
    RegCloseKey(classes);
    return error;
}

LONG CQuarnRegistrar::RemoveTable() const
{
    HKEY classes;
    LONG error = RegOpenKeyExA(m_root, m_classes.c_str(), 0, KEY_ALL_ACCESS, &classes);
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    LONG result = ERROR_SUCCESS;
    std::vector<std::string> keys = OwnKeys(m_identity);
    for (const char* progId : {PROGID, PROGID_INDEPENDENT}) {
        if (namesClass(classes, progId, m_identity.clsid))
            keys.push_back(progId);
    }
    for (const std::string& key : keys) {
        LONG removed = RegDeleteTreeA(classes, key.c_str());
        if (removed == ERROR_SUCCESS)
            removed = RegDeleteKeyA(classes, key.c_str());
        if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND && result == ERROR_SUCCESS)
            result = removed;
    }
    RegCloseKey(classes);
    return result;
}

HRESULT CQuarnRegistrar::Register(const std::string& modulePath) const
{
    HRESULT result = fromError(WriteTable(modulePath));
    if (FAILED(result))
        return result;
    std::wstring path;
    int length = MultiByteToWideChar(CP_ACP, 0, modulePath.c_str(), -1, nullptr, 0);
    if (length > 0) {
        path.assign(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_ACP, 0, modulePath.c_str(), -1, &path[0], length);
        path.resize(static_cast<size_t>(length - 1));
    }
    ITypeLib* library = nullptr;
    result = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(result))
        return result;
    result = RegisterTypeLib(library, &path[0], nullptr);
    library->Release();
    if (FAILED(result))
        return result;
    // The platform's automation marshaller looks the library up in the neutral locale only.
    HKEY neutral;
    const std::string neutralKey = m_classes + "\\TypeLib\\" + m_identity.libId + "\\1.0\\0\\win64";
    LONG error = RegCreateKeyExA(m_root, neutralKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &neutral, nullptr);
    if (error == ERROR_SUCCESS) {
        error = RegSetValueExA(neutral, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(modulePath.c_str()),
                               static_cast<DWORD>(modulePath.size() + 1));
        RegCloseKey(neutral);
    }
    return fromError(error);
}

HRESULT CQuarnRegistrar::Unregister() const
{
    HRESULT result = fromError(RemoveTable());
    HRESULT library = UnRegisterTypeLib(m_identity.libGuid, LIB_MAJOR, LIB_MINOR, LIB_LOCALE, SYS_WIN64);
    // A library that was never registered is nothing to remove.
    if (FAILED(library) && library != TYPE_E_REGISTRYACCESS && library != TYPE_E_LIBNOTREGISTERED && SUCCEEDED(result))
        result = library;
    // What the removal of the library leaves: the neutral locale's entry, and the interface's
    // key when the library could not be read.
    HKEY classes;
    if (RegOpenKeyExA(m_root, m_classes.c_str(), 0, KEY_ALL_ACCESS, &classes) == ERROR_SUCCESS) {
        for (const std::string& key :
             {std::string("TypeLib\\") + m_identity.libId, std::string("Interface\\") + m_identity.iid}) {
            if (RegDeleteTreeA(classes, key.c_str()) == ERROR_SUCCESS)
                RegDeleteKeyA(classes, key.c_str());
        }
        RegCloseKey(classes);
    }
    return result;
}
