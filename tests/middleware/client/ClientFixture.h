#pragma once
// A fake server behind the client's factory and sleep for a test's life.
#include "FakeQuarnSrv.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

class ClientFixture : public ::testing::Test {
protected:
    ClientFixture() { FakeQuarnSrv::install(&fake); }
    ~ClientFixture() override { FakeQuarnSrv::uninstall(); }

    // A node of the root with its "Computer Information\Computer Name".
    void addComputer(const std::wstring& node, const std::wstring& computer)
    {
        fake.addNode(node);
        FakeEntry name;
        name.name = L"Computer Name";
        name.type = 2;
        name.stringValue = computer;
        fake.directories[L"\\" + node + L"\\Computer Information"].push_back(name);
    }

    TempDir dir;
    FakeQuarnSrv fake;
};
