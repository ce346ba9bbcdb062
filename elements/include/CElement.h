#pragma once
// Base of everything that takes part in method calls, local or remote. An element publishes
// its methods by name (registerMethod, in the deriving class's constructor); callers never call
// them directly but send a method call, which the element's own handler thread takes from its
// queue and runs through the dispatch below, one call at a time.
//
// An element is reached under two names: its object id, under which the threads and windows of
// this process post local calls through CLocalMethod (from start to end), and its element id,
// under which the message gate of a session delivers remote calls (from plugIn to plugOut).
// While plugged in it calls other elements through the session's proxy.
//
// Life cycle, on the owner's thread: construct, start, any number of plugIn/plugOut pairs, end,
// delete. plugOut and end wait for the handler thread, so an element's own methods never call
// them.
#include "CJObject.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
#include <variant>

class CElementHandler;
class CIndirectMethodInfo;
class CProxyElement;
class CWndMsg;
class IMessageSource;
class ISerializable;

class CElement {
public:
    // The method kinds. Each registered name keeps the kind it was registered with, and a call
    // runs a method only through that kind's signature. Byte buffers come as count and bytes;
    // texts travel as byte buffers (the characters, no terminating zero).
    typedef void (CElement::*FP_IIM)();
    typedef void (CElement::*FP_IIM_ARG)(ISerializable* arg);
    typedef void (CElement::*FP_IIM_BUFARG)(int size, const unsigned char* bytes);
    typedef void (CElement::*FP_IIM_STRARG)(const std::string& text);
    typedef ISerializable* (CElement::*FP_SYNC_IIM)();
    typedef ISerializable* (CElement::*FP_SYNC_IIM_ARG)(ISerializable* arg);
    typedef ISerializable* (CElement::*FP_SYNC_IIM_BUFARG)(int size, const unsigned char* bytes);
    typedef ISerializable* (CElement::*FP_SYNC_IIM_STRARG)(const std::string& text);
    typedef std::string (CElement::*FP_SYNC_IIM_STRRV)();

    // The part a copy plays in a replicated element. The handler drops calls to "@HAS_MASTER"
    // on slave copies and calls to "@HAS_SLAVE" on the master copy; plugIn starts a slave
    // copy's synchronisation ("initializeSlave"). Plain elements take both and start nothing.
    enum CopyRole { NOT_SHARED, MASTER_COPY, SLAVE_COPY };

    CElement();
    // An element still started (or plugged in) stops the process: its handler thread would call
    // into what is left of it. Call plugOut() and end() first.
    virtual ~CElement();
    CElement(const CElement&) = delete;
    CElement& operator=(const CElement&) = delete;

    // Hooks for the deriving class; they run on the handler thread after plugIn and during plugOut.
    virtual void onPlugIn(const std::string& text);
    virtual void onPlugOut(const std::string& text);
    virtual std::string getElementId() const;
    virtual CopyRole getCopyRole() const;

    // Life cycle. Contract violations throw CIllegalStateException and change nothing.
    // start: the name names the handler thread in the trace; the object id becomes the next
    // process-unique name ("0", "1", ...).
    void start(const std::string& name);
    // Called by the session handle: remote calls for getElementId() reach the handler from now
    // on, and "onPlugIn" (for a slave copy then "initializeSlave") is queued for it.
    void plugIn(const std::string& terminalId, IMessageSource* source, CProxyElement* proxy, const std::string& text);
    // Returns once onPlugOut has run on the handler thread, after every call queued before it,
    // also when onPlugOut throws.
    void plugOut();
    void end();

    const std::string& getObjectId() const { return objectId_; }
    void setObjectId(const std::string& id) { objectId_ = id; }
    void setElementId(const std::string& id) { elementId_ = id; }
    // The own terminal id in the session the element was last plugged into.
    const std::string& getTerminalId() const { return terminalId_; }
    // The sender terminal of the call being run; CNullPointerException between calls.
    std::string getCallerTerminal() const;
    // Set by the handler thread around each call; NULL clears it.
    void setCallerTerminal(const std::string* terminal);

    // Dispatch, called by the handler thread with the name and the argument of a call. A name
    // that is not registered with the kind the call needs throws CNoSuchMethodException. An
    // object argument belongs to the dispatch from the call on (the method takes it over).
    void executeMethod(const std::string& name);
    // A CWndMsg is posted to the window entered under the object id; no method runs.
    void executeMethodArg(const std::string& name, ISerializable* object);
    void executeMethodBuf(const std::string& name, int size, const unsigned char* bytes);
    ISerializable* executeSyncMethod(const std::string& name);
    // A CWndMsg is sent to the window entered under the object id and answered with a CWndMsg
    // whose lParam is the window's result.
    ISerializable* executeSyncMethodArg(const std::string& name, ISerializable* object);
    ISerializable* executeSyncMethodBuf(const std::string& name, int size, const unsigned char* bytes);
    // A FP_IIM_STRARG method, run on the calling thread (the shared element's relay).
    void executeStrMethod(const std::string& name, const std::string& text);

