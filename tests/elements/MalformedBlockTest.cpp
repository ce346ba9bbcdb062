#include "CodecHarness.h"
#include "ISerializable.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Hex of a text with its closing NUL.
std::string z(const std::string& text)
{
    return hexBytes(text.c_str(), text.size() + 1) + " ";
}

// The header up to and with the method name: to B/E from A/F, NOTICE, serial 7.
std::string header(const std::string& method)
{
    return "01 " + z("B") + z("E") + "00 " + z("A") + z("F") + "00 07 00 00 00 " + z(method);
}

const std::string HEADER = header("m");
const std::string RETURN = header("return");
const std::string EXCEPTION = header("");

const char CALL_TEXT[] = " RT[ B ] RE[ E ] ST[ A ] SE[ F ] mod[ NOTICE ] ser[ 7 ] mtd[ m ] prm[ ";

// After every case comes this block; it must always arrive.
const std::string SENTINEL = "01 " + z("B") + z("S") + "01 " + z("A") + "00 01 00 00 00 " + z("sentinel") + "00";

struct MalformedCase {
    const char* name;
    std::string block;
    // Dropped blocks: a piece of the error line. Decoded blocks: NULL.
    const char* error;
    // Decoded blocks: the message's text, and the argument as "NULL", "none", or the hex of
    // its stored form or of the buffer's bytes.
    std::string text;
    std::string argument;
};

void PrintTo(const MalformedCase& c, std::ostream* out)
{
    *out << c.name;
}

class MalformedBlock : public testing::TestWithParam<MalformedCase> {};

std::string argumentOf(CMethodCallMessage* message)
{
    if (message->isCallWithoutParam())
        return "none";
    if (message->isCallWithBufferParam())
        return hexBytes(message->getBuf(), message->getBufSize());
    ISerializable* value = message->getParam();
    return value == nullptr ? "NULL" : std::string(value->getClassName()) + " " + hexBytes(CodecHarness::storedForm(value));
}

TEST_P(MalformedBlock, IsDroppedOrReadAsTheFormSays)
{
    const MalformedCase& c = GetParam();
    TraceCapture trace;
    std::vector<MessagePtr> decoded = CodecHarness::decodeAll({bytesOf(c.block), bytesOf(SENTINEL)});
    ASSERT_FALSE(decoded.empty());
    EXPECT_EQ("sentinel", decoded.back()->getMethodName()) << "the block after the case was not read";
    if (c.error != nullptr) {
        EXPECT_EQ(1u, decoded.size()) << "a malformed block came through: " << decoded.front()->toString();
        EXPECT_EQ(1, trace.count(c.error)) << trace.text();
        EXPECT_LE(1, trace.count("ERROR: [ CMethodCallMsgDecoder ]"));
        return;
    }
    ASSERT_EQ(2u, decoded.size());
    EXPECT_EQ(c.text, decoded.front()->toString());
    EXPECT_EQ(c.argument, argumentOf(decoded.front().get()));
}

std::string cut(const std::string& field)
{
    return "the field " + field + " is cut short";
}

