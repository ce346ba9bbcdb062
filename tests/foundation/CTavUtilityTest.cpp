#include "CTavUtility.h"

#include "CDiskFullException.h"
#include "CWinApp.h"
#include "CWinThread.h"
#include "CWnd.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::regex GUID_FORM("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
const char NOT_ASSOCIATED[] = "Cannot execute this file since the file type is not associated \nwith any application. ";

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

// The content of a file, "<missing>" when there is none.
std::string readFile(const std::string& path)
{
    return exists(path) ? fileBytes(path) : "<missing>";
}

// Names in a folder, without "." and "..", sorted.
std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::string besideThisProgram(const std::string& name)
{
    char program[MAX_PATH];
    GetModuleFileNameA(NULL, program, sizeof(program));
    std::string path = program;
    return path.substr(0, path.find_last_of('\\') + 1) + name;
}

std::string tempFolder()
{
    char buffer[MAX_PATH + 1];
    EXPECT_TRUE(CTavUtility::getTavTempPath(sizeof(buffer), buffer));
    return buffer;
}

// The GUID that names a process temp folder (which ends with a backslash).
std::string guidOf(const std::string& folder)
{
    return folder.size() < 37 ? std::string() : folder.substr(folder.size() - 37, 36);
}

// The utility works under the user's temporary path: each test gives it a private one, so no
// folder of a real user's processes is ever seen or touched.
class PrivateTemp {
public:
    explicit PrivateTemp(const std::string& tail = "tmp")
    {
        saved_[0] = save("TMP");
        saved_[1] = save("TEMP");
        temp_ = dir_.path() + "\\" + tail + "\\";
        CreateDirectoryA(temp_.c_str(), NULL);
        SetEnvironmentVariableA("TMP", temp_.c_str());
        SetEnvironmentVariableA("TEMP", temp_.c_str());
    }
    ~PrivateTemp()
    {
        restore("TMP", saved_[0]);
        restore("TEMP", saved_[1]);
    }

    const TempDir& dir() const { return dir_; }
    const std::string& temp() const { return temp_; }
    std::string product() const { return temp_ + "Tavelin\\"; }

private:
    struct Saved {
        bool present;
        std::string value;
    };
    static Saved save(const char* name)
    {
        char value[32768];
        DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
        return {length > 0 && length < sizeof(value), std::string(value, length < sizeof(value) ? length : 0)};
    }
    static void restore(const char* name, const Saved& saved)
    {
        SetEnvironmentVariableA(name, saved.present ? saved.value.c_str() : NULL);
    }

    TempDir dir_;
    std::string temp_;
    Saved saved_[2];
};

// Puts the copy seam back whatever the test does.
class CopySeam {
public:
    explicit CopySeam(CTavUtility::CopyFunction copy) : previous_(CTavUtility::setCopyFunction(copy)) {}
    ~CopySeam() { CTavUtility::setCopyFunction(previous_); }

private:
    CTavUtility::CopyFunction previous_;
};

// Another process with a process utility object of its own (tavutility_child): it makes its
// temp folder, then waits to be ended; the destructor kills it when it still runs.
class UtilityChild {
public:
    UtilityChild(const TempDir& dir, int number)
    {
        std::string tag = "TavUtilityTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(number);
        ready_ = CreateEventA(NULL, TRUE, FALSE, (tag + "-ready").c_str());
        end_ = CreateEventA(NULL, TRUE, FALSE, (tag + "-end").c_str());
        pathFile_ = dir.file("child-" + std::to_string(number) + ".path");
        std::string program = besideThisProgram("tavutility_child.exe");
        std::string commandLine = "\"" + program + "\" " + tag + "-ready " + tag + "-end \"" + pathFile_ + "\"";
        // The child inherits this process's environment, the private temporary path with it.
        process_ = startProcess(program, commandLine, dir.path(), dir.file("child-" + std::to_string(number) + ".txt"));
    }

    ~UtilityChild()
    {
        if (process_ != NULL)
            kill();
        CloseHandle(ready_);
        CloseHandle(end_);
    }

