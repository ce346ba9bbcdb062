// A second process for the process utilities' tests.
//   tavutility_child READY_EVENT END_EVENT PATH_FILE
// Gives itself a process GUID and temp folder, puts a file and a sub-folder in the folder,
// writes the folder's path to PATH_FILE, signals READY_EVENT and waits (at most a minute) for
// END_EVENT; then it ends normally, which removes its own folder. A test may kill it instead.
#include "CTavUtility.h"
#include "CTrace.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool writeFile(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: tavutility_child READY_EVENT END_EVENT PATH_FILE\n");
        return 2;
    }
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
    if (ready == NULL || end == NULL) {
        fprintf(stderr, "cannot open the events: %lu\n", GetLastError());
        return 2;
    }
    CTrace::setThreadName("CHILD");
    CTavUtility utility;
    char folder[MAX_PATH + 1];
    if (!CTavUtility::getTavTempPath(sizeof(folder), folder))
        return 4;
    std::string base = folder;
    CreateDirectoryA((base + "sub").c_str(), NULL);
    if (!writeFile(base + "work.txt", "work") || !writeFile(base + "sub\\inner.txt", "inner"))
        return 5;
    if (!writeFile(argv[3], base))
        return 6;
    SetEvent(ready);
    DWORD waited = WaitForSingleObject(end, 60000);
    CloseHandle(ready);
    CloseHandle(end);
    return waited == WAIT_OBJECT_0 ? 0 : 7;
}
