#pragma once
// Calls an automation object through its IDispatch by dispatch id, with plain arguments: the
// outside objects the program tells of its start and end.
#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <string>

class COleDispatchDriver {
public:
    // One argument of a call: a 32-bit integer, a text (passed as a BSTR), or a 32-bit integer
    // of the caller's that the method may write (passed by reference).
    struct Arg {
        enum Kind { Int32, Text, Int32Ref } kind;
        long number;
        std::string text;
        long* target = nullptr;
        Arg(long value) : kind(Int32), number(value) {}
        Arg(int value) : kind(Int32), number(value) {}
        Arg(const char* value) : kind(Text), number(0), text(value) {}
        Arg(std::string value) : kind(Text), number(0), text(std::move(value)) {}
        Arg(long* value) : kind(Int32Ref), number(0), target(value) {}
    };

    COleDispatchDriver() = default;
    // Releases the object, if any.
    ~COleDispatchDriver();
    COleDispatchDriver(const COleDispatchDriver&) = delete;
    COleDispatchDriver& operator=(const COleDispatchDriver&) = delete;

    // Creates an object of the class and keeps its IDispatch; FALSE (and no object) when the
    // class cannot be created or has no IDispatch. An object held before is released first.
    BOOL CreateDispatch(REFCLSID clsid);
    // The same for the class registered under the ProgID; FALSE when no class has it. With an
    // object source in place, the object comes from the source instead.
    BOOL CreateDispatch(LPCSTR progId);
    void ReleaseDispatch();

    // Calls method id with the arguments in the caller's order; the result, when the caller
    // asks for it, as a 32-bit integer (0 when the object gives none or one that does not
    // convert). The HRESULT of the call; E_POINTER without an object.
    HRESULT InvokeMethod(DISPID id, std::initializer_list<Arg> args, long* result = nullptr);

    // Where objects named by ProgID come from in place of COM, for tests: the object for the
    // name with one reference for the caller, or null when there is none of that name. Null
    // restores COM's classes.
    using ObjectSource = IDispatch* (*)(LPCSTR progId);
    static void SetObjectSource(ObjectSource source);

    LPDISPATCH m_lpDispatch = nullptr;

private:
    // TRUE when a source is in place; then *created tells whether it gave an object.
    BOOL createFromSource(LPCSTR progId, BOOL* created);
};