    // The child's temp folder; empty when it did not make one within the time.
    std::string folder()
    {
        if (process_ == NULL)
            return std::string();
        HANDLE waitFor[] = {ready_, process_};
        if (WaitForMultipleObjects(2, waitFor, FALSE, 30000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the child did not make its folder";
            return std::string();
        }
        return readFile(pathFile_);
    }

    // Lets the child end normally; its exit code, -1 when it did not end in time.
    int end()
    {
        SetEvent(end_);
        DWORD code = static_cast<DWORD>(-1);
        if (process_ != NULL && WaitForSingleObject(process_, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_, &code);
        else
            kill();
        close();
        return static_cast<int>(code);
    }

    void kill()
    {
        if (process_ == NULL)
            return;
        TerminateProcess(process_, 9);
        WaitForSingleObject(process_, 30000);
        close();
    }

private:
    void close()
    {
        if (process_ != NULL)
            CloseHandle(process_);
        process_ = NULL;
    }

    HANDLE process_ = NULL;
    HANDLE ready_;
    HANDLE end_;
    std::string pathFile_;
};

// Runs a Unix program under Wine, which starts such programs as they are. Neither their exit
// code nor their end comes back: callers wait for the outcome.
void runUnix(const std::string& commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

bool isLinkNow(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Polls for at most five seconds.
bool becomes(bool expected, const std::string& link)
{
    for (int i = 0; i < 50; ++i) {
        if (isLinkNow(link) == expected)
            return true;
        Sleep(100);
    }
    return false;
}

std::string unixPath(const std::string& path)
{
    using Converter = char* (*)(LPCWSTR);
    auto convert = reinterpret_cast<Converter>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr)
        return std::string();
    std::wstring wide(path.begin(), path.end());
    char* converted = convert(wide.c_str());
    if (converted == nullptr)
        return std::string();
    std::string result = converted;
    HeapFree(GetProcessHeap(), 0, converted);
    return result;
}

// A directory link at link (which must not exist) to target, made as a Unix symbolic link,
// which Wine shows as a reparse point. False where that cannot be done.
bool makeDirectoryLink(const std::string& link, const std::string& target)
{
    size_t split = link.find_last_of('\\');
    std::string unixParent = unixPath(link.substr(0, split));
    std::string unixTarget = unixPath(target);
    if (unixParent.empty() || unixTarget.empty())
        return false;
    runUnix("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixParent + "/" + link.substr(split + 1) + "\"");
    return becomes(true, link);
}

void removeLink(const std::string& link)
{
    if (RemoveDirectoryA(link.c_str()))
        return;
    std::string path = unixPath(link);
    if (!path.empty())
        runUnix("Z:\\bin\\rm -f \"" + path + "\"");
    EXPECT_TRUE(becomes(false, link)) << link;
}

// ---- Identity and the process temp folder --------------------------------------------------

TEST(TavUtility, ProcessFolderIsNamedByTheProcessGuidAndItsMutexIsHeld)
{
    PrivateTemp temp;
    CTavUtility utility;
    std::string folder = tempFolder();
    ASSERT_EQ(temp.product().size() + 37, folder.size()) << folder;
    EXPECT_EQ(temp.product(), folder.substr(0, temp.product().size()));
    EXPECT_EQ('\\', folder.back());
    std::string guid = guidOf(folder);
    EXPECT_TRUE(std::regex_match(guid, GUID_FORM)) << guid;
    EXPECT_TRUE(isFolder(folder));
    EXPECT_EQ(folder, tempFolder());

    // Another thread (as another process would) finds the mutex of that name owned.
    DWORD seen = 0;
    Worker other;
    other.run([&] {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, guid.c_str());
        if (mutex == NULL)
            return;
        seen = WaitForSingleObject(mutex, 0);
        CloseHandle(mutex);
    });
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), seen);
}