    // Executors of the call records that carry a window element's calls to the UI thread.
    static LRESULT Execute(CIndirectMethodInfo* call);
    static LRESULT ExecuteSync(CIndirectMethodInfo* call);
    // True when the element is a window and the calling thread is a registered UI thread.
    static bool isGuiElementOnUiThread(const CElement* element);

protected:
    // One overload per kind; a name may be registered once (CIllegalArgumentException).
    void registerMethod(const std::string& name, FP_IIM method);
    void registerMethod(const std::string& name, FP_IIM_ARG method);
    void registerMethod(const std::string& name, FP_IIM_BUFARG method);
    void registerMethod(const std::string& name, FP_IIM_STRARG method);
    void registerMethod(const std::string& name, FP_SYNC_IIM method);
    void registerMethod(const std::string& name, FP_SYNC_IIM_ARG method);
    void registerMethod(const std::string& name, FP_SYNC_IIM_BUFARG method);
    void registerMethod(const std::string& name, FP_SYNC_IIM_STRARG method);
    void registerMethod(const std::string& name, FP_SYNC_IIM_STRRV method);
    // A deriving class registers its own members: registerMethod("LOC_x", &CMine::x).
    template <class T> void registerMethod(const std::string& name, void (T::*method)())
    {
        registerMethod(name, static_cast<FP_IIM>(method));
    }
    template <class T> void registerMethod(const std::string& name, void (T::*method)(ISerializable*))
    {
        registerMethod(name, static_cast<FP_IIM_ARG>(method));
    }
    template <class T> void registerMethod(const std::string& name, void (T::*method)(int, const unsigned char*))
    {
        registerMethod(name, static_cast<FP_IIM_BUFARG>(method));
    }
    template <class T> void registerMethod(const std::string& name, void (T::*method)(const std::string&))
    {
        registerMethod(name, static_cast<FP_IIM_STRARG>(method));
    }
    template <class T> void registerMethod(const std::string& name, ISerializable* (T::*method)())
    {
        registerMethod(name, static_cast<FP_SYNC_IIM>(method));
    }
    template <class T> void registerMethod(const std::string& name, ISerializable* (T::*method)(ISerializable*))
    {
        registerMethod(name, static_cast<FP_SYNC_IIM_ARG>(method));
    }
    template <class T>
    void registerMethod(const std::string& name, ISerializable* (T::*method)(int, const unsigned char*))
    {
        registerMethod(name, static_cast<FP_SYNC_IIM_BUFARG>(method));
    }
    template <class T>
    void registerMethod(const std::string& name, ISerializable* (T::*method)(const std::string&))
    {
        registerMethod(name, static_cast<FP_SYNC_IIM_STRARG>(method));
    }
    template <class T> void registerMethod(const std::string& name, std::string (T::*method)())
    {
        registerMethod(name, static_cast<FP_SYNC_IIM_STRRV>(method));
    }

    // Calls to other elements through the session's proxy. Destinations are a terminal id or a
    // destination word ("@HAS_MASTER", ...). Not plugged in: CIOException, nothing is sent, and
    // an object argument stays the caller's. Otherwise an object argument goes with the call.
    void sendNotice(const std::string& recTermId, const std::string& recElemId, const std::string& method);
    void sendNoticeObj(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                       ISerializable* object);
    void sendNoticeStr(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                       const std::string& text);
    void sendNoticeBuf(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                       int size, const unsigned char* bytes);
    void sendWndMsg(const std::string& recTermId, const std::string& recElemId, unsigned msg, unsigned wParam,
                    unsigned lParam);
    // Queries return the answer object (the caller's) or throw what the proxy throws: its
    // failures by value, the remote method's exception as an ISerializable pointer.
    ISerializable* query(const std::string& recTermId, const std::string& recElemId, const std::string& method);
    ISerializable* queryObj(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                            ISerializable* object);
    ISerializable* queryWithStr(const std::string& recTermId, const std::string& recElemId,
                                const std::string& method, const std::string& text);
    ISerializable* queryBuf(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                            int size, const unsigned char* bytes);
    // An answer of another class than CWndMsg or CJString throws CUnexpectedException.
    unsigned queryWndMsg(const std::string& recTermId, const std::string& recElemId, unsigned msg, unsigned wParam,
                         unsigned lParam);
    std::string queryStr(const std::string& recTermId, const std::string& recElemId, const std::string& method);

private:
    typedef std::variant<FP_IIM, FP_IIM_ARG, FP_IIM_BUFARG, FP_IIM_STRARG, FP_SYNC_IIM, FP_SYNC_IIM_ARG,
                         FP_SYNC_IIM_BUFARG, FP_SYNC_IIM_STRARG, FP_SYNC_IIM_STRRV>
        Method;

    void addMethod(const std::string& name, Method method);
    const Method* findMethod(const std::string& name) const;
    template <class FP> FP methodOfKind(const Method* entry, const std::string& name) const;
    template <class FP> FP requireMethod(const Method* entry, const std::string& name) const;
    template <class FP> FP requireMethodFor(const std::string& name, ISerializable* object) const;
    static bool takeWndMsg(ISerializable* object, CWndMsg& message);
    void deliverOnPlugOut(const std::string& text);
    bool isWindowOffUiThread() const;
    bool runOnUiThread(int kind, const std::string& name, ISerializable* object, int size,
                       const unsigned char* bytes);
    ISerializable* execSyncByUiThread(int kind, const std::string& name, ISerializable* object, int size,
                                      const unsigned char* bytes);
    CProxyElement* connectedProxy() const;
    void checkNotOnHandlerThread(const char* operation) const;

    std::unordered_map<std::string, Method> methods_;
    CElementHandler* handler_;
    std::atomic<CProxyElement*> proxy_;
    std::string plugInText_;
    std::string objectId_;
    std::string elementId_;
    std::string terminalId_;
    mutable std::mutex callerLock_;
    bool callerSet_;
    std::string callerTerminal_;
    CJObject plugOutMonitor_;
    bool plugOutPending_; // plugOutMonitor_: a plug-out waits for "executeOnPlugOut"
    bool plugOutDone_;    // plugOutMonitor_
};