const std::string CUT_RECTERMID = cut("recTermId");
const std::string CUT_RECELEMID = cut("recElemId");
const std::string CUT_SENDERINFO = cut("senderInfo");
const std::string CUT_SNDTERMID = cut("sndTermId");
const std::string CUT_SNDELEMID = cut("sndElemId");
const std::string CUT_MOD = cut("mod");
const std::string CUT_SERIALNUM = cut("serialNum");
const std::string CUT_METHOD = cut("method");
const std::string CUT_PARAMCOUNT = cut("paramCount");
const char UNANALYSABLE[] = "the block cannot be analysed";

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedBlock,
    testing::Values(
        // A cut in every field of the header.
        MalformedCase{"CutBeforeRecTermId", "01", CUT_RECTERMID.c_str(), "", ""},
        MalformedCase{"CutInRecTermId", "01 42", CUT_RECTERMID.c_str(), "", ""},
        MalformedCase{"CutInRecElemId", "01 42 00 45", CUT_RECELEMID.c_str(), "", ""},
        MalformedCase{"CutAtSenderInfo", "01 42 00 45 00", CUT_SENDERINFO.c_str(), "", ""},
        MalformedCase{"CutInSndTermId", "01 42 00 45 00 00 41", CUT_SNDTERMID.c_str(), "", ""},
        MalformedCase{"CutInSndElemId", "01 42 00 45 00 00 41 00 46", CUT_SNDELEMID.c_str(), "", ""},
        MalformedCase{"CutAtMod", "01 42 00 45 00 00 41 00 46 00", CUT_MOD.c_str(), "", ""},
        MalformedCase{"CutInSerialNum", "01 42 00 45 00 00 41 00 46 00 00 07 00 00", CUT_SERIALNUM.c_str(), "", ""},
        MalformedCase{"CutInMethod", "01 42 00 45 00 00 41 00 46 00 00 07 00 00 00 6D", CUT_METHOD.c_str(), "", ""},
        MalformedCase{"CutAtParamCount", HEADER, CUT_PARAMCOUNT.c_str(), "", ""},
        // Bytes that are read but not examined.
        MalformedCase{"UnknownSenderInfoReadsTheSenderElement",
                      "01 " + z("B") + z("E") + "02 " + z("A") + z("F") + "00 07 00 00 00 " + z("m") + "00", nullptr,
                      std::string(CALL_TEXT) + "NOPARAM ]", "none"},
        MalformedCase{"VersionSeven", "07" + HEADER.substr(2) + "00", nullptr, std::string(CALL_TEXT) + "NOPARAM ]",
                      "none"},
        MalformedCase{"AnyModifier", "01 " + z("B") + z("E") + "00 " + z("A") + z("F") + "09 FF FF FF FF " + z("m") + "00",
                      nullptr, " RT[ B ] RE[ E ] ST[ A ] SE[ F ] mod[ UNKNOWN ] ser[ -1 ] mtd[ m ] prm[ NOPARAM ]", "none"},
        MalformedCase{"NoParameterIgnoresTrailingBytes", HEADER + "00 12 34", nullptr,
                      std::string(CALL_TEXT) + "NOPARAM ]", "none"},
        // Parameter counts.
        MalformedCase{"CallWithTwoParameters", HEADER + "02 " + z("CInteger") + "01 00 00 00", UNANALYSABLE, "", ""},
        MalformedCase{"CallWithCountFF", HEADER + "FF " + z("CInteger") + "01 00 00 00", UNANALYSABLE, "", ""},
        MalformedCase{"ExceptionWithTwoParameters", EXCEPTION + "02 " + z("CJException") + z("x"), UNANALYSABLE, "", ""},
        MalformedCase{"ReturnWithTwoParametersCounts1", RETURN + "02 " + z("CInteger") + "2A 00 00 00", nullptr,
                      " RT[ B ] RE[ E ] ST[ A ] SE[ F ] mod[ NOTICE ] ser[ 7 ] mtd[ return ] prm[ OBJECTPARAM ]",
                      "CInteger 2A 00 00 00"},
        MalformedCase{"ReturnWithoutParameterIsNull", RETURN + "00 " + z("CInteger"), nullptr,
                      " RT[ B ] RE[ E ] ST[ A ] SE[ F ] mod[ NOTICE ] ser[ 7 ] mtd[ return ] prm[ OBJECTPARAM ]",
                      "NULL"},
        MalformedCase{"ExceptionWithoutParameterIsACall", EXCEPTION + "00", nullptr,
                      " RT[ B ] RE[ E ] ST[ A ] SE[ F ] mod[ NOTICE ] ser[ 7 ] mtd[  ] prm[ NOPARAM ]", "none"},
        // Type names.
        MalformedCase{"TypeNameWithoutNul", HEADER + "01 43 49 6E 74", UNANALYSABLE, "", ""},
        MalformedCase{"TypeNameMissing", HEADER + "01", UNANALYSABLE, "", ""},
        MalformedCase{"UndecodableType", HEADER + "01 " + z("CWndMsg") + "01 00 00 00 02 00 00 00 03 00 00 00",
                      "no message can be made for a parameter type that cannot be decoded", "", ""},
        MalformedCase{"UndecodableReturnType", RETURN + "01 " + z("char[]") + "00 00 00 00", UNANALYSABLE, "", ""},
        MalformedCase{"UndecodableExceptionType", EXCEPTION + "01 " + z("CJString2") + z("x"), UNANALYSABLE, "", ""},
        MalformedCase{"NullObject", HEADER + "01 00 FF", nullptr, std::string(CALL_TEXT) + "OBJECTPARAM ]", "NULL"},
        MalformedCase{"ValueWithSurplusBytes", HEADER + "01 " + z("CBool") + "01 77 77", nullptr,
                      std::string(CALL_TEXT) + "OBJECTPARAM ]", "CBool 01"},
        // Stored forms that run past the end of the block.
        MalformedCase{"StringWithoutNul", HEADER + "01 " + z("CJString") + "41 42 43",
                      "stored form of the CJString argument runs past the end", "", ""},
        MalformedCase{"IntegerCut", HEADER + "01 " + z("CInteger") + "01 02 03",
                      "stored form of the CInteger argument runs past the end", "", ""},
        MalformedCase{"BoolMissing", HEADER + "01 " + z("CBool"), "stored form of the CBool argument runs past the end",
                      "", ""},
        MalformedCase{"BufferValueLongerThanBlock", HEADER + "01 " + z("CBuffer") + "05 00 00 00 01 02 03 04",
                      "stored form of the CBuffer argument runs past the end", "", ""},
        MalformedCase{"BufferValueHugeLength", HEADER + "01 " + z("CBuffer") + "FF FF FF FF 01 02 03 04",
                      "stored form of the CBuffer argument runs past the end", "", ""},
        MalformedCase{"ExceptionTextWithoutNul", EXCEPTION + "01 " + z("CJException") + "6E 6F",
                      "stored form of the CJException argument runs past the end", "", ""},
        MalformedCase{"ReturnValueCut", RETURN + "01 " + z("CInteger") + "2A",
                      "stored form of the CInteger argument runs past the end", "", ""},
        // Byte buffers.
        MalformedCase{"BufferExact", HEADER + "01 " + z("char[]") + "03 00 00 00 0A 0B 0C", nullptr,
                      std::string(CALL_TEXT) + "BUFFERPARAM ]", "0A 0B 0C"},
        MalformedCase{"BufferLongerThanDeclared", HEADER + "01 " + z("char[]") + "03 00 00 00 0A 0B 0C 0D 0E 0F",
                      nullptr, std::string(CALL_TEXT) + "BUFFERPARAM ]", "0A 0B 0C"},
        MalformedCase{"BufferShorterThanDeclared", HEADER + "01 " + z("char[]") + "03 00 00 00 0A 0B",
                      "the buffer argument is shorter than declared: bufsize=3 sum=14 remaining=13", "", ""},
        MalformedCase{"BufferHugeCount", HEADER + "01 " + z("char[]") + "FF FF FF FF 0A 0B 0C",
                      "shorter than declared: bufsize=4294967295 sum=4294967306 remaining=14", "", ""},
        MalformedCase{"BufferCountCut", HEADER + "01 " + z("char[]") + "03 00",
                      "the byte count of the buffer argument is cut short", "", ""}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return std::string(info.param.name); });