TEST(TavUtility, DestructionReleasesTheMutexAndRemovesTheOwnFolder)
{
    PrivateTemp temp;
    std::string folder;
    {
        CTavUtility utility;
        folder = tempFolder();
        writeFile(folder + "a.txt", "a");
        CreateDirectoryA((folder + "d").c_str(), NULL);
        writeFile(folder + "d\\b.txt", "b");
    }
    EXPECT_FALSE(exists(folder));
    EXPECT_TRUE(isFolder(temp.product()));
    EXPECT_EQ(nullptr, OpenMutexA(SYNCHRONIZE, FALSE, guidOf(folder).c_str()));
}

TEST(TavUtility, NewGuidStringsAreDistinctGuidTexts)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string guid = CTavUtility::newGuidString();
        EXPECT_TRUE(std::regex_match(guid, GUID_FORM)) << guid;
        seen.insert(guid);
    }
    EXPECT_EQ(100u, seen.size());
}

TEST(TavUtility, TempPathMustFitTheBufferWithItsTerminator)
{
    PrivateTemp temp;
    CTavUtility utility;
    std::string folder = tempFolder();
    std::vector<char> buffer(folder.size() + 1, 'x');
    EXPECT_FALSE(CTavUtility::getTavTempPath(static_cast<DWORD>(folder.size()), buffer.data()));
    EXPECT_EQ('x', buffer[0]);
    EXPECT_TRUE(CTavUtility::getTavTempPath(static_cast<DWORD>(folder.size() + 1), buffer.data()));
    EXPECT_EQ(folder, std::string(buffer.data()));
}

TEST(TavUtility, TempFolderThatCannotBeMadeStopsTheProcess)
{
    if (isChild()) {
        childTracesToFile(false);
        char current[MAX_PATH];
        GetCurrentDirectoryA(sizeof(current), current);
        std::string missing = std::string(current) + "\\missing\\deeper\\";
        SetEnvironmentVariableA("TMP", missing.c_str());
        SetEnvironmentVariableA("TEMP", missing.c_str());
        CTavUtility utility;
        char buffer[MAX_PATH + 1];
        CTavUtility::getTavTempPath(sizeof(buffer), buffer);
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    std::string log = dir.logBytes();
    EXPECT_NE(std::string::npos, log.find("FATAL ERROR: [ CTavUtility ] cannot create the folder ")) << log;
}

TEST(TavUtility, PathsLongerThanTheBuffersFailCleanly)
{
    std::string source;
    std::string result = "unchanged";
    {
        // A temporary path so long that the process folder would not fit a path buffer.
        PrivateTemp temp(std::string(200, 'L'));
        source = temp.dir().file("source.txt");
        writeFile(source, "data");
        CTavUtility utility;
        char buffer[MAX_PATH + 1];
        EXPECT_FALSE(CTavUtility::getTavTempPath(sizeof(buffer), buffer));
        EXPECT_FALSE(CTavUtility::createTempFile(&result, "a.txt", "", false));
        EXPECT_FALSE(CTavUtility::copyToTempFile(source, &result, "a.txt"));
        EXPECT_FALSE(exists(temp.product()));
    }
    {
        PrivateTemp temp;
        source = temp.dir().file("source.txt");
        writeFile(source, "data");
        CTavUtility utility;
        std::string folder = tempFolder();
        std::string longName(300, 'n');
        EXPECT_EQ("", CTavUtility::makeUniquePath(folder, longName));
        EXPECT_EQ("", CTavUtility::makeUniquePath(std::string(600, 'f'), "a.txt"));
        EXPECT_FALSE(CTavUtility::createTempFile(&result, longName, "", false));
        EXPECT_FALSE(CTavUtility::createTempFile(&result, longName, "", true));
        EXPECT_FALSE(CTavUtility::createTempFile(&result, "a.txt", longName, false));
        EXPECT_FALSE(CTavUtility::copyToTempFile(source, &result, longName));
        EXPECT_EQ("unchanged", result);
        EXPECT_EQ(std::vector<std::string>(), namesIn(folder));
    }
}

// ---- Names, copies and temp files -----------------------------------------------------------

TEST(TavUtility, MakeUniquePathTakesTheFirstFreeCopyNameAndClaimsIt)
{
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> folders;
        std::string expected;
    };
    const Case cases[] = {
        {{}, {}, "Name.txt"},
        {{"Name.txt"}, {}, "copy (1) Name.txt"},
        {{"Name.txt", "copy (1) Name.txt"}, {}, "copy (2) Name.txt"},
        {{"Name.txt", "copy (2) Name.txt"}, {}, "copy (1) Name.txt"},
        {{}, {"Name.txt"}, "copy (1) Name.txt"},
    };
    TempDir dir;
    int number = 0;
    for (const Case& c : cases) {
        std::string folder = dir.file("case" + std::to_string(number++));
        CreateDirectoryA(folder.c_str(), NULL);
        for (const std::string& file : c.files)
            writeFile(folder + "\\" + file, "old");
        for (const std::string& sub : c.folders)
            CreateDirectoryA((folder + "\\" + sub).c_str(), NULL);
        std::string path = CTavUtility::makeUniquePath(folder, "Name.txt");
        EXPECT_EQ(folder + "\\" + c.expected, path);
        EXPECT_EQ("", readFile(path)) << "the path is claimed by an empty file";
        for (const std::string& file : c.files)
            EXPECT_EQ("old", readFile(folder + "\\" + file));
    }
}

