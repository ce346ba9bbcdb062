#pragma once
// A directory: its entries newest first, and its own update counter. It owns its entries;
// deleting it deletes everything beneath it, however deep, without recursion.
#include "CBase.h"

class CQuarnDirEntry : public CBase {
public:
    CQuarnDirEntry();
    ~CQuarnDirEntry() override;

    // Asks every leaf beneath, at any depth, to remove the id: 0 when at least one held it,
    // else ERROR_QUARN_DB_REFERNCE_NOT_FOUND (also for an empty directory).
    DWORD RemoveReference(DWORD id) override;

    CBase* GetFirstChild() const { return m_pFirstChild; }
    // The entry whose name is these length code units exactly; null when none.
    CBase* FindChild(const WCHAR* name, size_t length) const;
    DWORD GetChildCount() const;
    // Index 0 is the newest entry; null beyond the end.
    CBase* GetChild(DWORD index) const;
    // Puts an unlinked entry at the head of the list, as the newest.
    void AddChild(CBase* child);
    // Takes the entry out of this directory's list (it is not deleted).
    void UnlinkChild(CBase* child);

    DWORD GetUpdateCounter() const { return m_updateCounter; }
    void SetUpdateCounter(DWORD counter) { m_updateCounter = counter; }

    // The entry after entry in a walk of the tree under top, parents before their entries;
    // null when the walk is done.
    static CBase* NextBeneath(const CBase* entry, const CQuarnDirEntry* top);

private:
    CBase* m_pFirstChild;
    DWORD m_updateCounter;
};