TEST(MalformedBlock, LongerBufferIsReportedButAccepted)
{
    TraceCapture trace;
    std::vector<MessagePtr> decoded =
        CodecHarness::decodeAll({bytesOf(HEADER + "01 " + z("char[]") + "03 00 00 00 0A 0B 0C 0D 0E 0F")});
    ASSERT_EQ(1u, decoded.size());
    EXPECT_EQ(1, trace.count("ERROR: [ CMethodCallMsgDecoder ] the sender declared less than it sent: bufsize=3"
                             " sum=14 remaining=17; the surplus is ignored"))
        << trace.text();
}

TEST(MalformedBlock, UndecodableTypeReportsTwoErrors)
{
    TraceCapture trace;
    CodecHarness::decodeAll({bytesOf(HEADER + "01 " + z("Foo") + "00")});
    EXPECT_EQ(2, trace.count("ERROR: [ CMethodCallMsgDecoder ]")) << trace.text();
    EXPECT_EQ(1, trace.count("the block cannot be analysed: method=[m] paramCount=[1]"));
}

TEST(MalformedBlock, SeveralBadBlocksInARowAreAllSkipped)
{
    std::vector<Block> blocks = {bytesOf("01 42"), bytesOf(HEADER), bytesOf(HEADER + "05"), bytesOf(SENTINEL),
                                 bytesOf("01"), bytesOf(SENTINEL)};
    std::vector<MessagePtr> decoded = CodecHarness::decodeAll(blocks);
    ASSERT_EQ(2u, decoded.size());
    EXPECT_EQ("sentinel", decoded[0]->getMethodName());
    EXPECT_EQ("sentinel", decoded[1]->getMethodName());
}

} // namespace