TEST(TavUtility, CopyNamesComeFromTheResourceModule)
{
    EXPECT_EQ("copy (1) ", CTavUtility::makeCopyName(1));
    EXPECT_EQ("copy (12) ", CTavUtility::makeCopyName(12));
    HMODULE texts = LoadLibraryExA(besideThisProgram("tavutility_child.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, texts);
    AfxSetResourceHandle(texts);
    EXPECT_EQ("Kopie 3 - ", CTavUtility::makeCopyName(3));
    AfxSetResourceHandle(nullptr);
    FreeLibrary(texts);
}

TEST(TavUtility, CopiesOfOneNameAtOnceNeverOverwriteEachOther)
{
    PrivateTemp temp;
    CTavUtility utility;
    const int THREADS = 8;
    const int COPIES = 10;
    std::vector<std::string> sources;
    for (int t = 0; t < THREADS; ++t) {
        sources.push_back(temp.dir().file("source" + std::to_string(t)));
        writeFile(sources.back(), "content " + std::to_string(t));
    }
    std::vector<std::vector<std::string>> results(THREADS);
    HANDLE start = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            WaitForSingleObject(start, 10000);
            for (int c = 0; c < COPIES; ++c) {
                std::string result;
                if (CTavUtility::copyToTempFile(sources[t], &result, "same.txt"))
                    results[t].push_back(result);
            }
        });
    }
    SetEvent(start);
    for (std::thread& thread : threads)
        thread.join();
    CloseHandle(start);

    std::string folder = tempFolder();
    std::set<std::string> paths;
    for (int t = 0; t < THREADS; ++t) {
        EXPECT_EQ(static_cast<size_t>(COPIES), results[t].size());
        for (const std::string& path : results[t]) {
            paths.insert(path);
            EXPECT_EQ("content " + std::to_string(t), readFile(path)) << path;
        }
    }
    std::vector<std::string> expected = {"same.txt"};
    for (int n = 1; n < THREADS * COPIES; ++n)
        expected.push_back("copy (" + std::to_string(n) + ") same.txt");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(static_cast<size_t>(THREADS * COPIES), paths.size());
    EXPECT_EQ(expected, namesIn(folder));
}

