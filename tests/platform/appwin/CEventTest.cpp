#include "CEvent.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

TEST(CEvent, AnAutoResetEventLetsOneWaitThrough) {
    CEvent event;
    ASSERT_NE(nullptr, event.m_hObject);
    EXPECT_FALSE(event.Lock(0));
    EXPECT_TRUE(event.SetEvent());
    EXPECT_TRUE(event.Lock(0));
    EXPECT_FALSE(event.Lock(0));
    // Set from another thread, seen by a waiting one.
    std::thread setter([&] {
        Sleep(50);
        event.SetEvent();
    });
    EXPECT_TRUE(event.Lock(5000));
    setter.join();
    EXPECT_FALSE(event.Lock(0));
}

TEST(CEvent, AManualResetEventStaysSetUntilReset) {
    CEvent event(TRUE, TRUE);
    EXPECT_TRUE(event.Lock(0));
    EXPECT_TRUE(event.Lock(0));
    EXPECT_TRUE(event.ResetEvent());
    EXPECT_FALSE(event.Lock(0));
    event.SetEvent();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(static_cast<HANDLE>(event), 0));
    EXPECT_TRUE(event.Lock(0));
}

TEST(CEvent, ANamedEventIsSharedWithASecondHandleOfThatName) {
    const std::string name = "TavelinTest-event-" + std::to_string(GetCurrentProcessId());
    CEvent first(FALSE, TRUE, name.c_str());
    CEvent second(FALSE, TRUE, name.c_str());
    ASSERT_NE(nullptr, second.m_hObject);
    EXPECT_NE(first.m_hObject, second.m_hObject);
    EXPECT_FALSE(second.Lock(0));
    first.SetEvent();
    EXPECT_TRUE(second.Lock(0));
    second.ResetEvent();
    EXPECT_FALSE(first.Lock(0));
    // An unnamed event is nobody else's.
    CEvent unnamed(TRUE, TRUE);
    EXPECT_FALSE(first.Lock(0));
}
