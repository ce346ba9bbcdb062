#pragma once
// A bitmap that owns its handle.
#include "CGdiObject.h"

class CDC;

class CBitmap : public CGdiObject {
public:
    // From the bitmap resources of the resource module (AfxGetResourceHandle); FALSE when it has
    // none of that name or this object holds a bitmap already.
    BOOL LoadBitmap(LPCSTR name);
    BOOL LoadBitmap(UINT id) { return LoadBitmap(MAKEINTRESOURCEA(id)); }
    // A bitmap of the device's format.
    BOOL CreateCompatibleBitmap(CDC* dc, int width, int height);
    BOOL CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
    int GetBitmap(BITMAP* info) const { return GetObject(sizeof *info, info); }

    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};