TEST(TavUtility, CreateTempFile)
{
    struct Case {
        const char* label;
        std::string name;
        std::string subFolder;
        bool unique;
        std::string existing; // relative path of a file holding "kept", or empty
        std::string expected; // relative path of the result; empty: the call fails
        std::string content;
    };
    const Case cases[] = {
        {"new file", "note.txt", "", false, "", "note.txt", ""},
        {"existing file kept", "note.txt", "", false, "note.txt", "note.txt", "kept"},
        {"unique beside an existing file", "note.txt", "", true, "note.txt", "copy (1) note.txt", ""},
        {"in a sub-folder", "note.txt", "17", false, "", "17\\note.txt", ""},
        {"existing in a sub-folder", "note.txt", "17", false, "17\\note.txt", "17\\note.txt", "kept"},
        {"unique in a sub-folder", "note.txt", "17", true, "17\\note.txt", "17\\copy (1) note.txt", ""},
        {"name climbing out", "..\\escape.txt", "", false, "", "", ""},
        {"unique name climbing out", "..\\escape.txt", "", true, "", "", ""},
        {"name with a slash", "a/escape.txt", "", false, "", "", ""},
        {"sub-folder climbing out", "escape.txt", "..", false, "", "", ""},
        {"sub-folder with a drive", "escape.txt", "C:", false, "", "", ""},
    };
    PrivateTemp temp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        CTavUtility utility; // a fresh folder for each case
        std::string folder = tempFolder();
        if (!c.existing.empty()) {
            CreateDirectoryA((folder + c.subFolder).c_str(), NULL);
            writeFile(folder + c.existing, "kept");
        }
        std::string result = "unchanged";
        bool made = CTavUtility::createTempFile(&result, c.name, c.subFolder, c.unique);
        if (c.expected.empty()) {
            EXPECT_FALSE(made);
            EXPECT_EQ("unchanged", result);
            continue;
        }
        EXPECT_TRUE(made);
        EXPECT_EQ(folder + c.expected, result);
        EXPECT_EQ(c.content, readFile(result));
        if (!c.existing.empty()) {
            EXPECT_EQ("kept", readFile(folder + c.existing));
        }
    }
    std::vector<std::string> outside = {"Tavelin"};
    EXPECT_EQ(outside, namesIn(temp.temp())) << "nothing was made outside the process folders";
    EXPECT_EQ(std::vector<std::string>(), namesIn(temp.product())) << "every case's folder went with its process";
}

TEST(TavUtility, CreateTempFileWithoutNameTakesASystemMadeName)
{
    PrivateTemp temp;
    CTavUtility utility;
    std::string folder = tempFolder();
    std::string first;
    std::string second;
    ASSERT_TRUE(CTavUtility::createTempFile(&first, "", "", false));
    ASSERT_TRUE(CTavUtility::createTempFile(&second, "", "sub", false));
    EXPECT_EQ(folder + "tmp", first.substr(0, folder.size() + 3));
    EXPECT_EQ(folder + "sub\\tmp", second.substr(0, folder.size() + 7));
    EXPECT_EQ("", readFile(first));
    EXPECT_EQ("", readFile(second));
}

