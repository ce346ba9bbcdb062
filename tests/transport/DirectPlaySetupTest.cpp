// Hosting, joining and closing a DirectPlay session: what CDirectPlay asks of DirectPlay, in
// order and argument by argument, and what each failure of set-up turns into.
#include "TransportTestKit.h"

#include "CFatalTroubleException.h"
#include "CFatalTroubleRecommendRebootException.h"
#include "CGuid.h"
#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"

#include <functional>

namespace {

using Lines = std::vector<std::string>;

const char TCPIP_BYTES[] = "E0 5E E9 36 77 85 CF 11 96 0C 00 80 C7 53 4E 82";
const char INSTANCE_TEXT[] = "11223344-5566-7788-99AA-BBCCDDEEF001";

std::string address(const std::string& buffer, const std::string& inet, int inetSize)
{
    return "CreateCompoundAddress count=2 buffer=" + buffer + " | DPAID_ServiceProvider 16 [" + TCPIP_BYTES
           + "] | DPAID_INet " + std::to_string(inetSize) + " [" + inet + "]";
}

Lines setUpCalls(const std::string& inet, int inetSize)
{
    return {
        "Create CLSID_DirectPlay IID_IDirectPlay4A",
        "EnumConnections application=null flags=0x1",
        "EnumConnections callback TCPIP -> 0",
        "Create CLSID_DirectPlayLobby IID_IDirectPlayLobbyA",
        "Lobby QueryInterface IID_IDirectPlayLobby3A",
        "Lobby Release -> 1",
        address("null size=0", inet, inetSize),
        address("set size=40", inet, inetSize),
        "InitializeConnection address=lobby's flags=0x0",
    };
}

Lines sessionDescAndCaps()
{
    return {
        "GetSessionDesc buffer=null size=0",
        "GetSessionDesc buffer=set size=100",
        "GetCaps dwSize=40 flags=0x0",
        "GetCaps dwSize=40 flags=0x1",
    };
}

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class DirectPlaySetup : public FakeDirectPlayTest {};

} // namespace

TEST_F(DirectPlaySetup, HostingAsksForAClientServerSessionAndGivesItsInstanceAsUpperCaseText)
{
    CDirectPlay directPlay("T1", true, 20);
    fake().playerId = DPID_SERVERPLAYER;
    EXPECT_EQ(INSTANCE_TEXT, directPlay.open(APPLICATION_GUID));
    EXPECT_EQ(comBefore_ + 1, CDirectPlay::getComUseCount());
    Lines expected = setUpCalls("00", 1)
                     + Lines{"Open flags=0x2 dwSize=" + std::to_string(sizeof(DPSESSIONDESC2))
                             + " dwFlags=0x3040 instance=zero application=" + APPLICATION_GUID
                             + " max=0 current=0 name=must userID password=null user=0,0,0,0 reserved=0,0"}
                     + sessionDescAndCaps()
                     + Lines{"CreatePlayer dwSize=" + std::to_string(sizeof(DPNAME))
                             + " short=T1 long=null event=set data=null size=0 flags=0x100"};
    EXPECT_EQ(expected, fake().calls());
    EXPECT_EQ(88u, sizeof(DPSESSIONDESC2));
    EXPECT_EQ(24u, sizeof(DPNAME));
}

