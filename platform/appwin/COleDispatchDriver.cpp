#include "COleDispatchDriver.h"

#include <atomic>
#include <vector>

namespace {
std::atomic<COleDispatchDriver::ObjectSource> g_objectSource{nullptr};
}

void COleDispatchDriver::SetObjectSource(ObjectSource source) {
    g_objectSource = source;
}

BOOL COleDispatchDriver::createFromSource(LPCSTR progId, BOOL* created) {
    const ObjectSource source = g_objectSource.load();
    if (source == nullptr)
        return FALSE;
    m_lpDispatch = source(progId);
    *created = m_lpDispatch != nullptr;
    return TRUE;
}

COleDispatchDriver::~COleDispatchDriver() {
    ReleaseDispatch();
}

BOOL COleDispatchDriver::CreateDispatch(REFCLSID clsid) {
    ReleaseDispatch();
    IDispatch* dispatch = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr) || dispatch == nullptr)
        return FALSE;
    m_lpDispatch = dispatch;
    return TRUE;
}

BOOL COleDispatchDriver::CreateDispatch(LPCSTR progId) {
    ReleaseDispatch();
    if (!progId)
        return FALSE;
    BOOL created = FALSE;
    if (createFromSource(progId, &created))
        return created;
    int wide = MultiByteToWideChar(CP_ACP, 0, progId, -1, nullptr, 0);
    if (wide <= 0)
        return FALSE;
    std::wstring name(wide, L'\0');
    MultiByteToWideChar(CP_ACP, 0, progId, -1, &name[0], wide);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(name.c_str(), &clsid)))
        return FALSE;
    return CreateDispatch(clsid);
}

void COleDispatchDriver::ReleaseDispatch() {
    if (m_lpDispatch) {
        m_lpDispatch->Release();
        m_lpDispatch = nullptr;
    }
}

HRESULT COleDispatchDriver::InvokeMethod(DISPID id, std::initializer_list<Arg> args, long* result) {
    if (result)
        *result = 0;
    if (!m_lpDispatch)
        return E_POINTER;
    // IDispatch takes the arguments last first.
    std::vector<VARIANT> values(args.size());
    size_t slot = args.size();
    for (const Arg& arg : args) {
        VARIANT& value = values[--slot];
        VariantInit(&value);
        if (arg.kind == Arg::Int32) {
            value.vt = VT_I4;
            value.lVal = arg.number;
        } else if (arg.kind == Arg::Int32Ref) {
            // The method writes straight into the caller's variable; clearing such a VARIANT
            // frees nothing.
            value.vt = VT_I4 | VT_BYREF;
            value.plVal = arg.target;
        } else {
            int wide = MultiByteToWideChar(CP_ACP, 0, arg.text.c_str(), -1, nullptr, 0);
            std::wstring text(wide > 0 ? wide - 1 : 0, L'\0');
            if (wide > 1)
                MultiByteToWideChar(CP_ACP, 0, arg.text.c_str(), -1, &text[0], wide);
            value.vt = VT_BSTR;
            value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        }
    }
    DISPPARAMS params = {values.empty() ? nullptr : values.data(), nullptr, static_cast<UINT>(values.size()), 0};
    VARIANT answer;
    VariantInit(&answer);
    EXCEPINFO exception = {};
    UINT badArgument = 0;
    HRESULT hr = m_lpDispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &answer,
                                      &exception, &badArgument);
    for (VARIANT& value : values)
        VariantClear(&value);
    if (SUCCEEDED(hr) && result && VariantChangeType(&answer, &answer, 0, VT_I4) == S_OK)
        *result = answer.lVal;
    VariantClear(&answer);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return hr;
}
