#include "QuarnGuidText.h"

#include <cstdio>

namespace {

int hexValue(WCHAR c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return -1;
}

// count hexadecimal digits at text into value; false at any other character.
bool readHex(const WCHAR* text, int count, unsigned long long& value)
{
    value = 0;
    for (int i = 0; i < count; ++i) {
        int digit = hexValue(text[i]);
        if (digit < 0)
            return false;
        value = (value << 4) | static_cast<unsigned>(digit);
    }
    return true;
}

} // namespace

bool ParseBracedGuid(const WCHAR* text, size_t length, GUID& guid)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text == nullptr || length != QUARN_GUID_TEXT_LENGTH || text[0] != L'{' || text[37] != L'}' || text[9] != L'-'
        || text[14] != L'-' || text[19] != L'-' || text[24] != L'-')
        return false;
    unsigned long long data1, data2, data3, clock, node;
    if (!readHex(text + 1, 8, data1) || !readHex(text + 10, 4, data2) || !readHex(text + 15, 4, data3)
        || !readHex(text + 20, 4, clock) || !readHex(text + 25, 12, node))
        return false;
    guid.Data1 = static_cast<unsigned long>(data1);
    guid.Data2 = static_cast<unsigned short>(data2);
    guid.Data3 = static_cast<unsigned short>(data3);
    guid.Data4[0] = static_cast<unsigned char>(clock >> 8);
    guid.Data4[1] = static_cast<unsigned char>(clock);
    for (int i = 0; i < 6; ++i)
        guid.Data4[2 + i] = static_cast<unsigned char>(node >> (40 - 8 * i));
    return true;
}

std::wstring FormatBracedGuid(const GUID& guid)
{
    wchar_t text[QUARN_GUID_TEXT_LENGTH + 1];
    swprintf(text, QUARN_GUID_TEXT_LENGTH + 1, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
             guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}
