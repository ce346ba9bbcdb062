#include "COleDataSource.h"

#include <shlobj.h>

#include <atomic>
#include <vector>

namespace {

// A copy of a global block, which the receiver of GetData frees.
HGLOBAL copyOf(HGLOBAL block) {
    const SIZE_T size = GlobalSize(block);
    const void* from = GlobalLock(block);
    if (!from)
        return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
    void* to = copy ? GlobalLock(copy) : nullptr;
    if (to) {
        memcpy(to, from, size);
        GlobalUnlock(copy);
    } else if (copy) {
        GlobalFree(copy);
        copy = nullptr;
    }
    GlobalUnlock(block);
    return copy;
}

// The data object: the cached blocks, kept until the last reference goes (a target may hold
// it a little past the source's object).
class CachedData final : public IDataObject {
public:
    struct Entry {
        FORMATETC etc;
        HGLOBAL block;
    };

    ~CachedData() {
        for (Entry& entry : entries_)
            GlobalFree(entry.block);
    }

    void cache(const FORMATETC& etc, HGLOBAL block) {
        for (Entry& entry : entries_) {
            if (entry.etc.cfFormat == etc.cfFormat && entry.etc.dwAspect == etc.dwAspect) {
                GlobalFree(entry.block);
                entry = {etc, block};
                return;
            }
        }
        entries_.push_back({etc, block});
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
            *object = static_cast<IDataObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* etc, STGMEDIUM* medium) override {
        if (!etc || !medium)
            return E_INVALIDARG;
        const Entry* entry = find(*etc);
        if (!entry)
            return DV_E_FORMATETC;
        HGLOBAL copy = copyOf(entry->block);
        if (!copy)
            return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = copy;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* etc) override {
        if (!etc)
            return E_INVALIDARG;
        return find(*etc) ? S_OK : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out)
            out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) override {
        if (!enumerator)
            return E_POINTER;
        *enumerator = nullptr;
        if (direction != DATADIR_GET)
            return E_NOTIMPL;
        std::vector<FORMATETC> formats;
        for (const Entry& entry : entries_)
            formats.push_back(entry.etc);
        return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()),
                                     formats.empty() ? nullptr : formats.data(), enumerator);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }

private:
    const Entry* find(const FORMATETC& wanted) const {
        for (const Entry& entry : entries_) {
            if (entry.etc.cfFormat == wanted.cfFormat && (wanted.tymed & TYMED_HGLOBAL) &&
                entry.etc.dwAspect == wanted.dwAspect &&
                (wanted.lindex == -1 || wanted.lindex == entry.etc.lindex))
                return &entry;
        }
        return nullptr;
    }

    std::atomic<ULONG> references_{1};
    std::vector<Entry> entries_;
};

}  // namespace

COleDataSource::COleDataSource() : m_pDataObject(new CachedData) {}

COleDataSource::~COleDataSource() {
    m_pDataObject->Release();
}

void COleDataSource::CacheGlobalData(CLIPFORMAT format, HGLOBAL block, LPFORMATETC etc) {
    if (!block)
        return;
    FORMATETC whole = {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (etc) {
        whole = *etc;
        whole.cfFormat = format;
        whole.tymed = TYMED_HGLOBAL;
        whole.ptd = nullptr;   // not ours to keep: the data is offered for the screen
    }
    static_cast<CachedData*>(m_pDataObject)->cache(whole, block);
}

DROPEFFECT COleDataSource::DoDragDrop(DWORD allowedEffects, LPCRECT startRect,
                                      COleDropSource* dropSource) {
    COleDropSource plain;
    COleDropSource* source = dropSource ? dropSource : &plain;
    if (!source->beginDrag(startRect))
        return DROPEFFECT_NONE;
    DWORD effect = DROPEFFECT_NONE;
    HRESULT hr = ::DoDragDrop(m_pDataObject, source->GetDropSource(), allowedEffects, &effect);
    return hr == DRAGDROP_S_DROP ? effect : DROPEFFECT_NONE;
}
