#pragma once
// Every way the server parses a packet's data part, for the robustness test to run over
// corrupted bytes. Each parser reads only inside (data, length) and may fail anywhere; the
// test checks that none crashes or reads past the end.
#include <windows.h>

#include <functional>
#include <vector>

struct DataPartParser {
    const char* name;
    std::function<void(const BYTE* data, DWORD length)> parse;
    // False for a parser that runs only on each input's data part as it stands: answering a
    // request takes the database lock, which costs a system call each time under Wine.
    bool everywhere = true;
};

const std::vector<DataPartParser>& dataPartParsers();
