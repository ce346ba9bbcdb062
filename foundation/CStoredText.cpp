#include "CStoredText.h"

#include <cstring>

unsigned CStoredText::size(const std::string& text)
{
    return static_cast<unsigned>(text.size()) + 1;
}

void CStoredText::store(const std::string& text, void* destination)
{
    memcpy(destination, text.c_str(), text.size() + 1);
}

bool CStoredText::restore(const void* source, unsigned length, unsigned* consumed, std::string* text)
{
    if (consumed != nullptr)
        *consumed = 0;
    if (source == nullptr)
        return false;
    const char* bytes = static_cast<const char*>(source);
    const void* nul = memchr(bytes, 0, length);
    if (nul == nullptr)
        return false;
    size_t textLength = static_cast<const char*>(nul) - bytes;
    text->assign(bytes, textLength);
    if (consumed != nullptr)
        *consumed = static_cast<unsigned>(textLength) + 1;
    return true;
}
