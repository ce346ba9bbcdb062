#include "CFont.h"

BOOL CFont::CreateFont(int height, int width, int escapement, int orientation, int weight,
                       BYTE italic, BYTE underline, BYTE strikeOut, BYTE charSet, BYTE outPrecision,
                       BYTE clipPrecision, BYTE quality, BYTE pitchAndFamily, LPCSTR faceName) {
    if (m_hObject)
        return FALSE;
    return Attach(::CreateFontA(height, width, escapement, orientation, weight, italic, underline,
                                strikeOut, charSet, outPrecision, clipPrecision, quality,
                                pitchAndFamily, faceName));
}

BOOL CFont::CreateFontIndirect(const LOGFONTA* font) {
    if (m_hObject || !font)
        return FALSE;
    return Attach(::CreateFontIndirectA(font));
}
