#include "ShareFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

std::string g_share;

std::string sharePath(const std::string& name) { return g_share + "\\" + name; }

void writeShare(const std::string& name, const std::string& text)
{
    std::ofstream(sharePath(name) + ".tmp", std::ios::binary) << text;
    MoveFileExA((sharePath(name) + ".tmp").c_str(), sharePath(name).c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool readShare(const std::string& name, std::string& text, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        std::ifstream in(sharePath(name), std::ios::binary);
        if (in) {
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            return true;
        }
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    return false;
}

bool cue(const std::string& name, DWORD timeoutMs, bool reportTimeout)
{
    writeShare("cue." + name, "");
    std::string done;
    if (readShare("done." + name, done, timeoutMs))
        return true;
    if (reportTimeout)
        ADD_FAILURE() << "cue " << name << " was not done";
    return false;
}

void announceHost(const std::string& self, const std::string& node)
{
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof(computer);
    GetComputerNameA(computer, &size);
    writeShare(self + ".name", computer);
    writeShare(self + ".ready", node);
}

void initGoogleTestWithShare(int& argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc >= 2)
        g_share = argv[1];
}
