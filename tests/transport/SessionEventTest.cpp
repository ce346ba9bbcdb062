// The small types of the DirectPlay transport: player ids, session event texts, the fatal
// exceptions, service-provider records and the name tables of the trace.
#include "CDPServiceProvider.h"
#include "CDirectPlay.h"
#include "CFatalTroubleException.h"
#include "CFatalTroubleRecommendRebootException.h"
#include "CIOException.h"
#include "CPlayerId.h"
#include "CSessionEvent.h"

#include <gtest/gtest.h>

TEST(PlayerId, EqualsOnlyAPlayerIdOfTheSameIdAndHashesToIt)
{
    CPlayerId five(5), alsoFive(5), six(6);
    CJObject other;
    EXPECT_TRUE(five.equals(&alsoFive));
    EXPECT_EQ(five.hashCode(), alsoFive.hashCode());
    EXPECT_EQ(5, five.hashCode());
    EXPECT_FALSE(five.equals(&six));
    EXPECT_FALSE(five.equals(nullptr));
    EXPECT_FALSE(five.equals(&other));
    EXPECT_TRUE(five.isEquatable());
    EXPECT_EQ(5u, five.getId());
    EXPECT_EQ(static_cast<int>(0xFFFFFFFFu), CPlayerId(0xFFFFFFFFu).hashCode());
}

TEST(FatalTrouble, TheTwoKindsAreSiblingsCaughtOnlyAsTheirCommonRoot)
{
    bool plainAsReboot = false, rebootAsPlain = false, plainAsRoot = false, rebootAsRoot = false;
    try {
        throw CFatalTroubleException("plain");
    } catch (CFatalTroubleRecommendRebootException&) {
        plainAsReboot = true;
    } catch (CJException& e) {
        plainAsRoot = e.getMessage() == "plain";
    }
    try {
        throw CFatalTroubleRecommendRebootException("reboot");
    } catch (CFatalTroubleException&) {
        rebootAsPlain = true;
    } catch (CIOException&) {
        rebootAsPlain = true;
    } catch (CJException& e) {
        rebootAsRoot = e.getMessage() == "reboot";
    }
    EXPECT_FALSE(plainAsReboot);
    EXPECT_FALSE(rebootAsPlain);
    EXPECT_TRUE(plainAsRoot);
    EXPECT_TRUE(rebootAsRoot);
    CFatalTroubleException copy(CFatalTroubleException("copied"));
    EXPECT_EQ("copied", copy.getMessage());
    EXPECT_STREQ("CJException", copy.getClassName());
}

namespace {

struct EventText {
    int id;
    const char* terminalId;
    const char* text;
};

const EventText EVENT_TEXTS[] = {
    {CSessionEvent::SESSION_EVENT_SESSION_OUT, "T1", "1 T1"},
    {CSessionEvent::SESSION_EVENT_FATAL_TROUBLE, "", "2 "},
    {CSessionEvent::SESSION_EVENT_FATAL_TROUBLE_REBOOT, "", "3 "},
    {CSessionEvent::SESSION_EVENT_SESSION_OUT, "a b  c ", "1 a b  c "},
    {CSessionEvent::SESSION_EVENT_SESSION_OUT, " lead", "1  lead"},
    {-7, "x", "-7 x"},
};

} // namespace

TEST(SessionEventText, IsTheIdABlankAndTheTerminalIdAndReadsBackWhole)
{
    EXPECT_EQ(1, CSessionEvent::SESSION_EVENT_SESSION_OUT);
    EXPECT_EQ(2, CSessionEvent::SESSION_EVENT_FATAL_TROUBLE);
    EXPECT_EQ(3, CSessionEvent::SESSION_EVENT_FATAL_TROUBLE_REBOOT);
    for (const EventText& row : EVENT_TEXTS) {
        EXPECT_EQ(row.text, CSessionEvent::makeSessionHandleEventText(row.id, row.terminalId));
        int id = 0;
        std::string terminalId = "unchanged";
        CSessionEvent::parseSessionHandleEventText(row.text, &id, &terminalId);
        EXPECT_EQ(row.id, id) << row.text;
        EXPECT_EQ(row.terminalId, terminalId) << row.text;
    }
    int id = 9;
    std::string terminalId = "x";
    CSessionEvent::parseSessionHandleEventText("2", &id, &terminalId);
    EXPECT_EQ(2, id);
    EXPECT_EQ("", terminalId);
    CSessionEvent::parseSessionHandleEventText("", &id, &terminalId);
    EXPECT_EQ(0, id);
}

TEST(ServiceProvider, KeepsACopyOfItsDataAndIsEqualByGuid)
{
    unsigned char data[3] = {1, 2, 3};
    CDPServiceProvider tcp, again, ipx;
    tcp.setInfo(DPSPGUID_TCPIP, data, sizeof data);
    data[0] = 9;
    again.setInfo(DPSPGUID_TCPIP, nullptr, 0);
    ipx.setInfo(DPSPGUID_IPX, data, sizeof data);
    EXPECT_EQ(3u, tcp.getConnectionDataSize());
    EXPECT_EQ(1, static_cast<const unsigned char*>(tcp.getConnectionData())[0]);
    EXPECT_TRUE(tcp.isTCPIP());
    EXPECT_FALSE(ipx.isTCPIP());
    EXPECT_TRUE(tcp.equals(&again));
    EXPECT_FALSE(tcp.equals(&ipx));
    CJObject other;
    EXPECT_FALSE(tcp.equals(&other));
    EXPECT_FALSE(tcp.equals(nullptr));
    EXPECT_TRUE(tcp.isEquatable());
    EXPECT_EQ(static_cast<int>(DPSPGUID_TCPIP.Data2), tcp.hashCode());
}

