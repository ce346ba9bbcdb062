#pragma once
// Process-level services of the main program: the GUID that names the running process and the
// named mutex that marks it alive, a private temporary folder per process with temporary files
// and copies in it, the removal of folders whose process has ended, opening a file with its
// associated application, and the factory of the session director.
//
// One object lives in the start-up builder: its construction gives the process its GUID and
// mutex, its destruction releases them and removes the folders of ended processes. The mutex
// belongs to the constructing thread, so that thread must live as long as the process uses its
// folder (when it ends, others take the process for ended). Everything else is static and acts
// on process-wide state.
#include <windows.h>

#include <string>

class CWnd;
class IGuiHandle;
class ILogicHandle;
class CPreferenceManager;
class CQuarn;

class CTavUtility {
public:
    CTavUtility();
    ~CTavUtility();
    CTavUtility(const CTavUtility&) = delete;
    CTavUtility& operator=(const CTavUtility&) = delete;

    // The process temp folder with its trailing backslash, created when missing. False when the
    // process has no GUID yet, the temporary path is unavailable or the path (with its NUL)
    // does not fit the buffer or a path buffer.
    static bool getTavTempPath(DWORD size, char* buffer);
    // True when parent (ending with a backslash) holds a folder named exactly name.
    static bool isDirExist(const std::string& parent, const std::string& name);
    // Copies over an existing destination and clears its attributes. Throws CDiskFullException
    // when the disk is full; false on any other failure.
    static bool cpyFile(const std::string& source, const std::string& destination);
    // Copies source into a new file of the process temp folder: a system-made "tmp" name when
    // name is empty, else the first free one of name, "copy (1) " + name, ...
    static bool copyToTempFile(const std::string& source, std::string* result, const std::string& name);
    // An empty file in the process temp folder (in its sub-folder, when one is given); an
    // existing file of the path is kept as it is.
    static bool createTempFile(std::string* result, const std::string& name, const std::string& subFolder,
                               bool unique);
    // The first free path of folder + name, folder + "copy (1) " + name, ...; the file is created
    // empty before the path is returned, so no other caller (thread or process) gets it too.
    // Empty when no file can be created there or the path is too long.
    static std::string makeUniquePath(const std::string& folder, const std::string& name);
    // "copy (n) ", from the program's resources.
    static std::string makeCopyName(int n);
    // Removes the temp folders of processes that no longer run.
    static void flushTempFiles();
    // Deletes everything inside folder; links are removed, never followed.
    static void deleteTree(const std::string& folder);
    static std::string newGuidString();
    // String resource id of the resource module; fallback when the module lacks it.
    static std::string loadString(UINT id, const char* fallback);
    // Opens the file with its associated application; owner (else the calling thread's main
    // window) parents what the shell shows.
    static void openFile(const std::string& path, CWnd* owner);
    // The main window of the calling thread's thread object; null without one.
    static CWnd* getMainWnd();

    // The session logic registers how a director is made, so that this library does not
    // depend on it. Returns the factory registered before.
    using DirectorFactory = ILogicHandle* (*)(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware);
    static DirectorFactory setDirectorFactory(DirectorFactory factory);
    // A new director's logic handle; null when no factory is registered or it made no object.
    static ILogicHandle* createDirector(IGuiHandle* gui, CPreferenceManager* preferences, CQuarn* middleware);

    // The call that copies a file, with CopyFileA's contract; tests replace it to simulate
    // failures such as a full disk. Null restores CopyFileA. Returns the previous one.
    using CopyFunction = BOOL(WINAPI*)(LPCSTR source, LPCSTR destination, BOOL failIfExists);
    static CopyFunction setCopyFunction(CopyFunction copy);
};
