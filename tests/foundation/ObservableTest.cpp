#include "CObservable.h"

#include "CJException.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Every observer writes its name into one shared journal.
struct Journal {
    std::vector<std::string> entries;
};

struct Named : IObserver {
    Named(Journal& journal, std::string name) : journal(journal), name(std::move(name)) {}
    void update(CObservable* source, std::string argument) override
    {
        journal.entries.push_back(name + ":" + argument);
        lastSource = source;
        if (then)
            then(source);
    }
    Journal& journal;
    std::string name;
    CObservable* lastSource = nullptr;
    std::function<void(CObservable*)> then;
};

TEST(Observable, NotifiesInRegistrationOrderWithSourceAndArgument)
{
    Journal journal;
    Named a(journal, "a"), b(journal, "b"), c(journal, "c");
    CObservable observable;
    observable.addObserver(&a);
    observable.addObserver(nullptr);
    observable.addObserver(&b);
    observable.addObserver(&c);
    observable.addObserver(&a);
    observable.notifyObservers("1 T1");
    EXPECT_EQ((std::vector<std::string>{"a:1 T1", "b:1 T1", "c:1 T1", "a:1 T1"}), journal.entries);
    EXPECT_EQ(&observable, b.lastSource);
}

TEST(Observable, DeleteRemovesTheFirstEntryOnly)
{
    Journal journal;
    Named a(journal, "a"), b(journal, "b"), stranger(journal, "x");
    CObservable observable;
    observable.addObserver(&a);
    observable.addObserver(&b);
    observable.addObserver(&a);
    observable.deleteObserver(&a);
    observable.deleteObserver(&stranger);
    observable.deleteObserver(nullptr);
    observable.notifyObservers("n");
    EXPECT_EQ((std::vector<std::string>{"b:n", "a:n"}), journal.entries);

    journal.entries.clear();
    observable.deleteObservers();
    observable.notifyObservers("n");
    EXPECT_TRUE(journal.entries.empty());
}

TEST(Observable, ThrowingObserverEndsThePassAndReleasesTheMonitor)
{
    Journal journal;
    Named a(journal, "a"), b(journal, "b"), late(journal, "late");
    a.then = [](CObservable*) { throw CJException("refused"); };
    CObservable observable;
    observable.addObserver(&a);
    observable.addObserver(&b);
    try {
        observable.notifyObservers("n");
        ADD_FAILURE() << "the exception must reach the caller";
    } catch (CJException& e) {
        EXPECT_EQ("refused", e.getMessage());
    }
    EXPECT_EQ((std::vector<std::string>{"a:n"}), journal.entries);
    Worker other;
    other.post([&] { observable.addObserver(&late); });
    EXPECT_TRUE(other.waitIdle(10000));
}

// A change made from inside update applies from the next pass.
TEST(Observable, ObserverAddedDuringThePassIsCalledFromTheNextPass)
{
    Journal journal;
    Named a(journal, "a"), b(journal, "b");
    a.then = [&](CObservable* source) {
        if (journal.entries.size() == 1)
            source->addObserver(&b);
    };
    CObservable observable;
    observable.addObserver(&a);
    observable.notifyObservers("1");
    EXPECT_EQ((std::vector<std::string>{"a:1"}), journal.entries);
    observable.notifyObservers("2");
    EXPECT_EQ((std::vector<std::string>{"a:1", "a:2", "b:2"}), journal.entries);
}

// The monitor is not held while observers run: another thread's edit, and another thread's
// pass, go on while an observer waits.
TEST(Observable, ObserverRunsOutsideTheMonitor)
{
    Journal journal;
    Named a(journal, "a"), b(journal, "b");
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE inside = CreateEventA(NULL, TRUE, FALSE, NULL);
    a.then = [&](CObservable*) {
        SetEvent(inside);
        WaitForSingleObject(release, 30000);
    };
    CObservable observable;
    observable.addObserver(&a);
    Worker notifier, editor;
    notifier.post([&] { observable.notifyObservers("n"); });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inside, 10000));
    editor.post([&] {
        observable.deleteObserver(&a);
        observable.addObserver(&b);
        observable.notifyObservers("other");
    });
    EXPECT_TRUE(editor.waitIdle(10000));
    SetEvent(release);
    EXPECT_TRUE(notifier.waitIdle(10000));
    EXPECT_EQ((std::vector<std::string>{"a:n", "b:other"}), journal.entries);
    journal.entries.clear();
    observable.notifyObservers("again");
    EXPECT_EQ((std::vector<std::string>{"b:again"}), journal.entries);
    CloseHandle(release);
    CloseHandle(inside);
}

} // namespace
