#pragma once
// Every way the server parses a packet's data part, for the robustness test to run over
// corrupted bytes. Each parser reads only inside (data, length) and may fail anywhere; the
// test checks that none crashes or reads past the end. Parsers of later packet kinds (the
// directory replies, the file-transfer requests) are added to the list here.
#include <windows.h>

#include <functional>
#include <vector>

struct DataPartParser {
    const char* name;
    std::function<void(const BYTE* data, DWORD length)> parse;
};

const std::vector<DataPartParser>& dataPartParsers();
