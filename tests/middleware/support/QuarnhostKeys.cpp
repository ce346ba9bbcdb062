#include "QuarnhostKeys.h"

#include "RegistryKeys.h"

#include <gtest/gtest.h>

void expectQuarnhostKeys(const std::string& module)
{
    const std::string cls = "CLSID\\{D04B612E-C43E-49C5-A0C5-E2999608C64B}";
    const std::string appId = "{774E287D-8E76-45C1-81C1-A7DB9214E41D}";
    struct Expected {
        std::string key;
        const char* name;
        std::string data;
    } table[] = {
        {"AppID\\" + appId, nullptr, "Quarnhost"},
        {"AppID\\Quarnhost.EXE", "AppID", appId},
        {cls, nullptr, "QuarnSrv Class"},
        {cls, "AppID", appId},
        {cls + "\\ProgID", nullptr, "Quarnhost.QuarnSrv.1"},
        {cls + "\\VersionIndependentProgID", nullptr, "Quarnhost.QuarnSrv"},
        {cls + "\\LocalServer32", nullptr, module},
        {cls + "\\TypeLib", nullptr, "{A47E7BA1-57CC-4CBB-BDC4-7E244F061A94}"},
        {"TypeLib\\{A47E7BA1-57CC-4CBB-BDC4-7E244F061A94}\\1.0", nullptr, "Quarnhost 1.0 type library"},
        {"Interface\\{4B1DB918-A2DF-4AA9-9DA9-63563B116B09}", nullptr, "IQuarnSrv"},
        // The automation marshaller.
        {"Interface\\{4B1DB918-A2DF-4AA9-9DA9-63563B116B09}\\ProxyStubClsid32", nullptr,
         "{00020424-0000-0000-C000-000000000046}"},
    };
    for (const Expected& e : table)
        EXPECT_EQ(e.data, classesValue(e.key, e.name)) << e.key << " " << (e.name ? e.name : "(default)");
    EXPECT_TRUE(classesKeyExists(cls + "\\Programmable"));
}
