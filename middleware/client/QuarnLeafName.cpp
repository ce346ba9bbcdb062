#include "QuarnLeafName.h"

#include <cctype>

namespace {

// Device names are reserved in every folder and with any extension.
bool isDeviceName(const std::string& leaf)
{
    std::string stem = leaf.substr(0, leaf.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* name : fixed)
        if (stem == name)
            return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0)
           && stem[3] >= '0' && stem[3] <= '9';
}

void trimTail(std::string& leaf)
{
    while (!leaf.empty() && (leaf.back() == '.' || leaf.back() == ' '))
        leaf.pop_back();
}

} // namespace

std::string quarnLeafName(const std::string& nickname)
{
    size_t cut = nickname.find_last_of("\\/");
    std::string leaf = cut == std::string::npos ? nickname : nickname.substr(cut + 1);
    // "C:x" names x on drive C; "x:stream" is a stream of x.
    if (leaf.size() >= 2 && leaf[1] == ':' && std::isalpha(static_cast<unsigned char>(leaf[0])))
        leaf.erase(0, 2);
    leaf = leaf.substr(0, leaf.find(':'));
    for (char& c : leaf) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            c = '_';
    }
    if (leaf.size() > QUARN_LEAF_NAME_MAX)
        leaf.resize(QUARN_LEAF_NAME_MAX);
    trimTail(leaf);
    if (leaf.empty() || isDeviceName(leaf))
        return std::string();
    return leaf;
}
