#include "CMutex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

std::string uniqueName(const char* what)
{
    return std::string("TavelinTest-") + what + "-" + std::to_string(GetCurrentProcessId());
}

TEST(CMutexTest, ANamedMutexIsTakenWithoutWaitingOnlyWhenNobodyHoldsIt)
{
    std::string name = uniqueName("held");
    CMutex mutex(FALSE, name.c_str());
    ASSERT_NE(nullptr, mutex.m_hObject);
    // Another holder of the same name, on another thread.
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        CMutex other(FALSE, name.c_str());
        other.Lock();
        SetEvent(taken);
        WaitForSingleObject(release, INFINITE);
        other.Unlock();
    });
    WaitForSingleObject(taken, INFINITE);
    EXPECT_FALSE(mutex.Lock(0));
    SetEvent(release);
    holder.join();
    EXPECT_TRUE(mutex.Lock(0));
    EXPECT_TRUE(mutex.Unlock());
    CloseHandle(taken);
    CloseHandle(release);
}

TEST(CMutexTest, AMutexWhoseOwnerEndedCountsAsTaken)
{
    std::string name = uniqueName("abandoned");
    CMutex mutex(FALSE, name.c_str());
    std::thread([&] {
        HANDLE owner = CreateMutexA(nullptr, TRUE, name.c_str());
        (void)owner;   // ends without releasing it
    }).join();
    EXPECT_TRUE(mutex.Lock(0));
    EXPECT_TRUE(mutex.Unlock());
}

} // namespace
