#pragma once
// A drawing object (bitmap, brush, font, pen, region) that owns its handle: deleted with the
// object unless detached first.
#include <windows.h>

class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject();
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    // Takes ownership of a handle; FALSE when this object holds one already or the handle is null.
    BOOL Attach(HGDIOBJ handle);
    // Gives up the handle without deleting it; returns it.
    HGDIOBJ Detach();
    // Deletes the handle; FALSE when there is none.
    BOOL DeleteObject();

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    operator HGDIOBJ() const { return m_hObject; }
    int GetObject(int size, void* buffer) const;

    HGDIOBJ m_hObject = nullptr;
};
