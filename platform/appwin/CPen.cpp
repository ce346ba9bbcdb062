#include "CPen.h"

BOOL CPen::CreatePen(int style, int width, COLORREF colour) {
    if (m_hObject)
        return FALSE;
    return Attach(::CreatePen(style, width, colour));
}
