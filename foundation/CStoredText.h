#pragma once
// The stored form shared by texts and exception messages: the characters, then one NUL.
#include <string>

class CStoredText {
public:
    static unsigned size(const std::string& text);
    static void store(const std::string& text, void* destination);
    // Takes the text up to the first NUL within length bytes; false (text unchanged,
    // consumed 0) when there is no NUL inside the block.
    static bool restore(const void* source, unsigned length, unsigned* consumed, std::string* text);
};
