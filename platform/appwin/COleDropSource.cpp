#include "COleDropSource.h"

COleDropSource::COleDropSource() : m_xDropSource(this) {}

COleDropSource::~COleDropSource() = default;

SCODE COleDropSource::QueryContinueDrag(BOOL escapePressed, DWORD keyState) {
    if (escapePressed || (keyState & m_dwButtonCancel))
        return DRAGDROP_S_CANCEL;
    if (!(keyState & m_dwButtonDrop))
        return DRAGDROP_S_DROP;
    return S_OK;
}

SCODE COleDropSource::GiveFeedback(DROPEFFECT) {
    return DRAGDROP_S_USEDEFAULTCURSORS;
}

HRESULT STDMETHODCALLTYPE COleDropSource::DropSourceFace::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropSource)) {
        *object = static_cast<IDropSource*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

namespace {
bool held(int key) {
    return (GetAsyncKeyState(key) & 0x8000) != 0;
}
}  // namespace

BOOL COleDropSource::beginDrag(LPCRECT startRect) {
    // The button held now decides which button drops and which cancels.
    const bool right = !held(VK_LBUTTON) && !(GetKeyState(VK_LBUTTON) & 0x8000) &&
                       (held(VK_RBUTTON) || (GetKeyState(VK_RBUTTON) & 0x8000));
    m_dwButtonDrop = right ? MK_RBUTTON : MK_LBUTTON;
    m_dwButtonCancel = right ? MK_LBUTTON : MK_RBUTTON;
    m_bDragStarted = FALSE;
    const int dropKey = right ? VK_RBUTTON : VK_LBUTTON;
    const int cancelKey = right ? VK_LBUTTON : VK_RBUTTON;

    RECT area;
    POINT start;
    GetCursorPos(&start);
    if (startRect) {
        area = *startRect;
    } else {
        const int cx = GetSystemMetrics(SM_CXDRAG);
        const int cy = GetSystemMetrics(SM_CYDRAG);
        area = {start.x - cx, start.y - cy, start.x + cx + 1, start.y + cy + 1};
    }
    const DWORD delay = GetProfileIntA("windows", "DragDelay", DD_DEFDRAGDELAY);
    const DWORD begin = GetTickCount();
    // No OLE loop yet: the pointer and the buttons are watched directly, and the mouse and key
    // messages meanwhile are taken out of the queue (they belong to the wait, as the system's
    // own drag detection treats them).
    for (;;) {
        MSG msg;
        bool escape = false;
        while (PeekMessageA(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
        }
        while (PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
            if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE)
                escape = true;
        }
        if (escape || held(VK_ESCAPE) || held(cancelKey) || !held(dropKey))
            return FALSE;
        POINT now;
        GetCursorPos(&now);
        if (!PtInRect(&area, now) || GetTickCount() - begin >= delay) {
            m_bDragStarted = TRUE;
            return TRUE;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_INPUT);
    }
}
