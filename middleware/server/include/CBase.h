#pragma once
// An entry of the middleware directory: its name within its directory, its type, its place in
// the directory's list (newest first) and, for leaves, the ids of the applications that hold
// it open. A leaf lives while an id is left; a directory while it holds entries.
#include <windows.h>

#include <string>

class CQuarnDirEntry;

class CBase {
public:
    // The ids that hold an entry open, in the order they were added.
    class CReferenceList {
    public:
        CReferenceList();
        ~CReferenceList();
        CReferenceList(const CReferenceList&) = delete;
        CReferenceList& operator=(const CReferenceList&) = delete;

        // 0, ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST, or ERROR_NOT_ENOUGH_MEMORY.
        DWORD Add(DWORD id);
        // 0 or ERROR_QUARN_DB_REFERNCE_NOT_FOUND.
        DWORD Remove(DWORD id);
        bool Contains(DWORD id) const;
        bool IsEmpty() const { return m_head.m_pNext == &m_head; }
        DWORD GetCount() const;
        // The id at index in the order of adding; 0 beyond the end.
        DWORD GetAt(DWORD index) const;
        void DeleteAll();

    private:
        struct Node {
            DWORD m_dwId;
            Node* m_pNext;
            Node* m_pPrev;
        };
        Node* Find(DWORD id) const;

        Node m_head;
    };

    CBase(DWORD type);
    // Frees the name and every reference.
    virtual ~CBase();
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;

    // Leaves: 0, or ERROR_QUARN_DB_REFERNCE_NOT_FOUND when the id is not held. Directories
    // answer for every leaf beneath them.
    virtual DWORD RemoveReference(DWORD id);

    // Keeps a copy of the name; false with ERROR_NOT_ENOUGH_MEMORY (name as it was).
    bool SetName(const WCHAR* name, size_t length);
    const std::wstring& GetName() const { return m_name; }
    DWORD GetType() const { return m_type; }
    bool IsDirectory() const;
    CBase* GetNext() const { return m_pNext; }
    CQuarnDirEntry* GetParent() const { return m_pParent; }
    CReferenceList& GetReferences() { return m_references; }
    const CReferenceList& GetReferences() const { return m_references; }

private:
    friend class CQuarnDirEntry;

    std::wstring m_name;
    DWORD m_type;
    CBase* m_pNext;
    CQuarnDirEntry* m_pParent;
    CReferenceList m_references;
};
