#pragma once
// The in-memory directory of one middleware server: a tree of named entries under the root
// "\". Applications publish leaves in it and hold them open by reference ids; other computers
// read it directory by directory, told of changes by per-directory update counters. Paths
// begin with "\" and separate components by single backslashes; a path that ends in "\" names
// the directory before it; components compare code unit by code unit.
//
// Operations report failure by a false or null result and a code in the thread's last error.
// None takes the lock; callers hold it (Lock and Unlock) around what must be seen whole. No
// operation recurses per path level, so paths of any depth are safe.
#include "CBase.h"
#include "CQuarnCountedMutex.h"
#include "CQuarnDirEntry.h"


class CQuarnDataBase {
public:
    CQuarnDataBase();
    ~CQuarnDataBase();
    CQuarnDataBase(const CQuarnDataBase&) = delete;
    CQuarnDataBase& operator=(const CQuarnDataBase&) = delete;

    // Finds or makes the entry at the path, making missing directories on the way (without
    // references), and adds the reference id to it. A path that ends in "\" gives the directory
    // with no reference added. The entry is also the result when adding the reference answers
    // ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST, ERROR_NOT_ENOUGH_MEMORY or (for a directory)
    // ERROR_QUARN_COMMON_TYPE_MISMATCH: that answer is only left as the last error, which is 0
    // when the reference was added. A failure leaves no directory made by this call behind.
    CBase* OpenEntry(DWORD refId, const WCHAR* path, DWORD type);
    // OpenEntry of a leaf type, then Touch of the path. A directory type, or a path that names
    // a directory, fails with ERROR_QUARN_COMMON_TYPE_MISMATCH.
    CBase* OpenLeafEntry(DWORD refId, const WCHAR* path, DWORD type);
    // OpenEntry with the value's type, the value replaced, then Touch.
    bool SetValueInt(DWORD refId, const WCHAR* path, LONG value);
    // A null text leaves the entry without text.
    bool SetValueString(DWORD refId, const WCHAR* path, const WCHAR* text);
    // A copy that cannot be made fails with ERROR_NOT_ENOUGH_MEMORY and keeps the old value.
    bool SetValueBinary(DWORD refId, const WCHAR* path, const BYTE* bytes, DWORD size);
    // Removes the reference from the leaf at the path; a leaf left with none is deleted, and so
    // is every directory this leaves empty (the root stays).
    bool CloseEntry(DWORD refId, const WCHAR* path);
    // Removes the reference from every leaf under the directory, deletes the leaves left with
    // none and the directories left empty, the directory itself included. No leaf holding it:
    // ERROR_QUARN_DB_REFERNCE_NOT_FOUND.
    bool CloseAllEntries(DWORD refId, const WCHAR* path);

    // The entry at the path, which must have the type; "\" and paths that end in "\" give the
    // directory without a type check.
    CBase* FindEntry(const WCHAR* path, DWORD type);
    // The directory that holds the path's last component, and where that component begins
    // (empty when the path ends in "\").
    CQuarnDirEntry* FindParent(const WCHAR* path, const WCHAR** ppLast = nullptr);
    bool GetEntryType(const WCHAR* path, DWORD* pType);
    bool GetValueInt(const WCHAR* path, LONG* pValue);
    // Copy protocol: no size place: ERROR_INVALID_PARAMETER; no value: size 0 and success; a
    // size below the value's: ERROR_INSUFFICIENT_BUFFER; no buffer for a value:
    // ERROR_INVALID_PARAMETER; else the copy. But for the first case the size is set to the
    // value's (characters with the terminating zero for texts, bytes for binary values).
    bool GetValueString(const WCHAR* path, WCHAR* buffer, DWORD* pSize);
    bool GetValueBinary(const WCHAR* path, BYTE* buffer, DWORD* pSize);
    bool GetChildCount(const WCHAR* path, DWORD* pCount);
    // The name of the entry at the index (0 is the newest), by the copy protocol; an index at or
    // beyond the count fails with ERROR_NO_MORE_ITEMS.
    bool GetChildName(const WCHAR* path, DWORD index, WCHAR* buffer, DWORD* pSize);
    bool GetUpdateCounter(const WCHAR* path, DWORD* pCounter);
    // Advances the update counter and stamps it on the root, on every directory the path runs
    // through and on the last component when it is a directory; stops quietly where the path
    // leaves the tree. A path not beginning with "\": ERROR_INVALID_PARAMETER.
    bool Touch(const WCHAR* path);

    // Walks the directory's entries: a directory is pruned first and deleted when left empty,
    // a leaf is deleted when no reference is left.
    void Prune(CQuarnDirEntry* directory);
    // Deletes the directory when it is empty, then its parent when that is left empty, and so
    // on; the root stays.
    void RemoveEmptyAncestors(CQuarnDirEntry* directory);

    // Waits for the database lock; the thread that holds it may take it again.
    bool Lock(DWORD timeoutMs);
    // Fails (ERROR_NOT_OWNER) when the calling thread does not hold the lock.
    bool Unlock();
    // Whether the calling thread holds the lock already.
    bool IsLocked();

    CQuarnDirEntry* GetRoot() { return &m_root; }

private:
    // Walks the components of the path that end in "\" without making anything: the directory
    // reached, and where the last component begins. Null with ERROR_QUARN_COMMON_INVALID_PATH
    // for a path that does not begin with "\", holds "\\", runs through a leaf or names a
    // directory that does not exist.
    CQuarnDirEntry* WalkDirectories(const WCHAR* path, const WCHAR** ppLast);
    // The entry at the path whatever its type ("\" and a path ending in "\": the directory).
    CBase* Lookup(const WCHAR* path);
    // FindEntry for a reader whose result place must be given (else ERROR_INVALID_PARAMETER).
    CBase* FindForResult(const WCHAR* path, DWORD type, const void* resultPlace);
    static CBase* MakeEntry(DWORD type, const WCHAR* name, size_t length);

    CQuarnDirEntry m_root;
    DWORD m_updateCounter;
    CQuarnCountedMutex m_lock;
};
