#include "store/shell/file_drag_source.h"

#include <ole2.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>

#include "store/files/drop_file_list.h"

namespace {

bool IsDropFilesFormat(const FORMATETC* format) {
    return format != nullptr && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) &&
           format->dwAspect == DVASPECT_CONTENT;
}

// Reference counting and QueryInterface for an object offering one interface.
template <class Interface>
class SingleInterfaceObject : public Interface {
public:
    explicit SingleInterfaceObject(const IID& iid) : m_iid(iid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_iid)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return refs;
    }

protected:
    virtual ~SingleInterfaceObject() = default;

private:
    const IID& m_iid;
    std::atomic<ULONG> m_refs{1};
};

// Offers one CF_HDROP block; every GetData hands out a fresh copy, so the source keeps its
// own block whatever the target does with the medium.
class FileDataObject : public SingleInterfaceObject<IDataObject> {
public:
    explicit FileDataObject(HGLOBAL block)
        : SingleInterfaceObject<IDataObject>(IID_IDataObject), m_block(block) {}

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (medium == nullptr) {
            return E_POINTER;
        }
        if (!IsDropFilesFormat(format)) {
            return DV_E_FORMATETC;
        }
        const SIZE_T size = GlobalSize(m_block);
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, size);
        if (copy == nullptr) {
            return E_OUTOFMEMORY;
        }
        void* to = GlobalLock(copy);
        const void* from = GlobalLock(m_block);
        if (to != nullptr && from != nullptr) {
            std::memcpy(to, from, size);
        }
        GlobalUnlock(m_block);
        GlobalUnlock(copy);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = copy;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
        return IsDropFilesFormat(format) ? S_OK : DV_E_FORMATETC;
    }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out != nullptr) {
            out->ptd = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
        if (direction != DATADIR_GET) {
            return E_NOTIMPL;
        }
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        return SHCreateStdEnumFmtEtc(1, &format, out);
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }

private:
    ~FileDataObject() override { GlobalFree(m_block); }

    HGLOBAL m_block;
};

// Drops on left-button release, cancels on Escape, standard cursors.
class FileDropSource : public SingleInterfaceObject<IDropSource> {
public:
    FileDropSource() : SingleInterfaceObject<IDropSource>(IID_IDropSource) {}

    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escapePressed, DWORD keyState) override {
        if (escapePressed) {
            return DRAGDROP_S_CANCEL;
        }
        if ((keyState & MK_LBUTTON) == 0) {
            return DRAGDROP_S_DROP;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

private:
    ~FileDropSource() override = default;
};

}  // namespace

HRESULT RunFileDrag(const DropFileList& files, DWORD* effect) {
    if (effect != nullptr) {
        *effect = DROPEFFECT_NONE;
    }
    const unsigned char* block = files.GetBlock();
    const std::size_t size = files.GetBlockSize();
    if (block == nullptr || size == 0) {
        return E_INVALIDARG;
    }
    HGLOBAL global = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE | GMEM_ZEROINIT, size);
    if (global == nullptr) {
        return E_OUTOFMEMORY;
    }
    void* to = GlobalLock(global);
    if (to == nullptr) {
        GlobalFree(global);
        return E_OUTOFMEMORY;
    }
    std::memcpy(to, block, size);
    GlobalUnlock(global);

    FileDataObject* data = new FileDataObject(global);
    FileDropSource* source = new FileDropSource();
    DWORD chosen = DROPEFFECT_NONE;
    const HRESULT result = DoDragDrop(data, source, DROPEFFECT_COPY, &chosen);
    source->Release();
    data->Release();
    if (effect != nullptr) {
        *effect = chosen;
    }
    return result;
}
