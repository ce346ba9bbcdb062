#pragma once
// Counts the library objects (CJObject) alive in this test program. Every message is one, so a
// path that leaks a message, or frees one twice, moves the count. The program is linked so
// that the trace facility's two counting hooks pass through here (see CMakeLists.txt).
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

int liveObjects();
// Waits until the count is expected (other threads may still be releasing); returns the last
// count seen.
int awaitLiveObjects(int expected, DWORD timeoutMs = 10000);

// A test after which every library object it made must be gone: it counts them from before
// the test to the end of TearDown, and captures the trace for the whole test (read it only
// once the test's threads have ended).
class LeakCheckedTest : public testing::Test {
protected:
    void SetUp() override { baseline_ = liveObjects(); }
    void TearDown() override
    {
        takeDown();
        EXPECT_EQ(baseline_, awaitLiveObjects(baseline_)) << "a message or a value was leaked";
    }
    // Destroys what the fixture built, threads included.
    virtual void takeDown() {}

    TraceCapture trace_;
    int baseline_ = 0;
};