TEST(TavUtility, CpyFileOverwritesAndClearsTheAttributes)
{
    TempDir dir;
    std::string source = dir.file("source.txt");
    std::string destination = dir.file("destination.txt");
    writeFile(source, "new");
    writeFile(destination, "old and longer");
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(CTavUtility::cpyFile(source, destination));
    EXPECT_EQ("new", readFile(destination));
    EXPECT_EQ(0u, GetFileAttributesA(destination.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);

    EXPECT_FALSE(CTavUtility::cpyFile(dir.file("missing.txt"), dir.file("other.txt")));
    EXPECT_FALSE(exists(dir.file("other.txt")));
}

TEST(TavUtility, CopyToTempFile)
{
    PrivateTemp temp;
    CTavUtility utility;
    std::string folder = tempFolder();
    std::string source = temp.dir().file("picture.png");
    writeFile(source, "picture");

    std::string first;
    std::string second;
    std::string unnamed;
    ASSERT_TRUE(CTavUtility::copyToTempFile(source, &first, "picture.png"));
    ASSERT_TRUE(CTavUtility::copyToTempFile(source, &second, "picture.png"));
    ASSERT_TRUE(CTavUtility::copyToTempFile(source, &unnamed, ""));
    EXPECT_EQ(folder + "picture.png", first);
    EXPECT_EQ(folder + "copy (1) picture.png", second);
    EXPECT_EQ(folder + "tmp", unnamed.substr(0, folder.size() + 3));
    for (const std::string& path : {first, second, unnamed})
        EXPECT_EQ("picture", readFile(path));

    // A failed copy leaves no file behind, named or not.
    std::string result = "unchanged";
    EXPECT_FALSE(CTavUtility::copyToTempFile(temp.dir().file("missing.png"), &result, "missing.png"));
    EXPECT_FALSE(CTavUtility::copyToTempFile(temp.dir().file("missing.png"), &result, ""));
    EXPECT_EQ("unchanged", result);
    EXPECT_EQ(3u, namesIn(folder).size());
}

DWORD s_failingError = 0;

BOOL WINAPI failingCopy(LPCSTR, LPCSTR, BOOL)
{
    SetLastError(s_failingError);
    return FALSE;
}

TEST(TavUtility, OnlyAFullDiskRaisesDiskFullException)
{
    struct Case {
        DWORD error;
        bool diskFull;
    };
    const Case cases[] = {{ERROR_DISK_FULL, true}, {ERROR_ACCESS_DENIED, false}, {ERROR_HANDLE_EOF, false}};
    PrivateTemp temp;
    CTavUtility utility;
    std::string folder = tempFolder();
    std::string source = temp.dir().file("source.txt");
    writeFile(source, "data");
    CopySeam seam(failingCopy);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        s_failingError = c.error;
        std::string result = "unchanged";
        if (c.diskFull) {
            EXPECT_THROW(CTavUtility::cpyFile(source, temp.dir().file("copy.txt")), CDiskFullException);
            EXPECT_THROW(CTavUtility::copyToTempFile(source, &result, "named.txt"), CDiskFullException);
            EXPECT_THROW(CTavUtility::copyToTempFile(source, &result, ""), CDiskFullException);
        } else {
            EXPECT_FALSE(CTavUtility::cpyFile(source, temp.dir().file("copy.txt")));
            EXPECT_FALSE(CTavUtility::copyToTempFile(source, &result, "named.txt"));
            EXPECT_FALSE(CTavUtility::copyToTempFile(source, &result, ""));
        }
        EXPECT_EQ("unchanged", result);
        EXPECT_EQ(std::vector<std::string>(), namesIn(folder)) << "claimed names are given back";
    }
}

// ---- Removing the folders of ended processes --------------------------------------------------

TEST(TavUtility, ProcessesKeepSeparateFoldersAndTheFlushRemovesOnlyThoseOfEndedOnes)
{
    PrivateTemp temp;
    UtilityChild ended(temp.dir(), 1);
    UtilityChild killed(temp.dir(), 2);
    UtilityChild running(temp.dir(), 3);
    std::string endedFolder = ended.folder();
    std::string killedFolder = killed.folder();
    std::string runningFolder = running.folder();
    ASSERT_FALSE(endedFolder.empty() || killedFolder.empty() || runningFolder.empty());
    std::set<std::string> distinct = {endedFolder, killedFolder, runningFolder};
    EXPECT_EQ(3u, distinct.size());
    for (const std::string& folder : distinct) {
        EXPECT_EQ(temp.product(), folder.substr(0, temp.product().size()));
        EXPECT_EQ("work", readFile(folder + "work.txt"));
    }

    // A process that ends normally takes its own folder along and leaves the others.
    EXPECT_EQ(0, ended.end());
    EXPECT_FALSE(exists(endedFolder));
    EXPECT_EQ("work", readFile(killedFolder + "work.txt"));
    EXPECT_EQ("work", readFile(runningFolder + "work.txt"));

    // A killed process's folder stays until a later run ends.
    killed.kill();
    EXPECT_TRUE(exists(killedFolder));
    std::string ownFolder;
    {
        CTavUtility utility;
        ownFolder = tempFolder();
    }
    EXPECT_FALSE(exists(ownFolder));
    EXPECT_FALSE(exists(killedFolder));
    EXPECT_EQ("work", readFile(runningFolder + "work.txt"));
    EXPECT_EQ("inner", readFile(runningFolder + "sub\\inner.txt"));

    EXPECT_EQ(0, running.end());
    EXPECT_EQ(std::vector<std::string>(), namesIn(temp.product()));
}

