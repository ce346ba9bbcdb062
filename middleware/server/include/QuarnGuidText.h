#pragma once
// Node identities as text: the braced form with upper-case digits that names a node in the
// lookup root and in paths ("{0A1B2C3D-...}", 38 characters). Parsing accepts that form only
// (either case of digits): never a ProgID, never another layout.
#include <windows.h>

#include <string>

constexpr size_t QUARN_GUID_TEXT_LENGTH = 38;

// The GUID written in length characters of text; false when they are not exactly a braced GUID.
bool ParseBracedGuid(const WCHAR* text, size_t length, GUID& guid);
// The braced upper-case text of the GUID.
std::wstring FormatBracedGuid(const GUID& guid);
