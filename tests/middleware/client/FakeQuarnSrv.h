#pragma once
// An IQuarnSrv in the test's process, for what the real server cannot be made to do on cue:
// counts that fail or stay pending, odd names, chosen failures. It notes every call by name.
#include "quarnhost.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct FakeEntry {
    std::wstring name;  // may hold NULs
    ULONG type = 5;
    LONG intValue = 0;
    std::wstring stringValue;
    std::vector<BYTE> binary;
};

class FakeQuarnSrv : public IQuarnSrv {
public:
    FakeQuarnSrv();
    virtual ~FakeQuarnSrv() = default;

    // Installs this fake behind CQUARNInterface's factory (and a recording sleep) until
    // uninstall() or destruction of the installer.
    static void install(FakeQuarnSrv* fake);
    static void uninstall();
    // The sleeps the client asked for since install.
    static std::vector<DWORD>& sleeps();

    // ---- what the fake answers
    std::map<std::wstring, std::vector<FakeEntry>> directories;  // by path; "\\" is the root
    // Per path: how many counts still answer 996 (pending) before the directory reads; -1 for
    // ever. pendingUntilRefresh: pending until LUDRefresh.
    std::map<std::wstring, int> pendingCounts;
    std::map<std::wstring, bool> pendingUntilRefresh;
    std::map<std::string, HRESULT> failures;  // by method name
    HRESULT createResult = S_OK;
    std::wstring guid = L"{11111111-2222-3333-4444-555555555555}";
    ULONG transferHandle = 7;
    std::wstring tempName;
    std::wstring nickname = L"nick";
    bool dbLocked = false;
    ULONG nextAppId = 1;
    bool versionKnown = true;
    // GetIP by path ("\\{node}"): an empty text fails as for a node that has gone; a path not
    // here answers 198.18.0.2.
    std::map<std::wstring, std::wstring> addresses;
    // Called by LUDOpen with the path before it answers.
    std::function<void(const std::wstring& path)> onLookupOpen;

    // ---- what the fake saw
    std::vector<std::string> calls;
    std::vector<std::wstring> paths;  // every path or entry text given, in order
    std::map<std::wstring, std::wstring> strings;  // APDChangeEntryValueString
    std::map<std::wstring, LONG> ints;             // APDChangeEntryValueInt
    std::vector<ULONG> executed;
    std::vector<ULONG> closedTransfers;
    int count(const std::string& method) const;
    size_t openHandles() const { return open_.size(); }
    void addNode(const std::wstring& node, ULONG type = 5);

    // IUnknown, IDispatch
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
    // IQuarnSrv
    STDMETHODIMP Initialize() override;
    STDMETHODIMP Uninitialize() override;
    STDMETHODIMP RegisterWnd(ULONG) override;
    STDMETHODIMP DeregisterWnd(ULONG) override;
    STDMETHODIMP APDOpenEntry(ULONG, BSTR, ULONG) override;
    STDMETHODIMP APDCloseEntry(ULONG, BSTR) override;
    STDMETHODIMP APDWatchWndChange(ULONG, ULONG) override;
    STDMETHODIMP APDChangeEntryValueInt(ULONG, BSTR, LONG) override;
    STDMETHODIMP APDChangeEntryValueString(ULONG, BSTR, BSTR) override;
    STDMETHODIMP LUDOpen(BSTR, ULONG, ULONG*) override;
    STDMETHODIMP LUDClose(ULONG) override;
    STDMETHODIMP LUDGetEntryCount(ULONG, ULONG*) override;
    STDMETHODIMP LUDGetEntryName(ULONG, ULONG, BSTR*) override;
    STDMETHODIMP LUDGetEntryType(ULONG, ULONG, ULONG*) override;
    STDMETHODIMP LUDRefresh(ULONG) override;
    STDMETHODIMP LUDGetEntryValueInt(ULONG, ULONG, LONG*) override;
    STDMETHODIMP LUDGetEntryValueString(ULONG, ULONG, BSTR*) override;
    STDMETHODIMP GetGUIDString(BSTR*) override;
    STDMETHODIMP GetNewAppID(ULONG*) override;
    STDMETHODIMP APDCloseAllEntry(ULONG, BSTR) override;
    STDMETHODIMP DBLock() override;
    STDMETHODIMP DBUnlock() override;
    STDMETHODIMP LUDGetEntryValueBinary(ULONG, ULONG, VARIANT*) override;
    STDMETHODIMP APDChangeEntryValueBinary(ULONG, BSTR, VARIANT) override;
    STDMETHODIMP DBIsLocked(LONG*) override;
    STDMETHODIMP FileTransferOpen(BSTR, BSTR, BSTR, ULONG, ULONG*) override;
    STDMETHODIMP FileTransferClose(ULONG) override;
    STDMETHODIMP FileTransferExec(ULONG) override;
    STDMETHODIMP FileTransferGetTempName(ULONG, BSTR*) override;
    STDMETHODIMP APDWatchWndAdd(ULONG, ULONG, BSTR) override;
    STDMETHODIMP APDWatchWndDel(ULONG) override;
    STDMETHODIMP FileTransferGetNickname(ULONG, BSTR*) override;
    STDMETHODIMP FileTransferGetSenderName(ULONG, BSTR*) override;
    STDMETHODIMP GetIP(BSTR, BSTR*) override;
    STDMETHODIMP ProfSelectProfile(ULONG, BSTR, ULONG, LONG*) override;
    STDMETHODIMP GetServerVersion(ULONG*) override;
    STDMETHODIMP ProfClearProfile(ULONG, BSTR, LONG*) override;
    STDMETHODIMP LUProfileDirOpen(BSTR, ULONG, ULONG*) override;

private:
    HRESULT enter(const char* method);
    const FakeEntry* entry(ULONG handle, ULONG index, HRESULT& result);
    // As the real server: the length counts the terminating zero, an empty text is null.
    static BSTR serverString(const std::wstring& text);

    std::map<ULONG, std::wstring> open_;
    ULONG nextHandle_ = 100;
    LONG references_ = 1;
};
