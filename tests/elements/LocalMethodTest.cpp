// The invoker's names and posts: unique names, the window table, local calls to listeners and
// window messages to named windows.
#include "CLocalMethod.h"

#include "CIllegalArgumentException.h"
#include "CInteger.h"
#include "CMethodCallMessage.h"
#include "CWin32LastErrorException.h"
#include "IMessageListener.h"
#include "TestSupport.h"
#include "UiThreadHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// What a listener got of one local call.
struct Received {
    std::string recTermId, recElemId, sndTermId, sndElemId, method;
    unsigned char modifier = 0xFF;
    int paramKind = -1;
    std::string bytes;
    std::unique_ptr<ISerializable> object;
};

class RecordingListener : public IMessageListener {
public:
    void notifyMessage(IMessage* message) override
    {
        auto* call = dynamic_cast<CMethodCallMessage*>(message);
        ASSERT_NE(nullptr, call);
        Received got;
        got.recTermId = call->getRecTermId();
        got.recElemId = call->getRecElemId();
        got.sndTermId = call->getSndTermId();
        got.sndElemId = call->getSndElemId();
        got.method = call->getMethodName();
        got.modifier = call->getModifier();
        if (call->isCallWithoutParam()) {
            got.paramKind = CMethodCallMessage::NOPARAM;
        } else if (call->isCallWithObjectParam()) {
            got.paramKind = CMethodCallMessage::OBJECTPARAM;
            got.object.reset(call->getoutParam());
        } else if (call->isCallWithBufferParam()) {
            got.paramKind = CMethodCallMessage::BUFFERPARAM;
            got.bytes.assign(reinterpret_cast<const char*>(call->getBuf()), call->getBufSize());
        }
        IMessage::release(message);
        std::lock_guard<std::mutex> hold(lock_);
        received_.push_back(std::move(got));
    }
    std::vector<Received> take()
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<Received> all;
        all.swap(received_);
        return all;
    }

private:
    std::mutex lock_;
    std::vector<Received> received_;
};

// A listener entered under a fresh name for the test's life.
class LocalMethodPost : public testing::Test {
protected:
    void SetUp() override
    {
        target = "T" + CLocalMethod::makeUniqueName();
        CLocalMethod::addListener(target, &listener);
    }
    void TearDown() override { CLocalMethod::removeTarget(target); }

    std::string target;
    RecordingListener listener;
};

TEST(LocalMethod, UniqueNamesCountUpFromZero)
{
    if (isChild()) {
        EXPECT_EQ("0", CLocalMethod::makeUniqueName());
        EXPECT_EQ("1", CLocalMethod::makeUniqueName());
        EXPECT_EQ("2", CLocalMethod::makeUniqueName());
        exit(testing::Test::HasFailure() ? 1 : 0);
    }
    TempDir dir;
    EXPECT_EQ(0, runInChild(dir));
}

