#pragma once
// One call that must run on the UI thread: a method of an element (run by the record's
// executor) or a window message to a window that the invoker knows by name. A record handed to
// CLocalMethod::invokeByUiThread belongs to the invoker from then on; it is deleted once it has
// run, or at once when the call is refused.
#include <windows.h>

#include <memory>
#include <string>

class CElement;
class CIndirectMethodInfo;
class ISerializable;

// Runs a method-call record on the UI thread; what it returns is the call's result (for a
// query, the answer object's address, so the result is pointer-sized).
typedef LRESULT (*FP_IIM_EXECUTOR)(CIndirectMethodInfo* info);

// Call kinds. The asynchronous kinds are posted and not waited for; the synchronous ones make
// the caller wait for the result.
const int IIM_ASYNC_NOARG = 0;
const int IIM_ASYNC_OBJARG = 1;
const int IIM_ASYNC_BUFARG = 2;
const int IIM_ASYNC_WNDMSG = 3;
const int IIM_SYNC_NOARG = 4;
const int IIM_SYNC_OBJARG = 5;
const int IIM_SYNC_BUFARG = 6;
const int IIM_SYNC_WNDMSG = 7;

class CIndirectMethodInfo {
public:
    // A method call. The record owns the object argument (null for none) until takeArg, and
    // keeps a copy of bufSize bytes from buf when buf is not null; a negative size with a buffer
    // throws CIllegalArgumentException.
    CIndirectMethodInfo(int kind, CElement* target, const std::string& methodName, ISerializable* arg, int bufSize,
                        const void* buf);
    // A window message to the window entered under windowName.
    CIndirectMethodInfo(int kind, const std::string& windowName, UINT msg, WPARAM wParam, LPARAM lParam);
    virtual ~CIndirectMethodInfo();

    CIndirectMethodInfo(const CIndirectMethodInfo&) = delete;
    CIndirectMethodInfo& operator=(const CIndirectMethodInfo&) = delete;

    CElement* getTarget() const { return target_; }
    FP_IIM_EXECUTOR getExecutor() const { return executor_; }
    void setExecutor(FP_IIM_EXECUTOR executor) { executor_ = executor; }
    int getKind() const { return kind_; }
    const std::string& getMethodName() const { return methodName_; }
    // Hands the object argument (maybe null) over to the caller. It can be taken once: a second
    // call throws CNullPointerException.
    ISerializable* takeArg();
    int getBufSize() const { return bufSize_; }
    // The record's own copy; null when the call has no buffer.
    const unsigned char* getBuf() const { return buf_.get(); }
    const std::string& getWindowName() const { return windowName_; }
    UINT getMsg() const { return msg_; }
    WPARAM getWParam() const { return wParam_; }
    LPARAM getLParam() const { return lParam_; }

private:
    CElement* target_;
    FP_IIM_EXECUTOR executor_;
    int kind_;
    std::string methodName_;
    ISerializable* arg_;
    bool argTaken_;
    int bufSize_;
    std::unique_ptr<unsigned char[]> buf_;
    std::string windowName_;
    UINT msg_;
    WPARAM wParam_;
    LPARAM lParam_;
};
