#pragma once
// Data offered to a drop target: global memory blocks cached by clipboard format, handed out
// through an IDataObject, and the drag that offers them.
#include "COleDropSource.h"

#include <windows.h>
#include <ole2.h>

class COleDataSource {
public:
    COleDataSource();
    // Lets go of the data object; the blocks are freed when OLE and the targets let go too.
    virtual ~COleDataSource();
    COleDataSource(const COleDataSource&) = delete;
    COleDataSource& operator=(const COleDataSource&) = delete;

    // Offers the block under the format (a block cached before under it is freed). The source
    // owns the block from now on, whether or not the call succeeds. etc: null for the whole
    // block on the screen (DVASPECT_CONTENT, index -1, TYMED_HGLOBAL).
    void CacheGlobalData(CLIPFORMAT format, HGLOBAL block, LPFORMATETC etc = nullptr);

    // Runs a drag of this data. First, with the button held and without OLE, it waits until the
    // pointer leaves the start rectangle (screen coordinates; null: the system's drag rectangle
    // around it) or the system's drag delay passes; a release, the cancel button or Esc before
    // that ends with DROPEFFECT_NONE. Then OLE's drag, asking the drop source (null: one that
    // does what COleDropSource does); the effect of the drop, or DROPEFFECT_NONE when it was
    // cancelled.
    DROPEFFECT DoDragDrop(DWORD allowedEffects = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK,
                          LPCRECT startRect = nullptr, COleDropSource* dropSource = nullptr);

    // The data object (its reference stays this source's: AddRef to keep it).
    IDataObject* GetDataObject() const { return m_pDataObject; }

private:
    IDataObject* m_pDataObject;
};