TEST(LocalMethod, UniqueNamesStayUniqueAcrossThreads)
{
    const int threads = 8, each = 250;
    int first = std::stoi(CLocalMethod::makeUniqueName());
    std::vector<int> names[threads];
    {
        std::vector<std::thread> running;
        for (int t = 0; t < threads; ++t) {
            running.emplace_back([&names, t] {
                for (int i = 0; i < each; ++i)
                    names[t].push_back(std::stoi(CLocalMethod::makeUniqueName()));
            });
        }
        for (std::thread& thread : running)
            thread.join();
    }
    std::vector<int> all;
    for (const std::vector<int>& list : names) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        all.insert(all.end(), list.begin(), list.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(size_t(threads * each), all.size());
    for (int i = 0; i < threads * each; ++i)
        ASSERT_EQ(first + 1 + i, all[i]) << "a name was given twice or skipped";
}

struct PostCase {
    const char* name;
    std::function<void(const std::string& target)> post;
    const char* method;
    int paramKind;
    std::string bytes;
};

void PrintTo(const PostCase& c, std::ostream* out)
{
    *out << c.name;
}

class LocalMethodPostKinds : public LocalMethodPost, public testing::WithParamInterface<PostCase> {};

TEST_P(LocalMethodPostKinds, ReachesTheListenerAsALocalNotice)
{
    const PostCase& c = GetParam();
    c.post(target);
    std::vector<Received> got = listener.take();
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(target, got[0].recElemId);
    EXPECT_EQ("@INVALID_ELEMENT_GUID", got[0].sndElemId);
    EXPECT_EQ("@LOCAL_TERMINAL", got[0].recTermId);
    EXPECT_EQ("@LOCAL_TERMINAL", got[0].sndTermId);
    EXPECT_EQ(CMethodCallMessage::NOTICE, got[0].modifier);
    EXPECT_EQ(c.method, got[0].method);
    EXPECT_EQ(c.paramKind, got[0].paramKind);
    EXPECT_EQ(hexBytes(c.bytes.data(), c.bytes.size()), hexBytes(got[0].bytes.data(), got[0].bytes.size()));
    if (c.paramKind == CMethodCallMessage::OBJECTPARAM) {
        auto* value = dynamic_cast<CInteger*>(got[0].object.get());
        ASSERT_NE(nullptr, value);
        EXPECT_EQ(77, value->intValue());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, LocalMethodPostKinds,
    testing::Values(
        PostCase{"NoArgument", [](const std::string& t) { CLocalMethod::postMethod(t, "LOC_uninstallAll"); },
                 "LOC_uninstallAll", CMethodCallMessage::NOPARAM, ""},
        PostCase{"String", [](const std::string& t) { CLocalMethod::postMethodStr(t, "LOC_install", "a b"); },
                 "LOC_install", CMethodCallMessage::BUFFERPARAM, "a b"},
        PostCase{"EmptyString", [](const std::string& t) { CLocalMethod::postMethodStr(t, "onPlugIn", ""); },
                 "onPlugIn", CMethodCallMessage::BUFFERPARAM, ""},
        PostCase{"Buffer",
                 [](const std::string& t) { CLocalMethod::postMethodBuf(t, "LOC_data", 4, "\x01\x00\x02\x03"); },
                 "LOC_data", CMethodCallMessage::BUFFERPARAM, std::string("\x01\x00\x02\x03", 4)},
        PostCase{"Object", [](const std::string& t) { CLocalMethod::postMethodObj(t, "LOC_obj", new CInteger(77)); },
                 "LOC_obj", CMethodCallMessage::OBJECTPARAM, ""}),
    [](const testing::TestParamInfo<PostCase>& info) { return std::string(info.param.name); });

TEST_F(LocalMethodPost, UnknownTargetThrowsAndDeliversNothing)
{
    std::string other = target + "x";
    std::string upper = target;
    upper[0] = 't';   // names are exact texts
    for (const std::string& name : {other, upper}) {
        EXPECT_THROW(CLocalMethod::postMethod(name, "m"), CIllegalArgumentException);
        EXPECT_THROW(CLocalMethod::postMethodStr(name, "m", "s"), CIllegalArgumentException);
        EXPECT_THROW(CLocalMethod::postMethodBuf(name, "m", 1, "b"), CIllegalArgumentException);
    }
    std::atomic<int> deleted{0};
    try {
        CLocalMethod::postMethodObj(other, "m", new DeletionProbe(&deleted));
        ADD_FAILURE() << "an unknown target must throw";
    } catch (CIllegalArgumentException& e) {
        EXPECT_NE(std::string::npos, e.getMessage().find(other)) << e.getMessage();
    }
    EXPECT_EQ(1, deleted) << "the argument goes with the refused call";
    EXPECT_TRUE(listener.take().empty());
}

TEST_F(LocalMethodPost, NegativeBufferSizeIsRefused)
{
    EXPECT_THROW(CLocalMethod::postMethodBuf(target, "m", -1, "b"), CIllegalArgumentException);
    EXPECT_TRUE(listener.take().empty());
}

TEST_F(LocalMethodPost, RemoveTargetTakesAWindowBeforeAListener)
{
    CTestWnd* wnd = CTestWnd::createOnUiThread(target);   // a window under the listener's name
    CLocalMethod::removeTarget(target);
    EXPECT_THROW(CLocalMethod::postWndMsg(target, CTestWnd::WM_NOTE, 0, 1), CIllegalArgumentException);
    CLocalMethod::postMethod(target, "m");
    EXPECT_EQ(1u, listener.take().size()) << "the listener stays";

    CLocalMethod::removeTarget(target);
    EXPECT_THROW(CLocalMethod::postMethod(target, "m"), CIllegalArgumentException);
    CLocalMethod::addListener(target, &listener);   // for TearDown
    CTestWnd::destroyOnUiThread(wnd);
}

TEST(LocalMethod, WindowMessagesReachTheNamedWindowInOrder)
{
    std::string name = CLocalMethod::makeUniqueName();
    CTestWnd* wnd = CTestWnd::createOnUiThread(name);
    for (LPARAM i = 1; i <= 3; ++i)
        CLocalMethod::postWndMsg(name, CTestWnd::WM_NOTE, 0, i);
    runSync([] { return LRESULT(0); });   // behind the three posts
    EXPECT_EQ((std::vector<LPARAM>{1, 2, 3}), wnd->notes());

    // An entry of the same name replaces the earlier one.
    CTestWnd* second = CTestWnd::createOnUiThread(name);
    CLocalMethod::postWndMsg(name, CTestWnd::WM_NOTE, 0, 4);
    runSync([] { return LRESULT(0); });
    EXPECT_EQ((std::vector<LPARAM>{4}), second->notes());
    EXPECT_EQ(3u, wnd->notes().size());

    CLocalMethod::removeTarget(name);
    CTestWnd::destroyOnUiThread(wnd);
    CTestWnd::destroyOnUiThread(second);
}

TEST(LocalMethod, WindowMessageToAnUnknownNameOrAGoneWindowThrows)
{
    try {
        CLocalMethod::postWndMsg("no such window", WM_NULL, 0, 0);
        ADD_FAILURE() << "an unknown name must throw";
    } catch (CIllegalArgumentException& e) {
        EXPECT_NE(std::string::npos, e.getMessage().find("invalid target")) << e.getMessage();
    }

    std::string name = CLocalMethod::makeUniqueName();
    CTestWnd::destroyOnUiThread(CTestWnd::createOnUiThread(name));   // the entry outlives its window
    try {
        CLocalMethod::postWndMsg(name, WM_NULL, 0, 0);
        ADD_FAILURE() << "a failed post must throw";
    } catch (CWin32LastErrorException& e) {
        EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), e.getErrorCode());
    }
    CLocalMethod::removeTarget(name);
}

