#pragma once
// The drop source of a drag that COleDataSource::DoDragDrop runs: OLE asks it, as the pointer
// moves, whether the drag goes on and which cursor to show. A class overrides the two virtual
// calls; the object is the caller's and must outlive the drag.
#include <windows.h>
#include <ole2.h>

// A drop effect: DROPEFFECT_NONE, DROPEFFECT_COPY, ... (or'ed).
using DROPEFFECT = DWORD;

class COleDropSource {
public:
    COleDropSource();
    virtual ~COleDropSource();
    COleDropSource(const COleDropSource&) = delete;
    COleDropSource& operator=(const COleDropSource&) = delete;

    // Esc or the cancel button: DRAGDROP_S_CANCEL; the drop button released: DRAGDROP_S_DROP;
    // otherwise S_OK (the drag goes on).
    virtual SCODE QueryContinueDrag(BOOL escapePressed, DWORD keyState);
    // The system's drag cursors for the effect (DRAGDROP_S_USEDEFAULTCURSORS).
    virtual SCODE GiveFeedback(DROPEFFECT effect);

    // The COM face handed to OLE; its calls go to the two virtual calls above.
    IDropSource* GetDropSource() { return &m_xDropSource; }

    // Set when OLE's drag begins (after the wait of DoDragDrop); a class may clear it.
    BOOL m_bDragStarted = FALSE;
    // The key-state flag of the button that drops and of the one that cancels, taken from the
    // button held when the drag starts: left held drops with the left and cancels with the
    // right button; right held the other way round.
    DWORD m_dwButtonDrop = MK_LBUTTON;
    DWORD m_dwButtonCancel = MK_RBUTTON;

private:
    friend class COleDataSource;
    // The wait before OLE's drag, with the button held: TRUE when the pointer left the rectangle
    // (screen coordinates; null: the system's drag rectangle around the pointer) or the system's
    // drag delay passed; FALSE when the drop button was released, the cancel button pressed or
    // Esc hit before.
    BOOL beginDrag(LPCRECT startRect);

    struct DropSourceFace : IDropSource {
        COleDropSource* owner;
        explicit DropSourceFace(COleDropSource* source) : owner(source) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
        HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escapePressed, DWORD keyState) override {
            return owner->QueryContinueDrag(escapePressed, keyState);
        }
        HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override {
            return owner->GiveFeedback(effect);
        }
    };
    DropSourceFace m_xDropSource;
};