namespace {

struct Name {
    DWORD value;
    const char* name;
};

const Name SYSTEM_MESSAGE_NAMES[] = {
    {0x0003, "DPSYS_CREATEPLAYERORGROUP"}, {0x0005, "DPSYS_DESTROYPLAYERORGROUP"},
    {0x0007, "DPSYS_ADDPLAYERTOGROUP"},    {0x0021, "DPSYS_DELETEPLAYERFROMGROUP"},
    {0x0031, "DPSYS_SESSIONLOST"},         {0x0101, "DPSYS_HOST"},
    {0x0102, "DPSYS_SETPLAYERORGROUPDATA"}, {0x0103, "DPSYS_SETPLAYERORGROUPNAME"},
    {0x0104, "DPSYS_SETSESSIONDESC"},      {0x0105, "DPSYS_ADDGROUPTOGROUP"},
    {0x0106, "DPSYS_DELETEGROUPFROMGROUP"}, {0x0107, "DPSYS_SECUREMESSAGE"},
    {0x0108, "DPSYS_STARTSESSION"},        {0x0109, "DPSYS_CHAT"},
    {0x010A, "DPSYS_SETGROUPOWNER"},       {0x010D, "DPSYS_SENDCOMPLETE"},
    {0x0000, "***UNKNOWN DPSYSMSG ****"},  {0x010B, "***UNKNOWN DPSYSMSG ****"},
    {0x0004, "***UNKNOWN DPSYSMSG ****"},  {0xFFFFFFFF, "***UNKNOWN DPSYSMSG ****"},
};

const Name ERROR_NAMES[] = {
    {0x00000000, "DP_OK"},
    {0x88770005, "DPERR_ALREADYINITIALIZED"},
    {0x8877000A, "DPERR_ACCESSDENIED"},
    {0x88770014, "DPERR_ACTIVEPLAYERS"},
    {0x8877001E, "DPERR_BUFFERTOOSMALL"},
    {0x88770028, "DPERR_CANTADDPLAYER"},
    {0x88770032, "DPERR_CANTCREATEGROUP"},
    {0x8877003C, "DPERR_CANTCREATEPLAYER"},
    {0x88770046, "DPERR_CANTCREATESESSION"},
    {0x88770050, "DPERR_CAPSNOTAVAILABLEYET"},
    {0x8877005A, "DPERR_EXCEPTION"},
    {0x80004005, "DPERR_GENERIC"},
    {0x88770078, "DPERR_INVALIDFLAGS"},
    {0x88770082, "DPERR_INVALIDOBJECT"},
    {0x80070057, "DPERR_INVALIDPARAM or DPERR_INVALIDPARAMS"},
    {0x88770096, "DPERR_INVALIDPLAYER"},
    {0x8877009B, "DPERR_INVALIDGROUP"},
    {0x887700A0, "DPERR_NOCAPS"},
    {0x887700AA, "DPERR_NOCONNECTION"},
    {0x8007000E, "DPERR_NOMEMORY or DPERR_OUTOFMEMORY"},
    {0x887700BE, "DPERR_NOMESSAGES"},
    {0x887700C8, "DPERR_NONAMESERVERFOUND"},
    {0x887700D2, "DPERR_NOPLAYERS"},
    {0x887700DC, "DPERR_NOSESSIONS"},
    {0x8000000A, "DPERR_PENDING"},
    {0x887700E6, "DPERR_SENDTOOBIG"},
    {0x887700F0, "DPERR_TIMEOUT"},
    {0x887700FA, "DPERR_UNAVAILABLE"},
    {0x80004001, "DPERR_UNSUPPORTED"},
    {0x8877010E, "DPERR_BUSY"},
    {0x88770118, "DPERR_USERCANCEL"},
    {0x80004002, "DPERR_NOINTERFACE"},
    {0x88770122, "DPERR_CANNOTCREATESERVER"},
    {0x8877012C, "DPERR_PLAYERLOST"},
    {0x88770136, "DPERR_SESSIONLOST"},
    {0x88770140, "DPERR_UNINITIALIZED"},
    {0x8877014A, "DPERR_NONEWPLAYERS"},
    {0x88770154, "DPERR_INVALIDPASSWORD"},
    {0x8877015E, "DPERR_CONNECTING"},
    {0x88770168, "DPERR_CONNECTIONLOST"},
    {0x88770172, "DPERR_UNKNOWNMESSAGE"},
    {0x8877017C, "DPERR_CANCELFAILED"},
    {0x88770186, "DPERR_INVALIDPRIORITY"},
    {0x88770190, "DPERR_NOTHANDLED"},
    {0x8877019A, "DPERR_CANCELLED"},
    {0x887701A4, "DPERR_ABORTED"},
    {0x88770816, "***UNKNOWN DPERROR ****"}, // DPERR_NOTLOGGEDIN
    {0x887703E8, "***UNKNOWN DPERROR ****"}, // DPERR_BUFFERTOOLARGE
    {0x00000001, "***UNKNOWN DPERROR ****"},
    {0x88770001, "***UNKNOWN DPERROR ****"},
};

} // namespace

TEST(DirectPlayNames, SystemMessagesByTheirTypeWord)
{
    for (const Name& row : SYSTEM_MESSAGE_NAMES)
        EXPECT_EQ(row.name, CDirectPlay::getSysMsgName(row.value)) << std::hex << row.value;
}

TEST(DirectPlayNames, ResultCodesByValueTheSharedOnesWithBothNames)
{
    for (const Name& row : ERROR_NAMES)
        EXPECT_EQ(row.name, CDirectPlay::getErrorName(static_cast<HRESULT>(row.value))) << std::hex << row.value;
}
