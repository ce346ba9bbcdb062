#pragma once
// A fresh folder that is the server's temporary folder for the object's life (the TMP and TEMP
// variables point to it), so that a test sees exactly the temporary files the server made.
#include "TestSupport.h"

#include <string>
#include <vector>

class ServerTempFolder {
public:
    ServerTempFolder();
    ~ServerTempFolder();
    ServerTempFolder(const ServerTempFolder&) = delete;
    ServerTempFolder& operator=(const ServerTempFolder&) = delete;

    // Ends in a backslash.
    std::string path() const { return dir_.path() + "\\"; }
    // The names of the files matching "QUARN*.TMP" in it, sorted.
    std::vector<std::string> quarnFiles() const;
    // Every file in it.
    std::vector<std::string> allFiles() const;

private:
    TempDir dir_;
    std::string tmp_;
    std::string temp_;
};

// A new file with these bytes.
void writeFileBytes(const std::wstring& file, const std::vector<unsigned char>& bytes);
std::vector<unsigned char> readFileBytes(const std::wstring& file);
bool fileExists(const std::wstring& file);
// A file of size bytes that takes no room (its bytes read as zeros).
bool makeSparseFile(const std::wstring& file, unsigned long long size);
// size bytes of a pattern that differs from chunk to chunk.
std::vector<unsigned char> patternBytes(size_t size, unsigned seed = 1);
