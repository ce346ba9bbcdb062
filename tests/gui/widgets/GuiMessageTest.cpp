// The message forwarder of the libraries below the main window.
#include "CGuiMessage.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

Journal g_shown;

void record(const std::string& text)
{
    g_shown.add(text + " on " + std::to_string(GetCurrentThreadId()));
}

} // namespace

TEST(CGuiMessage, UnsetTracesTheTextAndShowsNoBox)
{
    CGuiMessage::setShowFunction(nullptr);
    clearShownBoxes();
    TraceCapture trace;
    CGuiMessage::show("Cannot save file since the file is removed.");
    EXPECT_EQ(1, trace.count("[ CGuiMessage ] show: no one shows [Cannot save file since the file is removed.]"))
        << trace.text();
    EXPECT_TRUE(shownBoxes().empty());
}

TEST(CGuiMessage, SetTheTextReachesTheFunctionFromAnyThread)
{
    g_shown.clear();
    CGuiMessage::setShowFunction(&record);
    CGuiMessage::show("here");
    DWORD worker = 0;
    std::thread([&worker] {
        worker = GetCurrentThreadId();
        CGuiMessage::show("there");
    }).join();
    CGuiMessage::setShowFunction(nullptr);
    EXPECT_EQ((std::vector<std::string>{"here on " + std::to_string(GetCurrentThreadId()),
                                        "there on " + std::to_string(worker)}),
              g_shown.entries());
}
