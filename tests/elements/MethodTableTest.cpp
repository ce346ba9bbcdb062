#include "ElementFixtures.h"
#include "UiThreadHarness.h"

#include "CIllegalArgumentException.h"
#include "CInteger.h"
#include "CNoSuchMethodException.h"
#include "CWndMsg.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class MethodTableTest : public testing::Test {
protected:
    void SetUp() override { CountedValue::live = 0; }
    void TearDown() override { EXPECT_EQ(0, CountedValue::live) << "an argument or answer was not freed"; }

    RunLog journal;
    ProbeElement element{journal};
};

const unsigned char* bytesOf(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

// The answer's text, or "<no method>" for CNoSuchMethodException; the answer is deleted.
std::string outcome(const std::function<ISerializable*()>& call)
{
    try {
        std::unique_ptr<ISerializable> answer(call());
        return answer == nullptr ? std::string("NULL") : dynamic_cast<CJObject*>(answer.get())->toString();
    } catch (CNoSuchMethodException& e) {
        EXPECT_NE(std::string::npos, e.getMessage().find("no method of that kind exists")) << e.getMessage();
        return "<no method>";
    }
}

// Each call reaches a method only through the kind under which the name was registered.
TEST_F(MethodTableTest, ACallFindsOnlyAMethodOfItsOwnKind)
{
    ProbeElement& e = element;
    struct Case {
        const char* label;
        std::function<ISerializable*()> call;
        const char* expected; // the answer's text, "" for a notice that ran, or "<no method>"
    };
    auto notice = [](std::function<void()> run) {
        return [run]() -> ISerializable* {
            run();
            return new CJString("");
        };
    };
    const Case cases[] = {
        {"notice, no parameter", notice([&] { e.executeMethod("NTC_noArg"); }), ""},
        {"notice, no parameter, object method", notice([&] { e.executeMethod("NTC_objArg"); }), "<no method>"},
        {"notice, no parameter, query method", notice([&] { e.executeMethod("QUE_noArg"); }), "<no method>"},
        {"notice, no parameter, unknown", notice([&] { e.executeMethod("LOC_none"); }), "<no method>"},
        {"notice, object", notice([&] { e.executeMethodArg("NTC_objArg", new CountedValue("o")); }), ""},
        {"notice, object, no-parameter method", notice([&] { e.executeMethodArg("NTC_noArg", new CountedValue("o")); }),
         "<no method>"},
        // Object calls never search the string table.
        {"notice, object, text method", notice([&] { e.executeMethodArg("NTC_strArg", new CountedValue("o")); }),
         "<no method>"},
        {"notice, object, query method", notice([&] { e.executeMethodArg("QUE_objArg", new CountedValue("o")); }),
         "<no method>"},
        {"notice, buffer, text method", notice([&] { e.executeMethodBuf("NTC_strArg", 2, bytesOf("ab")); }), ""},
        {"notice, buffer, buffer method", notice([&] { e.executeMethodBuf("NTC_bufArg", 2, bytesOf("ab")); }), ""},
        {"notice, buffer, text query", notice([&] { e.executeMethodBuf("QUE_strArg", 2, bytesOf("ab")); }),
         "<no method>"},
        {"notice, buffer, no-parameter method", notice([&] { e.executeMethodBuf("NTC_noArg", 2, bytesOf("ab")); }),
         "<no method>"},
        {"query, no parameter", [&] { return e.executeSyncMethod("QUE_noArg"); }, "7"},
        {"query, no parameter, text-returning", [&] { return e.executeSyncMethod("QUE_strRv"); }, "answer"},
        {"query, no parameter, notice method", [&] { return e.executeSyncMethod("NTC_noArg"); }, "<no method>"},
        {"query, no parameter, object query", [&] { return e.executeSyncMethod("QUE_objArg"); }, "<no method>"},
        {"query, object", [&] { return e.executeSyncMethodArg("QUE_objArg", new CountedValue("back")); }, "back"},
        {"query, object, notice method",
         [&] { return e.executeSyncMethodArg("NTC_objArg", new CountedValue("o")); }, "<no method>"},
        {"query, object, no-parameter query",
         [&] { return e.executeSyncMethodArg("QUE_noArg", new CountedValue("o")); }, "<no method>"},
        {"query, buffer, text query", [&] { return e.executeSyncMethodBuf("QUE_strArg", 2, bytesOf("ab")); }, "got ab"},
        {"query, buffer, buffer query", [&] { return e.executeSyncMethodBuf("QUE_bufArg", 2, bytesOf("ab")); }, "2"},
        {"query, buffer, text notice", [&] { return e.executeSyncMethodBuf("NTC_strArg", 2, bytesOf("ab")); },
         "<no method>"},
        {"query, buffer, text-returning", [&] { return e.executeSyncMethodBuf("QUE_strRv", 2, bytesOf("ab")); },
         "<no method>"},
        {"relay, text method", notice([&] { e.executeStrMethod("NTC_strArg", "t"); }), ""},
        {"relay, text query", notice([&] { e.executeStrMethod("QUE_strArg", "t"); }), "<no method>"},
        {"relay, buffer method", notice([&] { e.executeStrMethod("NTC_bufArg", "t"); }), "<no method>"},
    };
    for (const Case& c : cases) {
        size_t before = journal.runs().size();
        std::string got = outcome(c.call);
        EXPECT_EQ(c.expected, got) << c.label;
        EXPECT_EQ(got == "<no method>" ? before : before + 1, journal.runs().size()) << c.label;
    }
}

TEST_F(MethodTableTest, ABufferForATextMethodArrivesAsATextOfExactlyItsLength)
{
    const unsigned char bytes[] = {'a', 0, 'b', 'c'};
    element.executeMethodBuf("NTC_strArg", 4, bytes);
    element.executeMethodBuf("NTC_strArg", 2, bytes + 2);
    element.executeMethodBuf("NTC_strArg", 0, nullptr);
    std::vector<MethodRun> runs = journal.runs();
    ASSERT_EQ(3u, runs.size());
    EXPECT_EQ(std::string("a\0bc", 4), runs[0].argument);
    EXPECT_EQ("bc", runs[1].argument) << "no terminating zero is looked for";
    EXPECT_EQ("", runs[2].argument);
}

class LateRegistration : public ProbeElement {
public:
    explicit LateRegistration(RunLog& journal) : ProbeElement(journal) {}
    void again(const std::string&) {}
    void other() {}
};

TEST_F(MethodTableTest, ANameIsRegisteredOnceInAllTables)
{
    LateRegistration late(journal);
    // The base class registered "onPlugIn"; a deriving class cannot take the name again.
    EXPECT_THROW(late.registerMethod("onPlugIn", &LateRegistration::again), CIllegalArgumentException);
    EXPECT_THROW(late.registerMethod("executeOnPlugOut", &LateRegistration::again), CIllegalArgumentException);
    // Nor under another kind, in another table.
    EXPECT_THROW(late.registerMethod("NTC_noArg", &LateRegistration::again), CIllegalArgumentException);
    EXPECT_THROW(late.registerMethod("NTC_strArg", &LateRegistration::other), CIllegalArgumentException);
    late.executeMethod("NTC_noArg");
    late.executeMethodBuf("NTC_strArg", 1, bytesOf("x"));
    EXPECT_EQ((std::vector<std::string>{"NTC_noArg", "NTC_strArg"}), journal.methods()) << "the first entries stay";
    EXPECT_NO_THROW(late.registerMethod("LOC_other", &LateRegistration::other));
}

// A window message handed to an element goes to the window entered under its object id.
TEST_F(MethodTableTest, AWindowMessageArgumentGoesToTheElementsWindow)
{
    CTestWnd* wnd = CTestWnd::createOnUiThread("WND-ELEMENT");
    element.setObjectId("WND-ELEMENT");
    element.executeMethodArg("NTC_noArg", new CWndMsg(CTestWnd::WM_NOTE, 0, 77));
    ASSERT_TRUE(wnd->noted.waitFor(10000));
    EXPECT_EQ((std::vector<LPARAM>{77}), wnd->notes());

    std::unique_ptr<ISerializable> answer(element.executeSyncMethodArg("QUE_noArg", new CWndMsg(CTestWnd::WM_ADD, 2, 3)));
    CWndMsg* result = dynamic_cast<CWndMsg*>(answer.get());
    ASSERT_NE(nullptr, result);
    EXPECT_EQ(CWndMsg(0, 0, 5).toString(), result->toString()) << "the window's result in lParam";
    EXPECT_TRUE(journal.runs().empty()) << "whatever the method name says, no method runs";
    CLocalMethod::removeTarget("WND-ELEMENT");
    CTestWnd::destroyOnUiThread(wnd);
}

} // namespace
