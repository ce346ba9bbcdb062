#include "CBrush.h"

BOOL CBrush::CreateSolidBrush(COLORREF colour) {
    if (m_hObject)
        return FALSE;
    return Attach(::CreateSolidBrush(colour));
}
