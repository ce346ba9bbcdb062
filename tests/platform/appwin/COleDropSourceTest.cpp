#include "COleDropSource.h"

#include <gtest/gtest.h>

TEST(COleDropSource, EscapeOrTheCancelButtonCancelsAndReleasingTheDropButtonDrops) {
    struct Case {
        bool rightDrag;   // the drag began with the right button
        BOOL escape;
        DWORD keyState;
        SCODE expected;
    };
    const Case cases[] = {
        {false, FALSE, MK_LBUTTON, S_OK},
        {false, FALSE, MK_LBUTTON | MK_SHIFT | MK_CONTROL, S_OK},
        {false, TRUE, MK_LBUTTON, DRAGDROP_S_CANCEL},
        {false, FALSE, MK_LBUTTON | MK_RBUTTON, DRAGDROP_S_CANCEL},
        {false, FALSE, 0, DRAGDROP_S_DROP},
        {false, FALSE, MK_MBUTTON, DRAGDROP_S_DROP},
        // Esc wins over a release in the same call.
        {false, TRUE, 0, DRAGDROP_S_CANCEL},
        {true, FALSE, MK_RBUTTON, S_OK},
        {true, FALSE, MK_RBUTTON | MK_LBUTTON, DRAGDROP_S_CANCEL},
        {true, FALSE, 0, DRAGDROP_S_DROP},
    };
    for (const Case& c : cases) {
        COleDropSource source;
        if (c.rightDrag) {
            source.m_dwButtonDrop = MK_RBUTTON;
            source.m_dwButtonCancel = MK_LBUTTON;
        }
        EXPECT_EQ(c.expected, source.QueryContinueDrag(c.escape, c.keyState))
            << c.rightDrag << " " << c.escape << " " << c.keyState;
        // OLE's calls reach the same answer through the COM face.
        EXPECT_EQ(c.expected, source.GetDropSource()->QueryContinueDrag(c.escape, c.keyState));
    }
}

TEST(COleDropSource, ADefaultSourceDragsWithTheLeftButtonAndTheSystemsCursors) {
    COleDropSource source;
    EXPECT_FALSE(source.m_bDragStarted);
    EXPECT_EQ(static_cast<DWORD>(MK_LBUTTON), source.m_dwButtonDrop);
    EXPECT_EQ(static_cast<DWORD>(MK_RBUTTON), source.m_dwButtonCancel);
    for (DROPEFFECT effect : {DROPEFFECT_NONE, DROPEFFECT_COPY, DROPEFFECT_MOVE})
        EXPECT_EQ(DRAGDROP_S_USEDEFAULTCURSORS, source.GetDropSource()->GiveFeedback(effect));
    IUnknown* unknown = nullptr;
    EXPECT_EQ(S_OK, source.GetDropSource()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(static_cast<IUnknown*>(source.GetDropSource()), unknown);
    IDataObject* data = nullptr;
    EXPECT_EQ(E_NOINTERFACE, source.GetDropSource()->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(&data)));
    EXPECT_EQ(nullptr, data);
}
