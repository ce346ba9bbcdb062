// The installer's failures: each refused step of an install or uninstall shows its one box,
// captioned with the service's name, fails the call with the step's error and leaves no
// service-manager handle open. The manager is replaced, since a real one refuses only when damaged.
#include "CQuarnServiceInstaller.h"
#include "QuarnBox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<Box> s_boxes;

int recordBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    s_boxes.push_back({owner, text, caption, type});
    return IDOK;
}

// What a box shows of a UTF-8 text in the program's code page.
std::string shown(const char* utf8)
{
    WCHAR wide[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 256);
    char ansi[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof(ansi), nullptr, nullptr);
    return ansi;
}

enum class Step { None, Manager, Open, Create, Delete };

// A service manager that refuses one step with its own error and counts the handles it gave.
class ScriptedInstaller : public CQuarnServiceInstaller {
public:
    ScriptedInstaller(bool installed, Step refused)
        : CQuarnServiceInstaller("Quarnhost Service"), installed_(installed), refused_(refused)
    {
    }
    bool IsInstalled() const override { return installed_; }
    int open() const { return opened_ - closed_; }
    bool deleted() const { return deleted_; }

protected:
    SC_HANDLE OpenManager() const override { return give(Step::Manager, ERROR_ACCESS_DENIED); }
    SC_HANDLE OpenNamedService(SC_HANDLE, DWORD) const override
    {
        // Asked again after the deletion: the service is gone.
        if (deleted_) {
            SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
            return nullptr;
        }
        return give(Step::Open, ERROR_SERVICE_DISABLED);
    }
    SC_HANDLE CreateNamedService(SC_HANDLE, const std::string&) const override
    {
        return give(Step::Create, ERROR_INVALID_SERVICE_ACCOUNT);
    }
    BOOL StopAndDelete(SC_HANDLE) const override
    {
        if (refused_ == Step::Delete) {
            SetLastError(ERROR_SERVICE_DATABASE_LOCKED);
            return FALSE;
        }
        deleted_ = true;
        return TRUE;
    }
    void Close(SC_HANDLE) const override { ++closed_; }

private:
    SC_HANDLE give(Step step, DWORD error) const
    {
        if (refused_ == step) {
            SetLastError(error);
            return nullptr;
        }
        ++opened_;
        return reinterpret_cast<SC_HANDLE>(static_cast<ULONG_PTR>(0x1000 + opened_));
    }

    bool installed_;
    Step refused_;
    mutable int opened_ = 0;
    mutable int closed_ = 0;
    mutable bool deleted_ = false;
};

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s_boxes.clear();
        previous_ = QuarnSetBoxHandler(recordBox);
    }
    void TearDown() override { QuarnSetBoxHandler(previous_); }

    QuarnBoxHandler previous_ = nullptr;
};

TEST_F(InstallerTest, EachRefusedStepShowsItsBoxAndFailsWithItsError)
{
    struct Case {
        const char* name;
        bool install;
        Step refused;
        const char* text;
        DWORD error;
    } cases[] = {
        {"install, no manager", true, Step::Manager, CQuarnServiceInstaller::TEXT_NO_MANAGER, ERROR_ACCESS_DENIED},
        {"install, not created", true, Step::Create, CQuarnServiceInstaller::TEXT_NOT_CREATED,
         ERROR_INVALID_SERVICE_ACCOUNT},
        {"uninstall, no manager", false, Step::Manager, CQuarnServiceInstaller::TEXT_NO_MANAGER, ERROR_ACCESS_DENIED},
        {"uninstall, not opened", false, Step::Open, CQuarnServiceInstaller::TEXT_NOT_OPENED, ERROR_SERVICE_DISABLED},
        {"uninstall, not deleted", false, Step::Delete, CQuarnServiceInstaller::TEXT_NOT_DELETED,
         ERROR_SERVICE_DATABASE_LOCKED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        s_boxes.clear();
        // An install starts from no service, an uninstall from one.
        ScriptedInstaller installer(!c.install, c.refused);
        SetLastError(0);
        bool done = c.install ? installer.Install("C:\\quarn guard.exe") : installer.Uninstall();
        DWORD error = GetLastError();
        EXPECT_FALSE(done);
        EXPECT_EQ(c.error, error);
        ASSERT_EQ(1u, s_boxes.size());
        EXPECT_EQ(nullptr, s_boxes[0].owner);
        EXPECT_EQ(shown(c.text), s_boxes[0].text);
        EXPECT_EQ("Quarnhost Service", s_boxes[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK), s_boxes[0].type);
        EXPECT_EQ(0, installer.open()) << "a handle stayed open";
    }
}

TEST_F(InstallerTest, WhatIsAlreadySoNeedsNoManager)
{
    // Installed already: nothing to create; not installed: nothing to delete. Neither reaches
    // the manager, which refuses everything here.
    ScriptedInstaller installed(true, Step::Manager);
    EXPECT_TRUE(installed.Install("C:\\quarnguard.exe"));
    ScriptedInstaller absent(false, Step::Manager);
    EXPECT_TRUE(absent.Uninstall());
    EXPECT_TRUE(s_boxes.empty());
}

TEST_F(InstallerTest, AnAllowedUninstallDeletesAndWaitsUntilItIsGone)
{
    ScriptedInstaller installer(true, Step::None);
    EXPECT_TRUE(installer.Uninstall());
    EXPECT_TRUE(installer.deleted());
    EXPECT_EQ(0, installer.open());
    EXPECT_TRUE(s_boxes.empty());
}

} // namespace
