#include "ContentFiles.h"

#include "PictureFiles.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace ContentFiles {

namespace {

const char FIXTURE_PROGRAM[] = "content_icon_fixture.exe";

std::string besideThisProgram(const char* name)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string own(path, length);
    return own.substr(0, own.find_last_of('\\') + 1) + name;
}

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

// An icon image as a resource holds it: the header (twice the height, for the mask), the
// colour rows bottom first, then the transparency mask (all opaque).
std::vector<unsigned char> iconImage()
{
    const int side = 32;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = side;
    header.biHeight = 2 * side;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    std::vector<unsigned char> bytes(sizeof header);
    std::memcpy(bytes.data(), &header, sizeof header);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            bytes.push_back(static_cast<unsigned char>(x * 8));         // blue
            bytes.push_back(static_cast<unsigned char>(y * 8));         // green
            bytes.push_back(static_cast<unsigned char>((x ^ y) * 8));   // red
            bytes.push_back(255);                                       // alpha
        }
    bytes.insert(bytes.end(), side * 4, 0);
    return bytes;
}

bool copyFixture(const std::string& path)
{
    return CopyFileA(besideThisProgram(FIXTURE_PROGRAM).c_str(), path.c_str(), FALSE) != 0;
}

} // namespace

std::string picture(const std::string& folder, const std::string& name)
{
    return PictureFiles::writeIn(folder, name, PictureFiles::bmp24(640, 480, [](int x, int y) {
        return Rgb{static_cast<unsigned char>(x / 3), static_cast<unsigned char>(y / 2),
                   static_cast<unsigned char>((x / 80 + y / 60) % 2 == 0 ? 200 : 40)};
    }));
}

std::string programWithIcon(const std::string& folder, const std::string& name)
{
    std::string path = folder + "\\" + name;
    if (!copyFixture(path))
        return std::string();
    std::vector<unsigned char> image = iconImage();
    std::vector<unsigned char> group(sizeof(GroupIconHeader) + sizeof(GroupIconEntry));
    GroupIconHeader header = {0, 1, 1};
    GroupIconEntry entry = {32, 32, 0, 0, 1, 32, static_cast<DWORD>(image.size()), 1};
    std::memcpy(group.data(), &header, sizeof header);
    std::memcpy(group.data() + sizeof header, &entry, sizeof entry);
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    if (update == nullptr)
        return std::string();
    WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    bool added = UpdateResourceA(update, RT_ICON, MAKEINTRESOURCEA(1), language, image.data(),
                                 static_cast<DWORD>(image.size()))
                 && UpdateResourceA(update, RT_GROUP_ICON, MAKEINTRESOURCEA(1), language, group.data(),
                                    static_cast<DWORD>(group.size()));
    if (!EndUpdateResourceA(update, added ? FALSE : TRUE) || !added)
        return std::string();
    return path;
}

std::string programWithoutIcon(const std::string& folder, const std::string& name)
{
    std::string path = folder + "\\" + name;
    return copyFixture(path) ? path : std::string();
}

std::string text(const std::string& folder, const std::string& name)
{
    const char words[] = "a few words\r\n";
    return PictureFiles::writeIn(folder, name, std::vector<unsigned char>(words, words + sizeof words - 1));
}

std::string brokenJpeg(const std::string& folder, const std::string& name)
{
    std::vector<unsigned char> bytes = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
    for (int i = 0; i < 500; ++i)
        bytes.push_back(static_cast<unsigned char>(i * 37 + 11));
    return PictureFiles::writeIn(folder, name, bytes);
}

} // namespace ContentFiles
