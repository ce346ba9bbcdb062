#include "CBitmap.h"

#include "CDC.h"
#include "CWinApp.h"

BOOL CBitmap::LoadBitmap(LPCSTR name) {
    if (m_hObject)
        return FALSE;
    return Attach(::LoadBitmapA(AfxGetResourceHandle(), name));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
    if (m_hObject || !dc || !dc->m_hDC)
        return FALSE;
    return Attach(::CreateCompatibleBitmap(dc->m_hDC, width, height));
}

BOOL CBitmap::CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    if (m_hObject)
        return FALSE;
    return Attach(::CreateBitmap(width, height, planes, bitsPerPixel, bits));
}
