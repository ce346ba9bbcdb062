// Contents on the stages of three and four terminals: what every display is told about a
// picture, a program with and without an icon, a text file and a picture that yields no
// pixels; the operation notices; the chat through the master copy.
#include "ContentFiles.h"
#include "ContentFixtures.h"

#include "CLocalMethod.h"

#include <algorithm>
#include <cstring>

namespace {

void pause(DWORD ms) { Sleep(ms); }

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> operations(const std::vector<std::string>& lines)
{
    std::vector<std::string> names;
    for (const std::string& line : lines)
        names.push_back(line.substr(0, line.find(' ')));
    return names;
}

const std::vector<std::string> ICON_METHODS = {"INS_initIconImageData", "INS_initIconMaskData",
                                               "INS_initIconBitsPerPixel"};

// A picture dropped on A reaches the host, A itself and B (joined before) and C (joined after):
// each display is filled in the viewable element's order, with one 120 x 90 block.
TEST_F(ContentSessionTest, PictureFillsEveryDisplayInOrderWithEqualBlocks)
{
    StageTerminal& a = session.join("A");
    StageTerminal& b = session.join("B");
    std::string path = ContentFiles::picture(dir.path(), "wide.bmp");
    ASSERT_FALSE(path.empty());
    std::string key = install(a, path);
    StageTerminal& c = session.join("C");
    std::vector<StageTerminal*> all = {&session.host(), &a, &b, &c};
    std::string block;
    for (StageTerminal* terminal : all) {
        ASSERT_TRUE(waitForDisplay(*terminal, key)) << terminal->id();
        ASSERT_TRUE(waitUntil([&] { return !displayLines(*terminal, key, "setViewData").empty(); }))
            << terminal->id();
        std::vector<std::string> lines = displayLines(*terminal, key);
        EXPECT_EQ((std::vector<std::string>{"setEntity", "setLocation", "setSize", "setMotion", "setDecoration",
                                            "setAttribute", "setViewData"}),
                  operations(lines))
            << terminal->id();
        EXPECT_EQ("setLocation 10 20", lines.at(1));
        EXPECT_EQ("setDecoration 1", lines.at(4));
        const std::string& data = lines.back();
        EXPECT_NE(std::string::npos, data.find(" len=32400 ")) << data;
        EXPECT_EQ(" 120x90", data.substr(data.size() - 7)) << data;
        if (block.empty())
            block = data;
        EXPECT_EQ(block, data) << terminal->id();
        EXPECT_TRUE(displayLines(*terminal, key, "setIcon").empty());
    }
    CContent* original = contentOn(a, key);
    ASSERT_NE(nullptr, original);
    EXPECT_EQ(path, original->getFilePath());
    EXPECT_TRUE(contentOn(b, key)->getFilePath().empty());
    EXPECT_EQ(original->getFileSize(), contentOn(c, key)->getFileSize());
    EXPECT_EQ(54 + 640 * 3 * 480, original->getFileSize());
}

// A program with an icon: a terminal that joins later gets the speaker list, then image, mask
// and depth, then the end of the synchronisation, and its window the same icon as the owner's.
// A program without icon and a text file send no icon methods.
TEST_F(ContentSessionTest, LateJoinerGetsTheIconOfAProgramAndNoneOfOtherFiles)
{
    std::string withIcon = ContentFiles::programWithIcon(dir.path(), "tool.EXE");
    ASSERT_FALSE(withIcon.empty()) << "the fixture program got no icon";
    std::string plain = ContentFiles::programWithoutIcon(dir.path(), "plain.exe");
    std::string text = ContentFiles::text(dir.path(), "notes.txt");
    StageTerminal& host = session.host();
    std::string iconKey = install(host, withIcon);
    std::string plainKey = install(host, plain);
    std::string textKey = install(host, text);
    for (const std::string& key : {iconKey, plainKey, textKey})
        ASSERT_TRUE(waitForDisplay(host, key));
    std::vector<std::string> hostIcon = displayLines(host, iconKey, "setIcon");
    ASSERT_EQ(1u, hostIcon.size());
    EXPECT_NE(std::string::npos, hostIcon[0].find(" len=128 ")) << hostIcon[0];
    EXPECT_EQ(" 1", hostIcon[0].substr(hostIcon[0].size() - 2)) << hostIcon[0];

    StageTerminal& a = session.join("A");
    for (const std::string& key : {iconKey, plainKey, textKey}) {
        ASSERT_TRUE(waitForDisplay(a, key));
        ASSERT_TRUE(waitUntil([&] { return contentOn(a, key)->isSynchronized(); }));
    }
    std::vector<std::string> iconSync = contentTrafficTo(a, iconKey);
    auto sdl = std::find(iconSync.begin(), iconSync.end(), "INS_initSDL");
    ASSERT_NE(iconSync.end(), sdl);
    EXPECT_EQ((std::vector<std::string>{"INS_initSDL", "INS_initIconImageData", "INS_initIconMaskData",
                                        "INS_initIconBitsPerPixel", "endSync"}),
              std::vector<std::string>(sdl, iconSync.end()));
    EXPECT_EQ(hostIcon, displayLines(a, iconKey, "setIcon"));
    EXPECT_EQ(".EXE", displayLines(a, iconKey, "setViewId").at(0).substr(10));

    for (const std::string& key : {plainKey, textKey}) {
        std::vector<std::string> sync = contentTrafficTo(a, key);
        EXPECT_TRUE(contains(sync, "INS_initSDL"));
        EXPECT_TRUE(contains(sync, "endSync"));
        for (const std::string& method : ICON_METHODS)
            EXPECT_FALSE(contains(sync, method)) << key;
        EXPECT_TRUE(displayLines(a, key, "setIcon").empty());
        EXPECT_TRUE(displayLines(host, key, "setIcon").empty());
    }
    EXPECT_EQ("setViewId .exe", displayLines(a, plainKey, "setViewId").at(0));
    EXPECT_EQ("setViewId .txt", displayLines(a, textKey, "setViewId").at(0));
}

// A .jpg that the picture loader cannot read is a file like any other; a picture that the loader
// reads but cannot fit (here: into a rectangle of width 0) is a picture content with no pixels.
TEST_F(ContentSessionTest, PicturesWithoutPixels)
{
    StageTerminal& a = session.join("A");
    std::string broken = ContentFiles::brokenJpeg(dir.path(), "broken.jpg");
    std::string brokenKey = install(session.host(), broken);
    std::string picture = ContentFiles::picture(dir.path(), "unfitted.bmp");
    std::string unfittedKey = install(session.host(), picture, 0, 90);
    for (StageTerminal* terminal : {&session.host(), &a}) {
        ASSERT_TRUE(waitForDisplay(*terminal, brokenKey));
        ASSERT_TRUE(waitForDisplay(*terminal, unfittedKey));
        ASSERT_TRUE(waitUntil([&] { return contentOn(*terminal, unfittedKey)->isSynchronized(); }));
        EXPECT_EQ((std::vector<std::string>{"setViewId .jpg"}), displayLines(*terminal, brokenKey, "setView"));
        std::vector<std::string> empty = displayLines(*terminal, unfittedKey, "setView");
        ASSERT_EQ(1u, empty.size()) << terminal->id();
        EXPECT_TRUE(empty[0] == "setViewData null 0x0" || empty[0] == "setViewData len=0 crc=00000000 0x0")
            << empty[0];
    }
}

// The operation right: the holder's own window hears "mine", every other content window "other";
// nobody holding it tells nothing; cursors hear nothing.
TEST_F(ContentSessionTest, OperationNoticesGoToContentWindowsOnly)
{
    StageTerminal& a = session.join("A");
    StageTerminal& b = session.join("B");
    std::string key = install(session.host(), ContentFiles::text(dir.path(), "shared.txt"));
    std::vector<StageTerminal*> all = {&session.host(), &a, &b};
    for (StageTerminal* terminal : all) {
        ASSERT_TRUE(waitForDisplay(*terminal, key));
        ASSERT_TRUE(waitUntil([&] { return contentOn(*terminal, key)->isSynchronized(); }));
    }
    CLocalMethod::postMethodStr(contentOn(a, key)->getObjectId(), "LOC_assignToOperator", "drag 7");
    for (StageTerminal* terminal : all)
        ASSERT_TRUE(waitUntil([&] { return !displayLines(*terminal, key, "onGained").empty(); })) << terminal->id();
    EXPECT_EQ((std::vector<std::string>{"onGainedMyOperation drag 7"}), displayLines(a, key, "on"));
    EXPECT_EQ((std::vector<std::string>{"onGainedOperation drag 7"}), displayLines(session.host(), key, "on"));
    EXPECT_EQ((std::vector<std::string>{"onGainedOperation drag 7"}), displayLines(b, key, "on"));

    CLocalMethod::postMethod(contentOn(a, key)->getObjectId(), "LOC_removeFromOperator");
    for (StageTerminal* terminal : all)
        ASSERT_TRUE(waitUntil([&] { return !displayLines(*terminal, key, "onLost").empty(); })) << terminal->id();
    EXPECT_EQ(operations(displayLines(a, key, "on")),
              (std::vector<std::string>{"onGainedMyOperation", "onLostMyOperation"}));
    for (StageTerminal* terminal : {&session.host(), &b})
        EXPECT_EQ(operations(displayLines(*terminal, key, "on")),
                  (std::vector<std::string>{"onGainedOperation", "onLostOperation"}));

    // Each terminal's cursor is a content too; taking the right on one tells no window.
    std::string cursorKey;
    for (const std::string& call : a.view.calls.entries())
        if (call.compare(0, 21, "getCursorDisplay own ") == 0)
            cursorKey = call.substr(21);
    ASSERT_FALSE(cursorKey.empty());
    ASSERT_NE(nullptr, contentOn(a, cursorKey));
    EXPECT_EQ((std::vector<std::string>{"setViewId .*"}), displayLines(a, cursorKey, "setView"));
    session.hub.clearTraffic();
    CLocalMethod::postMethodStr(contentOn(a, cursorKey)->getObjectId(), "LOC_assignToOperator", "cursor 1");
    // A cursor has no chat either: a line posted to it goes nowhere.
    CLocalMethod::postMethodStr(contentOn(a, cursorKey)->getObjectId(), "LOC_postSpeech", "to a cursor");
    pause(500);
    for (const std::string& line : session.hub.traffic()) {
        EXPECT_EQ(std::string::npos, line.find("Speech")) << line;
        EXPECT_EQ(std::string::npos, line.find("COP_addSpeaker")) << line;
    }
    for (StageTerminal* terminal : all)
        EXPECT_TRUE(chatLines(*terminal, "").empty()) << terminal->id();
    for (StageTerminal* terminal : all)
        for (const std::string& line : terminal->view.display.entries()) {
            if (line.find("Operation") != std::string::npos)
                EXPECT_EQ(terminal->view.displayName(key) + " ", line.substr(0, line.find(' ') + 1)) << line;
        }
}

// "a b  c" typed on B: the host shows it whole at once, A and B after the host relayed it;
// B registers as a speaker once however many lines it types.
TEST_F(ContentSessionTest, ChatLineTravelsThroughTheMasterAndArrivesWhole)
{
    StageTerminal& host = session.host();
    StageTerminal& a = session.join("A");
    StageTerminal& b = session.join("B");
    std::string key = install(host, ContentFiles::text(dir.path(), "talk.txt"));
    for (StageTerminal* terminal : {&host, &a, &b}) {
        ASSERT_TRUE(waitForDisplay(*terminal, key));
        ASSERT_TRUE(waitUntil([&] { return contentOn(*terminal, key)->isSynchronized(); }));
    }
    session.hub.clearTraffic();
    CLocalMethod::postMethodStr(contentOn(b, key)->getObjectId(), "LOC_postSpeech", "a b  c");
    for (StageTerminal* terminal : {&host, &a, &b})
        ASSERT_TRUE(waitUntil([&] { return !chatLines(*terminal, "addSpeech").empty(); })) << terminal->id();
    const std::string speakerB = "addSpeaker B_SPEAKER_DATA_SEP_2_SPEAKER_DATA_SEP_Nick B";
    for (StageTerminal* terminal : {&host, &a, &b}) {
        EXPECT_EQ((std::vector<std::string>{"addSpeech B a b  c"}), chatLines(*terminal, "addSpeech"))
            << terminal->id();
        EXPECT_TRUE(contains(chatLines(*terminal, "addSpeaker"), speakerB)) << terminal->id();
        EXPECT_EQ((std::vector<std::string>{"onSpeech 2"}), displayLines(*terminal, key, "onSpeech"));
    }
    // B's own line came back from the host: B sent it only to the master, the master to all.
    std::vector<std::string> traffic = session.hub.traffic();
    auto sent = [&](const std::string& piece) {
        return std::count_if(traffic.begin(), traffic.end(),
                             [&](const std::string& line) { return line.find(piece) != std::string::npos; });
    };
    EXPECT_EQ(1, sent(" REQ_addSpeech"));
    EXPECT_EQ(1, sent(" INS_addSpeech"));
    EXPECT_EQ(1, sent(" REQ_executeMasterMethod"));
    EXPECT_EQ(1, sent(" INS_executeSlaveMethod"));

    CLocalMethod::postMethodStr(contentOn(b, key)->getObjectId(), "LOC_postSpeech", "again");
    for (StageTerminal* terminal : {&host, &a, &b})
        ASSERT_TRUE(waitUntil([&] { return chatLines(*terminal, "addSpeech").size() == 2; })) << terminal->id();
    traffic = session.hub.traffic();
    EXPECT_EQ(1, sent(" REQ_executeMasterMethod"));
    EXPECT_EQ((std::vector<std::string>{"B_SPEAKER_DATA_SEP_2_SPEAKER_DATA_SEP_Nick B"}),
              contentOn(host, key)->speakers());
    // On B the speaker was handed to the chat once: by its own line (the list it synchronised
    // with was empty).
    EXPECT_EQ((std::vector<std::string>{speakerB}), chatLines(b, "addSpeaker"));
}

// Three speakers, then a terminal joins: it gets them in the order they first spoke, and shows
// them at the next line it sees.
TEST_F(ContentSessionTest, JoinerGetsTheSpeakersInOrderAtItsNextLine)
{
    StageTerminal& host = session.host();
    StageTerminal& a = session.join("A");
    StageTerminal& b = session.join("B");
    std::string key = install(host, ContentFiles::text(dir.path(), "talk.txt"));
    for (StageTerminal* terminal : {&host, &a, &b})
        ASSERT_TRUE(waitUntil([&] { return contentOn(*terminal, key) != nullptr
                                           && contentOn(*terminal, key)->isSynchronized(); }));
    // A nickname holding the list's separator and a line feed stays one speaker.
    host.prefs->setNickname("x_SPEAKER_DESC_SEP_y\nz");
    size_t lines = 0;
    for (StageTerminal* speaker : {&a, &host, &b}) {
        CLocalMethod::postMethodStr(contentOn(*speaker, key)->getObjectId(), "LOC_postSpeech",
                                    "I am " + speaker->id());
        ++lines;
        ASSERT_TRUE(waitUntil([&] { return chatLines(host, "addSpeech").size() == lines; }));
    }
    const std::vector<std::string> speakers = {"A_SPEAKER_DATA_SEP_1_SPEAKER_DATA_SEP_Nick A",
                                               "HOST_SPEAKER_DATA_SEP_0_SPEAKER_DATA_SEP_x-SPEAKER-DESC-SEP-y z",
                                               "B_SPEAKER_DATA_SEP_2_SPEAKER_DATA_SEP_Nick B"};
    ASSERT_TRUE(waitUntil([&] { return contentOn(host, key)->speakers() == speakers; }));

    StageTerminal& c = session.join("C");
    ASSERT_TRUE(waitUntil([&] { return contentOn(c, key) != nullptr && contentOn(c, key)->isSynchronized(); }));
    EXPECT_EQ(speakers, contentOn(c, key)->speakers());
    EXPECT_TRUE(chatLines(c, "add").empty());
    CLocalMethod::postMethodStr(contentOn(a, key)->getObjectId(), "LOC_postSpeech", "welcome");
    ASSERT_TRUE(waitUntil([&] { return !chatLines(c, "addSpeech").empty(); }));
    std::vector<std::string> expected;
    for (const std::string& speaker : speakers)
        expected.push_back("addSpeaker " + speaker);
    expected.push_back("addSpeech A welcome");
    EXPECT_EQ(expected, chatLines(c, "add"));
}

// Calls in the wrong role or at the wrong time, as a peer could send them: an error line each,
// nothing changes, the process goes on.
TEST_F(ContentSessionTest, WrongRoleAndLateCallsAreRefused)
{
    StageTerminal& host = session.host();
    StageTerminal& a = session.join("A");
    std::string key = install(host, ContentFiles::programWithIcon(dir.path(), "icon.exe"));
    ASSERT_TRUE(waitUntil([&] { return contentOn(a, key) != nullptr && contentOn(a, key)->isSynchronized(); }));
    CLocalMethod::postMethodStr(contentOn(a, key)->getObjectId(), "LOC_postSpeech", "first");
    ASSERT_TRUE(waitUntil([&] { return chatLines(a, "addSpeech").size() == 1; }));
    pause(300);
    CContent* master = contentOn(host, key);
    CContent* slave = contentOn(a, key);
    std::vector<std::string> masterSpeakers = master->speakers();
    std::vector<std::string> slaveSpeakers = slave->speakers();
    size_t hostLines = host.view.display.entries().size() + host.view.chat.entries().size();
    size_t slaveLines = a.view.display.entries().size() + a.view.chat.entries().size();

    struct Case {
        CContent* content;
        const char* method;
        std::string argument;
    };
    const std::string sdl = "X_SPEAKER_DATA_SEP_9_SPEAKER_DATA_SEP_x";
    const Case cases[] = {
        {master, "INS_initSDL", sdl},
        {slave, "INS_initSDL", sdl},                              // after the synchronisation
        {master, "INS_initIconImageData", std::string(4096, 'i')},
        {slave, "INS_initIconImageData", std::string(4096, 'i')}, // a second icon block, and late
        {master, "INS_initIconMaskData", std::string(128, 'm')},
        {slave, "INS_initIconMaskData", std::string(128, 'm')},
        {master, "INS_initIconBitsPerPixel", "8"},
        {slave, "INS_initIconBitsPerPixel", "8"},
        {slave, "REQ_addSpeech", "A 1 on a slave"},
        {master, "INS_addSpeech", "A 1 on the master"},
        // Speaker data that the list could not carry as one entry.
        {master, "COP_addSpeaker", "X_SPEAKER_DATA_SEP_9_SPEAKER_DATA_SEP_a_SPEAKER_DESC_SEP_b"},
        {master, "COP_addSpeaker", std::string(1025, 's')},
        {slave, "COP_addSpeaker", ""},
    };
    TraceCapture trace;
    for (const Case& c : cases) {
        trace.clear();
        std::string caller = c.content == master ? "A" : "HOST";
        c.content->setCallerTerminal(&caller);
        c.content->executeMethodBuf(c.method, static_cast<int>(c.argument.size()),
                                    reinterpret_cast<const unsigned char*>(c.argument.data()));
        c.content->setCallerTerminal(nullptr);
        EXPECT_EQ(1, trace.count("ERROR")) << c.method << (c.content == master ? " on the master" : " on a slave")
                                           << "\n"
                                           << trace.text();
    }
    pause(300);
    EXPECT_EQ(masterSpeakers, master->speakers());
    EXPECT_EQ(slaveSpeakers, slave->speakers());
    EXPECT_EQ(hostLines, host.view.display.entries().size() + host.view.chat.entries().size());
    EXPECT_EQ(slaveLines, a.view.display.entries().size() + a.view.chat.entries().size());
}

// Local methods of a content sent from a peer never run: the gate drops them.
TEST_F(ContentSessionTest, RemoteLocalCallsAreDroppedByTheGate)
{
    StageTerminal& a = session.join("A");
    std::string key = install(session.host(), ContentFiles::text(dir.path(), "mine.txt"));
    ASSERT_TRUE(waitUntil([&] { return contentOn(a, key) != nullptr && contentOn(a, key)->isSynchronized(); }));
    std::string elementId = contentOn(session.host(), key)->getElementId();
    CTrace::setDumpOn();
    TraceCapture trace;
    for (const char* method : {"LOC_startFileCopy", "LOC_onFileCopied", "LOC_postSpeech"}) {
        std::string argument = dir.file("elsewhere.txt");
        a.terminal.proxy().sendNotice(session.hub.host().terminalId(), elementId, method,
                                      static_cast<unsigned>(argument.size()), argument.data());
    }
    EXPECT_TRUE(waitUntil([&] { return trace.count("ERROR") >= 3; })) << trace.text();
    pause(300);
    EXPECT_EQ(0, trace.count("LOC_startFileCopy(")) << trace.text();
    EXPECT_EQ(0, trace.count("LOC_onFileCopied(")) << trace.text();
    EXPECT_TRUE(chatLines(session.host(), "addSpeech").empty());
    // Posted locally, each runs.
    CLocalMethod::postMethodStr(contentOn(session.host(), key)->getObjectId(), "LOC_startFileCopy", "C:\\x");
    EXPECT_TRUE(waitUntil([&] { return trace.count("LOC_startFileCopy(C:\\x)") == 1; })) << trace.text();
    CTrace::setDumpOff();
}

} // namespace