TEST_F(DirectPlaySetup, JoiningAddressesTheHostsIpAndOpensTheWantedSessionAfterOneEnumeration)
{
    GUID before = {0xAAAAAAAA, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
    GUID after = {0xBBBBBBBB, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
    fake().sessions = {before, fake().instance, after};
    fake().playerId = 9;
    CDirectPlay directPlay("Terminal 2", false, 20);
    directPlay.open(APPLICATION_GUID, INSTANCE_TEXT, "198.18.0.1");
    Lines expected = setUpCalls("31 39 38 2E 31 38 2E 30 2E 31 00", 11)
                     + Lines{"EnumSessions dwSize=88 application=" + std::string(APPLICATION_GUID)
                                 + " instance=zero name=null timeout=0 flags=0x2 context=" + INSTANCE_TEXT,
                             "EnumSessions callback AAAAAAAA-0001-0002-0304-05060708090A -> 1",
                             "EnumSessions callback " + std::string(INSTANCE_TEXT) + " -> 0",
                             "Open flags=0x1 dwSize=88 dwFlags=0x0 instance=" + std::string(INSTANCE_TEXT)
                                 + " application=" + APPLICATION_GUID
                                 + " max=0 current=0 name=null password=null user=0,0,0,0 reserved=0,0"}
                     + sessionDescAndCaps()
                     + Lines{"CreatePlayer dwSize=24 short=Terminal 2 long=null event=set data=null size=0 flags=0x0"};
    EXPECT_EQ(expected, fake().calls());
    EXPECT_EQ(9u, directPlay.getMyPlayerId());
}

TEST_F(DirectPlaySetup, AnEnumerationThatFindsNothingDecidesNothingTheJoinDoes)
{
    CDirectPlay directPlay("A", false, 20);
    fake().playerId = 4;
    directPlay.open(APPLICATION_GUID, INSTANCE_TEXT, "198.18.0.1");
    EXPECT_EQ(1u, fake().callsStartingWith("EnumSessions callback timed out -> 0").size());
    EXPECT_EQ(1u, fake().callsStartingWith("Open flags=0x1").size());
}

TEST_F(DirectPlaySetup, ConnectionEnumerationStopsAtTheFirstTcpIpProvider)
{
    fake().providers = {DPSPGUID_IPX, DPSPGUID_MODEM, DPSPGUID_TCPIP, DPSPGUID_IPX};
    CDirectPlay directPlay("H", true, 20);
    directPlay.open(APPLICATION_GUID);
    EXPECT_EQ((Lines{"EnumConnections callback IPX -> 1", "EnumConnections callback MODEM -> 1",
                     "EnumConnections callback TCPIP -> 0"}),
              fake().callsStartingWith("EnumConnections callback"));
}

namespace {

enum Expect { FATAL, REBOOT, IO };

struct SetUpFailure {
    const char* name;
    bool host;
    std::function<void(FakeDirectPlay&)> arrange;
    Expect expect;
    // The DirectPlay objects are given back before the exception (a vanished session).
    bool releasedAtOnce;
};

std::ostream& operator<<(std::ostream& out, const SetUpFailure& failure)
{
    return out << failure.name;
}

const SetUpFailure SET_UP_FAILURES[] = {
    {"NoDirectPlayObject", true, [](FakeDirectPlay& f) { f.answer("CreateDirectPlay", REGDB_E_CLASSNOTREG); }, FATAL,
     false},
    {"ConnectionsLost", true, [](FakeDirectPlay& f) { f.answer("EnumConnections", DPERR_CONNECTIONLOST); }, FATAL,
     false},
    {"ConnectionsFailOtherwise", true, [](FakeDirectPlay& f) { f.answer("EnumConnections", DPERR_GENERIC); }, FATAL,
     false},
    {"NoTcpIpProvider", false, [](FakeDirectPlay& f) { f.providers = {DPSPGUID_IPX}; }, FATAL, false},
    {"NoLobby", true, [](FakeDirectPlay& f) { f.answer("CreateLobby", REGDB_E_CLASSNOTREG); }, FATAL, false},
    {"NoLobby3", true, [](FakeDirectPlay& f) { f.answer("QueryLobby3", E_NOINTERFACE); }, FATAL, false},
    {"AddressNeedsNoBuffer", true, [](FakeDirectPlay& f) { f.answer("CreateCompoundAddress", DP_OK); }, FATAL,
     false},
    {"AddressFailsWithItsBuffer", false,
     [](FakeDirectPlay& f) { f.answer("CreateCompoundAddress2", DPERR_INVALIDPARAMS); }, FATAL, false},
    {"ConnectionNotInitialised", false,
     [](FakeDirectPlay& f) { f.answer("InitializeConnection", DPERR_UNAVAILABLE); }, FATAL, false},
    {"HostOpenGeneric", true, [](FakeDirectPlay& f) { f.answer("Open", DPERR_GENERIC); }, REBOOT, false},
    {"HostOpenOtherwise", true, [](FakeDirectPlay& f) { f.answer("Open", DPERR_CANTCREATESESSION); }, FATAL, false},
    {"HostPendingIsAFailure", true, [](FakeDirectPlay& f) { f.answer("Open", DPERR_PENDING); }, FATAL, false},
    {"ServerPlayerNotMade", true, [](FakeDirectPlay& f) { f.answer("CreatePlayer", DPERR_CANTADDPLAYER); }, FATAL,
     false},
    {"EnumSessionsFails", false, [](FakeDirectPlay& f) { f.answer("EnumSessions", DPERR_CONNECTIONLOST); }, FATAL,
     false},
    {"SessionVanished", false, [](FakeDirectPlay& f) { f.answer("Open", DPERR_NOSESSIONS); }, IO, true},
    {"JoinFailsOtherwise", false, [](FakeDirectPlay& f) { f.answer("Open", DPERR_CONNECTIONLOST); }, IO, false},
    {"MemberPlayerNotMade", false, [](FakeDirectPlay& f) { f.answer("CreatePlayer", DPERR_TIMEOUT); }, IO, false},
};

class DirectPlaySetUpFailure : public FakeDirectPlayTest, public testing::WithParamInterface<SetUpFailure> {};

} // namespace

TEST_P(DirectPlaySetUpFailure, RaisesItsExceptionAndLeavesNothingHeldOnceDeleted)
{
    const SetUpFailure& failure = GetParam();
    failure.arrange(fake());
    fake().sessions = {fake().instance};
    std::unique_ptr<CDirectPlay> directPlay(new CDirectPlay("T1", failure.host, 20));
    directPlay->addObserver(&log_);
    Expect caught = FATAL;
    bool thrown = false;
    try {
        if (failure.host)
            directPlay->open(APPLICATION_GUID);
        else
            directPlay->open(APPLICATION_GUID, INSTANCE_TEXT, "198.18.0.1");
    } catch (CFatalTroubleException&) {
        caught = FATAL;
        thrown = true;
    } catch (CFatalTroubleRecommendRebootException&) {
        caught = REBOOT;
        thrown = true;
    } catch (CIOException&) {
        caught = IO;
        thrown = true;
    }
    ASSERT_TRUE(thrown);
    EXPECT_EQ(failure.expect, caught);
    if (failure.releasedAtOnce) {
        EXPECT_EQ(0, fake().liveObjects());
        EXPECT_EQ(comBefore_, CDirectPlay::getComUseCount());
    }
    // A failed open is not a session: it cannot be closed, nor opened again.
    EXPECT_THROW(directPlay->close(), CIllegalStateException);
    if (!failure.releasedAtOnce && failure.host) {
        EXPECT_THROW(directPlay->open(APPLICATION_GUID), CIllegalStateException);
    } else if (!failure.releasedAtOnce) {
        EXPECT_THROW(directPlay->open(APPLICATION_GUID, INSTANCE_TEXT, "198.18.0.1"), CIllegalStateException);
    }
    directPlay.reset();
    EXPECT_EQ(0, fake().liveObjects());
    EXPECT_EQ(comBefore_, CDirectPlay::getComUseCount());
    EXPECT_EQ(std::vector<std::string>{}, log_.events.entries());
}

INSTANTIATE_TEST_SUITE_P(Each, DirectPlaySetUpFailure, testing::ValuesIn(SET_UP_FAILURES),
                         [](const testing::TestParamInfo<SetUpFailure>& info) { return std::string(info.param.name); });

TEST_F(DirectPlaySetup, FatalTroubleIsNoIOExceptionNorTheRebootKind)
{
    fake().answer("EnumConnections", DPERR_CONNECTIONLOST);
    CDirectPlay directPlay("A", false, 20);
    bool asIO = false;
    bool asReboot = false;
    bool asFatal = false;
    try {
        directPlay.open(APPLICATION_GUID, INSTANCE_TEXT, "198.18.0.1");
    } catch (CIOException&) {
        asIO = true;
    } catch (CFatalTroubleRecommendRebootException&) {
        asReboot = true;
    } catch (CFatalTroubleException& e) {
        asFatal = true;
        EXPECT_NE(std::string::npos, e.getMessage().find("DPERR_CONNECTIONLOST")) << e.getMessage();
    }
    EXPECT_FALSE(asIO);
    EXPECT_FALSE(asReboot);
    EXPECT_TRUE(asFatal);
}

TEST_F(DirectPlaySetup, AnIpTextOver255CharactersIsRefusedBeforeAnyDirectPlayCall)
{
    CDirectPlay directPlay("A", false, 20);
    EXPECT_THROW(directPlay.open(APPLICATION_GUID, INSTANCE_TEXT, std::string(256, '1')), CIOException);
    EXPECT_EQ(Lines{}, fake().calls());
    EXPECT_EQ(comBefore_, CDirectPlay::getComUseCount());
    // 255 characters still make an address (the host's name cannot be resolved, that is all).
    directPlay.open(APPLICATION_GUID, INSTANCE_TEXT, std::string(255, '1'));
    EXPECT_EQ(1u, fake().callsStartingWith("InitializeConnection").size());
}

TEST_F(DirectPlaySetup, TextsThatAreNoGuidsAreRefusedBeforeDirectPlayIsTouched)
{
    CDirectPlay host("H", true, 20);
    EXPECT_THROW(host.open("not a guid"), CIllegalArgumentException);
    CDirectPlay member("A", false, 20);
    EXPECT_THROW(member.open(APPLICATION_GUID, "11223344-5566-7788-99AA-BBCCDDEEF00", "198.18.0.1"),
                 CIllegalArgumentException);
    EXPECT_EQ(Lines{}, fake().calls());
}

TEST_F(DirectPlaySetup, ASecondOpenOrACloseWithoutSessionChangesNothing)
{
    CDirectPlay idle("I", true, 20);
    EXPECT_THROW(idle.close(), CIllegalStateException);
    EXPECT_EQ(Lines{}, fake().calls());

    std::unique_ptr<Terminal> host = openHost();
    size_t made = fake().calls().size();
    EXPECT_THROW(host->dp().open(APPLICATION_GUID), CIllegalStateException);
    EXPECT_EQ(Lines{}, callsFrom(made));
    host->dp().close();
    EXPECT_THROW(host->dp().close(), CIllegalStateException);
}

TEST_F(DirectPlaySetup, HostCloseLetsTheQueueLeaveThenDestroysEveryMemberThenItselfThenCloses)
{
    std::unique_ptr<Terminal> host = openHost();
    ManualClock clock(host->dp());
    fake().players = {DPID_SERVERPLAYER, 5, 7};
    fake().answerQueueCounts({3, 1, 0});
    size_t opened = fake().calls().size();
    host->dp().close();
    EXPECT_EQ((Lines{"GetMessageQueue from=1 to=0 flags=0x1", "GetMessageQueue from=1 to=0 flags=0x1",
                     "GetMessageQueue from=1 to=0 flags=0x1", "CancelMessage 0 flags=0x0",
                     "EnumPlayers instance=null context=self flags=0x0", "EnumPlayers callback 1 -> 1",
                     "DestroyPlayer 5", "EnumPlayers callback 5 -> 1", "DestroyPlayer 7",
                     "EnumPlayers callback 7 -> 1", "DestroyPlayer 1", "Close"}),
              callsFrom(opened));
    EXPECT_EQ((std::vector<DWORD>{CDirectPlay::CLOSE_DRAIN_POLL_MS, CDirectPlay::CLOSE_DRAIN_POLL_MS}), clock.sleeps());
}

TEST_F(DirectPlaySetup, MemberCloseDestroysOnlyItsOwnPlayer)
{
    std::unique_ptr<Terminal> member = openMember("A", 7);
    fake().players = {DPID_SERVERPLAYER, 5, 7};
    size_t opened = fake().calls().size();
    member->dp().close();
    EXPECT_EQ((Lines{"GetMessageQueue from=7 to=0 flags=0x1", "CancelMessage 0 flags=0x0", "DestroyPlayer 7", "Close"}),
              callsFrom(opened));
}

TEST_F(DirectPlaySetup, CloseGoesOnThroughEveryFailureAndAQueueThatNeverDrains)
{
    std::unique_ptr<Terminal> host = openHost();
    ManualClock clock(host->dp());
    fake().players = {5};
    fake().answerQueueCounts(std::vector<DWORD>(1000, 4));
    fake().answer("CancelMessage", DPERR_GENERIC);
    fake().answer("DestroyPlayer", DPERR_INVALIDPLAYER, 2);
    fake().answer("Close", DPERR_GENERIC);
    TraceCapture trace;
    host->dp().close();
    EXPECT_EQ(CDirectPlay::CLOSE_DRAIN_LIMIT_MS / CDirectPlay::CLOSE_DRAIN_POLL_MS, clock.sleeps().size());
    EXPECT_EQ((Lines{"CancelMessage 0 flags=0x0", "EnumPlayers instance=null context=self flags=0x0",
                     "DestroyPlayer 5", "EnumPlayers callback 5 -> 1", "DestroyPlayer 1", "Close"}),
              callsFrom(fake().calls().size() - 6));
    EXPECT_EQ(1, trace.count("ERROR: [ CDirectPlay ] close(): Close failed DPERR_GENERIC"));
}

TEST_F(DirectPlaySetup, CloseCancelsAtOnceWhenTheQueueCannotBeRead)
{
    std::unique_ptr<Terminal> member = openMember();
    ManualClock clock(member->dp());
    fake().answer("GetMessageQueue", DPERR_UNSUPPORTED);
    size_t opened = fake().calls().size();
    member->dp().close();
    EXPECT_EQ((Lines{"GetMessageQueue from=7 to=0 flags=0x1", "CancelMessage 0 flags=0x0", "DestroyPlayer 7", "Close"}),
              callsFrom(opened));
    EXPECT_EQ(0u, clock.sleeps().size());
}

TEST_F(DirectPlaySetup, DeletingGivesBackTheObjectsAndTheComInitialisationOnce)
{
    std::unique_ptr<Terminal> host = openHost();
    host->dp().close();
    size_t closed = fake().calls().size();
    EXPECT_EQ(comBefore_ + 1, CDirectPlay::getComUseCount());
    host.reset();
    EXPECT_EQ((Lines{"Release DirectPlay", "Lobby Release -> 0"}), callsFrom(closed));
    EXPECT_EQ(comBefore_, CDirectPlay::getComUseCount());
}

// Opening the wrong role is a programming fault: the process ends, naming it.
class DirectPlayRole : public testing::TestWithParam<bool> {};

TEST_P(DirectPlayRole, OpeningTheOtherRoleStopsTheProcess)
{
    bool asHost = GetParam();
    if (isChild()) {
        childTracesToFile(false);
        CDirectPlay directPlay("T", !asHost, 20);
        if (asHost)
            directPlay.open(APPLICATION_GUID);
        else
            directPlay.open(APPLICATION_GUID, "11223344-5566-7788-99AA-BBCCDDEEF001", "198.18.0.1");
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::string fault = asHost ? "open(): a member cannot host a session" : "open(): the host cannot join a session";
    bool named = false;
    for (const std::string& line : dir.logLines())
        named = named || line.find("FATAL ERROR: [ CDirectPlay ] " + fault) != std::string::npos;
    EXPECT_TRUE(named) << testing::PrintToString(dir.logLines());
}

INSTANTIATE_TEST_SUITE_P(Open, DirectPlayRole, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "AsHost" : "AsMember");
                         });