// Windows enter and leave the table while other threads post to them.
TEST(LocalMethod, WindowTableTakesConcurrentUse)
{
    std::string stable = CLocalMethod::makeUniqueName();
    CTestWnd* wnd = CTestWnd::createOnUiThread(stable);
    HWND hwnd = wnd->GetSafeHwnd();
    const int rounds = 300;
    std::atomic<int> failures{0};
    {
        std::vector<std::thread> running;
        for (int t = 0; t < 3; ++t) {
            running.emplace_back([&, t] {
                for (int i = 0; i < rounds; ++i) {
                    std::string name = "churn-" + std::to_string(t) + "-" + std::to_string(i % 7);
                    CLocalMethod::addWindow(name, hwnd);
                    CLocalMethod::removeTarget(name);
                }
            });
        }
        for (int t = 0; t < 2; ++t) {
            running.emplace_back([&, t] {
                for (int i = 0; i < rounds; ++i) {
                    try {
                        CLocalMethod::postWndMsg(stable, CTestWnd::WM_NOTE, 0, t);
                    } catch (...) {
                        ++failures;
                    }
                }
            });
        }
        for (std::thread& thread : running)
            thread.join();
    }
    runSync([] { return LRESULT(0); });
    EXPECT_EQ(0, failures);
    EXPECT_EQ(size_t(2 * rounds), wnd->notes().size());
    CLocalMethod::removeTarget(stable);
    CTestWnd::destroyOnUiThread(wnd);
}

} // namespace
