// Node identities as text: only the braced GUID form names a node.
#include "QuarnGuidText.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

const GUID NODE = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};

TEST(QuarnGuidText, TheBracedFormIsTheOnlyOneAccepted)
{
    struct Case {
        const wchar_t* text;
        bool accepted;
    } cases[] = {
        {L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", true},
        {L"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", true},
        {L"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", false},
        {L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", false},
        {L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}}", false},
        {L"{0A1B2C3D4E5F-6071-8293-A4B5C6D7E8F9-}", false},
        {L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", false},
        {L"{+A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", false},
        {L"{ A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", false},
        {L"Quarnhost.QuarnSrv", false},
        {L"{Quarnhost.QuarnSrv}", false},
        {L"", false},
    };
    for (const Case& c : cases) {
        GUID parsed = {};
        EXPECT_EQ(ParseBracedGuid(c.text, wcslen(c.text), parsed), c.accepted) << c.text;
        if (c.accepted) {
            EXPECT_TRUE(IsEqualGUID(parsed, NODE)) << c.text;
        }
    }
    GUID parsed;
    EXPECT_FALSE(ParseBracedGuid(nullptr, 38, parsed));
    // Only the characters given count.
    EXPECT_FALSE(ParseBracedGuid(L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", 37, parsed));
}

TEST(QuarnGuidText, TheTextIsUpperCaseAndReadsBack)
{
    std::wstring text = FormatBracedGuid(NODE);
    EXPECT_EQ(text, L"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    GUID parsed;
    ASSERT_TRUE(ParseBracedGuid(text.c_str(), text.size(), parsed));
    EXPECT_TRUE(IsEqualGUID(parsed, NODE));
}

} // namespace
