#include "PeerIo.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::mutex g_logLock;
}

void PeerIo::log(const char* format, ...)
{
    std::lock_guard<std::mutex> hold(g_logLock);
    va_list args;
    va_start(args, format);
    std::printf("%llu ", static_cast<unsigned long long>(GetTickCount64()));
    std::vprintf(format, args);
    std::putchar('\n');
    std::fflush(stdout);
    va_end(args);
}

std::string PeerIo::path(const std::string& dir, const std::string& name)
{
    return dir + "/" + name;
}

bool PeerIo::waitFile(const std::string& file, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(50);
    }
    return false;
}

std::string PeerIo::readFile(const std::string& file)
{
    std::string text;
    FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

bool PeerIo::writeFile(const std::string& file, const std::string& text)
{
    std::string part = file + ".part";
    FILE* f = std::fopen(part.c_str(), "wb");
    if (f == nullptr)
        return false;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return MoveFileExA(part.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