TEST(TavUtility, FlushTakesAnAbandonedMutexForAnEndedOwner)
{
    PrivateTemp temp;
    UtilityChild child(temp.dir(), 1);
    std::string folder = child.folder();
    ASSERT_FALSE(folder.empty());
    // A handle kept here keeps the mutex alive after its owner dies: it is then abandoned.
    HANDLE held = OpenMutexA(SYNCHRONIZE, FALSE, guidOf(folder).c_str());
    ASSERT_NE(nullptr, held);
    child.kill();
    CTavUtility::flushTempFiles();
    EXPECT_FALSE(exists(folder));
    CloseHandle(held);
}

TEST(TavUtility, FlushTouchesOnlyFoldersNamedLikeProcesses)
{
    PrivateTemp temp;
    std::string product = temp.product();
    CreateDirectoryA(product.c_str(), NULL);
    const std::string stale = "0123ABCD-0000-0000-0000-000000000000";
    const std::vector<std::string> keptFolders = {"notes", "abcdef01-0000-0000-0000-000000000000",
                                                  "ABCDEF01-0000-0000-0000-00000000000",
                                                  "ABCDEF01-0000-0000-0000-0000000000000"};
    const std::vector<std::string> keptFiles = {"readme.txt", "FEDCBA98-0000-0000-0000-000000000000"};
    for (const std::string& name : keptFolders) {
        CreateDirectoryA((product + name).c_str(), NULL);
        writeFile(product + name + "\\file.txt", "mine");
    }
    for (const std::string& name : keptFiles)
        writeFile(product + name, "mine");
    CreateDirectoryA((product + stale).c_str(), NULL);
    writeFile(product + stale + "\\file.txt", "stale");

    CTavUtility::flushTempFiles();

    EXPECT_FALSE(exists(product + stale));
    for (const std::string& name : keptFolders)
        EXPECT_EQ("mine", readFile(product + name + "\\file.txt")) << name;
    for (const std::string& name : keptFiles)
        EXPECT_EQ("mine", readFile(product + name)) << name;
}

TEST(TavUtility, FlushNeverFollowsLinks)
{
    PrivateTemp temp;
    std::string product = temp.product();
    CreateDirectoryA(product.c_str(), NULL);
    std::string outside = temp.dir().file("outside");
    CreateDirectoryA(outside.c_str(), NULL);
    writeFile(outside + "\\precious.txt", "precious");
    // A stale folder holding a link, and a stale entry that is itself a link.
    std::string stale = product + "0123ABCD-0000-0000-0000-000000000000";
    std::string staleLink = product + "0123ABCD-0000-0000-0000-000000000001";
    CreateDirectoryA(stale.c_str(), NULL);
    writeFile(stale + "\\work.txt", "work");
    if (!makeDirectoryLink(stale + "\\link", outside) || !makeDirectoryLink(staleLink, outside))
        GTEST_SKIP() << "directory links cannot be made here";

    CTavUtility::deleteTree(staleLink);
    EXPECT_EQ("precious", readFile(outside + "\\precious.txt"));
    CTavUtility::flushTempFiles();
    EXPECT_EQ("precious", readFile(outside + "\\precious.txt"));
    EXPECT_FALSE(exists(stale + "\\work.txt"));

    removeLink(stale + "\\link");
    removeLink(staleLink);
}

// ---- Windows --------------------------------------------------------------------------------

struct MainWindowProbe {
    CWnd* mainWnd = reinterpret_cast<CWnd*>(1);
    CWnd* window = nullptr;
    std::vector<ShownBox> boxes;
    HWND mainHwnd = nullptr;
    bool withWindow = false;
    std::string file;
};

unsigned probeMainWindow(void* param)
{
    auto* probe = static_cast<MainWindowProbe*>(param);
    CWnd window;
    if (probe->withWindow) {
        window.CreateEx(0, nullptr, "main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr);
        AfxGetThread()->m_pMainWnd = &window;
        probe->window = &window;
        probe->mainHwnd = window.m_hWnd;
    }
    probe->mainWnd = CTavUtility::getMainWnd();
    if (!probe->file.empty()) {
        clearShownBoxes();
        CTavUtility::openFile(probe->file, nullptr);
        probe->boxes = shownBoxes();
    }
    if (probe->withWindow) {
        AfxGetThread()->m_pMainWnd = nullptr;
        window.DestroyWindow();
    }
    return 0;
}

void runProbe(MainWindowProbe* probe)
{
    CWinThread thread(&probeMainWindow, probe);
    thread.m_bAutoDelete = FALSE;
    ASSERT_TRUE(thread.CreateThread());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.m_hThread, 30000));
}