namespace {

// What a replica that synchronises shows of the icon blocks it was sent: only an image of the
// length its depth gives, with a mask of 128 bytes; anything else is refused with an error line.
TEST_F(ContentSessionTest, ReplicaShowsOnlyAWholeIcon)
{
    struct Case {
        int imageLength;
        int maskLength;
        const char* bits;
        bool shown;
        int errors;
    };
    const Case cases[] = {
        {4096, 128, "32", true, 0},  {128, 128, "1", true, 0},    {3072, 128, "24", true, 0},
        // A depth that does not fit the image; a depth refused, then the icon without one.
        {4096, 128, "8", false, 1},  {4096, 128, "7", false, 2},  {4096, 128, "-32", false, 2},
        {1024, 128, "99999999999", false, 2},
        // A block refused: no icon to show.
        {4095, 128, "32", false, 1}, {4096, 127, "32", false, 1}, {0, 128, "32", false, 1},
    };
    StageTerminal& host = session.host();
    for (const Case& c : cases) {
        std::string key = CStage::makeElementDesc("0 0", "size", "motion", "1", "0 *x.exe *n", "C:\\x.exe", 120, 90);
        CContent replica(host.stage.get(), key);
        std::vector<unsigned char> image(static_cast<size_t>(c.imageLength), 0x5A);
        std::vector<unsigned char> mask(static_cast<size_t>(c.maskLength), 0xF0);
        TraceCapture trace;
        replica.executeMethodBuf("INS_initIconImageData", c.imageLength, image.data());
        replica.executeMethodBuf("INS_initIconMaskData", c.maskLength, mask.data());
        replica.executeMethodBuf("INS_initIconBitsPerPixel", static_cast<int>(std::strlen(c.bits)),
                                 reinterpret_cast<const unsigned char*>(c.bits));
        replica.onEndSync();
        std::vector<std::string> icon = displayLines(host, key, "setIcon");
        EXPECT_EQ(c.shown ? 1u : 0u, icon.size()) << c.imageLength << " " << c.maskLength << " " << c.bits;
        if (c.shown)
            EXPECT_EQ(" " + std::string(c.bits) + " 1", icon.at(0).substr(icon.at(0).size() - 3 - std::strlen(c.bits)));
        EXPECT_EQ(c.errors, trace.count("ERROR")) << c.imageLength << " " << c.maskLength << " " << c.bits << "\n"
                                                  << trace.text();
        host.stage->releaseDisplay(key);
    }
}

} // namespace
