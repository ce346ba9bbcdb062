#pragma once
// An element of which every terminal of a session holds one copy under one shared element id:
// exactly one copy is the master, all others are slaves. A slave asks its master ("REQ_"
// methods), the master instructs its slaves ("INS_" methods), and a change that every copy
// makes on its own ("COP_" methods) runs where it is entered and is relayed through the master
// to every other copy.
//
// A slave copy synchronises when it is plugged in: "initializeSlave" sends "requestSync" to the
// master, whose onSync sends its initialising calls to that slave alone ("INS_init..."), then
// "endSync"; the slave runs onEndSync and only then counts as synchronised.
//
// The owner sets the role (setMaster), the id (setId) and, on a slave, the master terminal
// before start; they are not changed while the copy is plugged in.
#include "CElement.h"

#include <atomic>
#include <string>

class CSharedElement : public CElement {
public:
    // A master copy (synchronised) without an id ("@INVALID_ELEMENT_GUID").
    CSharedElement();
    ~CSharedElement() override;

    // The shared element id; an error line when it is read before it was set.
    std::string getElementId() const override;
    CopyRole getCopyRole() const override;

    // The master's work for the slave that asked to be synchronised (the caller terminal):
    // send it the initialising calls with the replyToCaller operations.
    virtual void onSync() = 0;
    // The slave's work once its master has finished; the copy counts as synchronised after it.
    virtual void onEndSync() = 0;

    // The master role counts as synchronised; the slave role does not until "endSync".
    void setMaster(bool master);
    bool isMaster() const { return role_ == ROLE_MASTER; }
    bool isSynchronized() const { return synchronized_; }
    void setId(const std::string& id) { id_ = id; }
    void setMasterTerminal(const std::string& terminalId) { masterTerminal_ = terminalId; }
    // "@LOCAL_TERMINAL" on the master copy.
    std::string getMasterTerminal() const;

    // Field n (from 0) of the text cut at every occurrence of the separator; the last field runs
    // to the end of the text; the empty text for a field beyond the last.
    static std::string getToken(int n, const std::string& text, const std::string& separator);
    // Everything after the n-th occurrence of the separator; the empty text when the text has
    // fewer than n of them.
    static std::string getRest(int n, const std::string& text, const std::string& separator);

protected:
    // Calls to the copies of this element on other terminals, under its shared element id.
    // The wrong role throws CIllegalStateException and sends nothing; while the copy is not
    // plugged in, CIOException. An object argument goes with the call once it is sent.
    // To the terminal whose call is being run (master only); outside a method run by the
    // handler thread, CIllegalThreadStateException.
    void replyToCaller(const std::string& method);
    void replyToCallerObj(const std::string& method, ISerializable* object);
    void replyToCallerStr(const std::string& method, const std::string& text);
    void replyToCallerBuf(const std::string& method, int size, const unsigned char* bytes);
    void replyToCallerWndMsg(unsigned msg, unsigned wParam, unsigned lParam);
    // To every slave copy (master only).
    void sendToSlaves(const std::string& method);
    void sendToSlavesObj(const std::string& method, ISerializable* object);
    void sendToSlavesStr(const std::string& method, const std::string& text);
    void sendToSlavesBuf(const std::string& method, int size, const unsigned char* bytes);
    void sendToSlavesWndMsg(unsigned msg, unsigned wParam, unsigned lParam);
    // To the master copy (slave only).
    void sendToMaster(const std::string& method);
    void sendToMasterObj(const std::string& method, ISerializable* object);
    void sendToMasterStr(const std::string& method, const std::string& text);
    void sendToMasterBuf(const std::string& method, int size, const unsigned char* bytes);
    void sendToMasterWndMsg(unsigned msg, unsigned wParam, unsigned lParam);
    // A query to the master copy whose answer is a text (slave only).
    std::string queryMasterStr(const std::string& method);

    // A cooperative call that the caller has already run on its own copy: the master sends it
    // to every slave under its own name; a slave has the master run it and relay it to the
    // other slaves ("REQ_executeMasterMethod").
    void requestMasterMethod(const std::string& method, const std::string& argument);

    // The protocol, run on the handler thread.
    void initializeSlave();
    void requestSync();
    void endSync();
    void REQ_executeMasterMethod(const std::string& relay);
    void INS_executeSlaveMethod(const std::string& relay);

private:
    static const unsigned char ROLE_MASTER = 1;
    static const unsigned char ROLE_SLAVE = 0;

    std::string callerTerminal(const char* operation) const;
    void checkMaster(const char* operation) const;
    void checkSlave(const char* operation) const;
    bool isProtocolRole(bool master, const char* method) const;

    std::atomic<unsigned char> role_;
    std::string id_;
    std::string masterTerminal_;
    // Written by "endSync" on the handler thread, read by other threads as well.
    std::atomic<bool> synchronized_;
};
