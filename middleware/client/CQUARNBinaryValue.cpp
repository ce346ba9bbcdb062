#include "CQUARNBinaryValue.h"

#include <cstring>

CQUARNBinaryValue::CQUARNBinaryValue() : accessed(nullptr) { VariantInit(&value); }

CQUARNBinaryValue::~CQUARNBinaryValue()
{
    if (accessed != nullptr)
        SafeArrayUnaccessData(array());
    VariantClear(&value);
}

SAFEARRAY* CQUARNBinaryValue::array() const
{
    if (V_VT(&value) != (VT_ARRAY | VT_UI1) || V_ARRAY(&value) == nullptr || SafeArrayGetDim(V_ARRAY(&value)) != 1)
        return nullptr;
    return V_ARRAY(&value);
}

bool CQUARNBinaryValue::copyFrom(const VARIANT& source)
{
    if (accessed != nullptr)
        SafeArrayUnaccessData(array());
    accessed = nullptr;
    VariantClear(&value);
    return SUCCEEDED(VariantCopy(&value, const_cast<VARIANT*>(&source)));
}

const BYTE* CQUARNBinaryValue::data()
{
    if (accessed == nullptr && array() != nullptr) {
        void* bytes = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(array(), &bytes)))
            accessed = static_cast<BYTE*>(bytes);
    }
    return accessed;
}

ULONG CQUARNBinaryValue::count() const
{
    SAFEARRAY* bytes = array();
    return bytes != nullptr ? bytes->rgsabound[0].cElements : 0;
}

bool CQUARNBinaryValue::fill(const BYTE* bytes, ULONG byteCount)
{
    if (accessed != nullptr)
        SafeArrayUnaccessData(array());
    accessed = nullptr;
    VariantClear(&value);
    SAFEARRAY* made = SafeArrayCreateVector(VT_UI1, 0, byteCount);
    if (made == nullptr)
        return false;
    if (byteCount > 0) {
        void* place = nullptr;
        if (FAILED(SafeArrayAccessData(made, &place)) || place == nullptr) {
            SafeArrayDestroy(made);
            return false;
        }
        std::memcpy(place, bytes, byteCount);
        SafeArrayUnaccessData(made);
    }
    V_VT(&value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value) = made;
    return true;
}
