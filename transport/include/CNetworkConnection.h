#pragma once
// Joins one transport to the messages of the element layer: a receive thread ("<name>-R") reads
// message after message from the input and hands each to onProcessMessage; a send thread
// ("<name>-S") writes the messages queued by notifyMessage to the output, oldest first. With an
// address getter and setter it chooses each block's destination itself.
//
// Calling order: construct; start once; notifyMessage from any thread; end of input on the
// transport (or a CIOException from the input); stop; destroy.
#include "IMessageListener.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <string>

class CVector;
class IAddressGetter;
class IAddressSetter;
class IMessage;
class IMessageInput;
class IMessageOutput;

class CNetworkConnection : public virtual IMessageListener {
public:
    // Messages waiting for the send thread, at most. Peers make this terminal send (replies,
    // forwarded installs) and the transport may be slower than the elements for a while (a
    // busy session retries for seconds); without a bound the queue would grow with the backlog.
    // The senders are this terminal's own threads, so past it they wait for room instead of
    // losing a message; the bursts of a session (a synchronisation) only slow them down.
    static constexpr int SEND_QUEUE_LIMIT = 1024;

    // The four belong to the caller and must outlive the connection; getter and setter may be
    // NULL. Starts nothing.
    CNetworkConnection(IMessageInput* input, IMessageOutput* output, IAddressGetter* getter, IAddressSetter* setter);
    // Messages still queued are released unsent. A connection started and not stopped stops the
    // process: its threads may still be running code of the deriving class.
    ~CNetworkConnection() override;
    CNetworkConnection(const CNetworkConnection&) = delete;
    CNetworkConnection& operator=(const CNetworkConnection&) = delete;

    // Starts both threads; a thread that cannot be started ends the process.
    void start(const std::string& name);
    // Waits, without a time-out, until both threads have ended. It does not end them: the
    // transport must deliver the end of input first.
    void stop();
    // Queues the message for the send thread (the connection owns it from here). With
    // SEND_QUEUE_LIMIT messages waiting it first waits until the send thread has made room; a
    // connection that ends meanwhile releases the message unsent, with an error line. Messages
    // queued after the threads ended are released with the connection (beyond the limit at once).
    void notifyMessage(IMessage* message) override;
    // Waits, at most timeoutMs, until the send queue is empty and the send thread's last write
    // has returned: what was queued before has left. True when it has; false after the time,
    // or when the connection ended first (what it still held was released unsent).
    bool waitUntilSent(DWORD timeoutMs);

protected:
    // Called on the receive thread for every received message, which it now owns.
    virtual void onProcessMessage(IMessage* message) = 0;
    // True when no thread was started, or stop() has waited for them.
    bool isStopped() const;

private:
    static void receivingEntry(void* self);
    static void sendingEntry(void* self);
    void receivingRun();
    void sendingRun();
    HANDLE startThread(const std::string& threadName, void (*body)(void*));
    IMessage* takeNext();
    void send(IMessage* message);
    void sendToAll(IMessage* message);
    void sendToOne(IMessage* message);
    void releaseQueued();

    IMessageInput* input_;
    IMessageOutput* output_;
    IAddressGetter* getter_;
    IAddressSetter* setter_;
    HANDLE receivingThread_;
    HANDLE sendingThread_;
    CVector* sendMsgQue_; // its monitor guards it and wakes the send thread
    std::condition_variable_any room_; // with the queue's monitor: wakes senders waiting for room
    std::condition_variable_any sent_; // with the queue's monitor: the queue ran empty
    bool writing_;                     // the queue's monitor: the send thread holds a message
    std::atomic<bool> running_;
    std::string name_;
};
