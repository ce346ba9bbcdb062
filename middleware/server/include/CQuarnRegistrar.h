#pragma once
// The server's registry entries: its application id, its class with both ProgIDs, and its type
// library (whose registration names the automation marshaller for the interface). Written as
// plain registry code under a classes key: HKEY_LOCAL_MACHINE\Software\Classes for the real
// server, since the platform's COM ignores per-user registrations. The module and its service
// build register under identities of their own and share the ProgIDs, which name the one
// registered last; a removal takes them only while they name its own class.
#include <windows.h>

#include <string>
#include <vector>

class CQuarnRegistrar {
public:
    static constexpr const char* MACHINE_CLASSES = "Software\\Classes";

    struct Value {
        std::string key;  // below the classes key
        std::string name; // empty: the key's default value
        std::string data;
    };

    // Who registers: the ids as braced texts, the type library's id, the application's name
    // (its AppID's text and "NAME.EXE") and the class's name.
    struct Identity {
        const char* clsid;
        const char* appId;
        const char* libId;
        const char* iid;
        GUID libGuid;
        const char* appName;
        const char* className;
    };
    // The server module's.
    static const Identity& HostIdentity();

    // Entries go below root\classes.
    CQuarnRegistrar(HKEY root, std::string classes, const Identity& identity = HostIdentity());

    // Every value the registration writes, the server's path in place of the module.
    static std::vector<Value> Table(const std::string& modulePath, const Identity& identity = HostIdentity());
    // Keys that the removal deletes whole ("AppID" and "CLSID" themselves stay); the ProgIDs
    // besides while they name the class.
    static std::vector<std::string> OwnKeys(const Identity& identity = HostIdentity());
    static std::string ClassKey(const Identity& identity);

    // The table's entries, the class key made afresh. An error code (ERROR_SUCCESS).
    LONG WriteTable(const std::string& modulePath) const;
    // Deletes the own keys; keys already gone are no failure.
    LONG RemoveTable() const;

    // The whole registration of the server at modulePath (its type library is resource 1 of
    // that file), or its removal. The HRESULT of the step that failed, else S_OK.
    HRESULT Register(const std::string& modulePath) const;
    HRESULT Unregister() const;

private:
    HKEY m_root;
    std::string m_classes;
    const Identity& m_identity;
};
