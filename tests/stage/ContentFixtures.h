#pragma once
// Contents on stages of an in-process session: files installed as the stage window installs a
// drop, and what each terminal's windows and chats were told about one content.
#include "CContent.h"
#include "CLeadImage.h"
#include "StageFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class ContentSessionTest : public testing::Test {
protected:
    // The descriptor the stage window makes for a dropped file (at 10 20), posted to the stage.
    std::string install(StageTerminal& terminal, const std::string& path, int width = 120, int height = 90);
    // Waits until the terminal's view has made a display for the key.
    bool waitForDisplay(StageTerminal& terminal, const std::string& key);
    // The lines told to the key's display, without the display's name.
    static std::vector<std::string> displayLines(StageTerminal& terminal, const std::string& key);
    // What the key's display was told that starts with the operation.
    static std::vector<std::string> displayLines(StageTerminal& terminal, const std::string& key,
                                                 const std::string& operation);
    // The chat lines of every content of the terminal that start with the operation.
    static std::vector<std::string> chatLines(StageTerminal& terminal, const std::string& operation);
    // The copy of the content on the terminal (valid while installed), or null.
    static CContent* contentOn(StageTerminal& terminal, const std::string& key);
    // The methods that reached the content's copy on the terminal, from the traffic.
    std::vector<std::string> contentTrafficTo(StageTerminal& terminal, const std::string& key);

    TempDir dir;
    CLeadImage loader;
    StageSession session;
};