TEST(TavUtility, MainWindowIsTheCallingThreadsOne)
{
    EXPECT_EQ(nullptr, CTavUtility::getMainWnd()) << "a thread without thread object";
    MainWindowProbe none;
    runProbe(&none);
    EXPECT_EQ(nullptr, none.mainWnd) << "a thread object without main window";
    MainWindowProbe with;
    with.withWindow = true;
    runProbe(&with);
    EXPECT_NE(nullptr, with.mainWnd);
    EXPECT_EQ(with.window, with.mainWnd);
}

TEST(TavUtility, OpenFileWithoutAnAssociatedApplicationTellsTheUser)
{
    TempDir dir;
    std::string file = dir.file("data.tavnoassoc");
    writeFile(file, "data");

    clearShownBoxes();
    CTavUtility::openFile(file, nullptr);
    std::vector<ShownBox> boxes = shownBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(NOT_ASSOCIATED, boxes[0].text);
    EXPECT_EQ("Tavelin", boxes[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), boxes[0].type);
    EXPECT_EQ(nullptr, boxes[0].owner);

    // Without an owner the box goes to the calling thread's main window.
    MainWindowProbe probe;
    probe.withWindow = true;
    probe.file = file;
    runProbe(&probe);
    ASSERT_EQ(1u, probe.boxes.size());
    EXPECT_NE(nullptr, probe.mainHwnd);
    EXPECT_EQ(probe.mainHwnd, probe.boxes[0].owner);

    // Other failures are only traced.
    clearShownBoxes();
    CTavUtility::openFile(dir.file("missing.tavnoassoc"), nullptr);
    EXPECT_EQ(0u, shownBoxes().size());
}

// ---- The director factory -------------------------------------------------------------------

struct FactoryCall {
    IGuiHandle* gui = nullptr;
    CPreferenceManager* preferences = nullptr;
    CQuarn* middleware = nullptr;
    int calls = 0;
};
FactoryCall s_factoryCall;
int s_logicMarker;

ILogicHandle* fakeFactory(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware)
{
    s_factoryCall = {gui, preferences, middleware, s_factoryCall.calls + 1};
    return reinterpret_cast<ILogicHandle*>(&s_logicMarker);
}

ILogicHandle* emptyFactory(IGuiHandle*, CPreferenceManager*, CQuarn*)
{
    return nullptr;
}

TEST(TavUtility, CreateDirectorUsesTheRegisteredFactory)
{
    int gui;
    int preferences;
    int middleware;
    auto* guiHandle = reinterpret_cast<IGuiHandle*>(&gui);
    auto* preferenceManager = reinterpret_cast<CPreferenceManager*>(&preferences);
    auto* quarn = reinterpret_cast<CQuarn*>(&middleware);

    CTavUtility::DirectorFactory previous = CTavUtility::setDirectorFactory(nullptr);
    EXPECT_EQ(nullptr, CTavUtility::createDirector(guiHandle, preferenceManager, quarn));

    EXPECT_EQ(nullptr, CTavUtility::setDirectorFactory(fakeFactory));
    EXPECT_EQ(reinterpret_cast<ILogicHandle*>(&s_logicMarker),
              CTavUtility::createDirector(guiHandle, preferenceManager, quarn));
    EXPECT_EQ(1, s_factoryCall.calls);
    EXPECT_EQ(guiHandle, s_factoryCall.gui);
    EXPECT_EQ(preferenceManager, s_factoryCall.preferences);
    EXPECT_EQ(quarn, s_factoryCall.middleware);

    EXPECT_EQ(&fakeFactory, CTavUtility::setDirectorFactory(emptyFactory));
    EXPECT_EQ(nullptr, CTavUtility::createDirector(guiHandle, preferenceManager, quarn));
    CTavUtility::setDirectorFactory(previous);
}

} // namespace
