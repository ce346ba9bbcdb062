#include "CNetworkConnection.h"

#include "CIOException.h"
#include "CMethodCallMessage.h"
#include "CMonitorHold.h"
#include "CNullPointerException.h"
#include "CThread.h"
#include "CVector.h"
#include "IAddressGetter.h"
#include "IAddressSetter.h"
#include "IMessageInput.h"
#include "IMessageOutput.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

const char SCOPE[] = "CNetworkConnection";

enum Site {
    SITE_NOTIFY = 1,
    SITE_TAKE,
    SITE_END_OF_RECEPTION,
    SITE_RELEASE_QUEUED,
    SITE_SENT,
    SITE_WAIT_SENT,
};

} // namespace

CNetworkConnection::CNetworkConnection(IMessageInput* input, IMessageOutput* output, IAddressGetter* getter,
                                       IAddressSetter* setter)
    : input_(input), output_(output), getter_(getter), setter_(setter), receivingThread_(NULL),
      sendingThread_(NULL), sendMsgQue_(new CVector(10, -1)), writing_(false), running_(false)
{
}

CNetworkConnection::~CNetworkConnection()
{
    CTrace::trace(SCOPE, " ~CNetworkConnection()", 0);
    // Too late to wait for the threads here: the receive thread may be calling onProcessMessage
    // of the deriving class, which is gone already.
    if (!isStopped())
        CTrace::scopedFatalError(SCOPE, " ~CNetworkConnection(): [" + name_ + "] destroyed while running: end the input"
                                        " and call stop() first", -1);
    if (sendMsgQue_->size() > 0)
        CTrace::trace(SCOPE, " ~CNetworkConnection(): the messages left unprocessed in SendMsgQue are freed here,"
                             " nobody else can free them", 0);
    releaseQueued();
    delete sendMsgQue_;
}

void CNetworkConnection::start(const std::string& name)
{
    if (receivingThread_ != NULL || sendingThread_ != NULL) {
        CTrace::scopedError(SCOPE, " start(): the connection [" + name_ + "] was already started", -1);
        return;
    }
    name_ = name;
    running_ = true;
    CTrace::trace(SCOPE, " start(): making the receiving thread", 0);
    receivingThread_ = startThread(name_ + "-R", &CNetworkConnection::receivingEntry);
    CTrace::trace(SCOPE, " start(): making the sending thread", 0);
    sendingThread_ = startThread(name_ + "-S", &CNetworkConnection::sendingEntry);
}

// CThread objects free themselves when their body returns, so stop() waits on handles of our
// own: only the end of the thread itself proves that nothing of this object is used any more.
HANDLE CNetworkConnection::startThread(const std::string& threadName, void (*body)(void*))
{
    CThread* thread = new CThread(threadName, body, this);
    if (!thread->start(THREAD_PRIORITY_NORMAL, CREATE_SUSPENDED)) {
        delete thread;
        CTrace::scopedFatalError(SCOPE, " start(): the thread [" + threadName + "] cannot be started", -1);
    }
    HANDLE handle = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(), &handle, SYNCHRONIZE, FALSE,
                         0))
        CTrace::scopedFatalError(SCOPE, " start(): no handle to wait for the thread [" + threadName + "], error "
                                 + std::to_string(GetLastError()), -1);
    thread->resume(); // the thread object may be gone from here on
    return handle;
}

void CNetworkConnection::stop()
{
    HANDLE threads[2];
    DWORD count = 0;
    for (HANDLE handle : {receivingThread_, sendingThread_})
        if (handle != NULL)
            threads[count++] = handle;
    if (count > 0 && WaitForMultipleObjects(count, threads, TRUE, INFINITE) == WAIT_FAILED)
        CTrace::scopedError(SCOPE, " stop(): waiting for the threads failed, error " + std::to_string(GetLastError()),
                            -1);
    for (DWORD i = 0; i < count; ++i)
        CloseHandle(threads[i]);
    receivingThread_ = NULL;
    sendingThread_ = NULL;
    CTrace::trace(SCOPE, " stop(): the receiving and sending threads have stopped", 0);
}

bool CNetworkConnection::isStopped() const
{
    return receivingThread_ == NULL && sendingThread_ == NULL;
}

void CNetworkConnection::notifyMessage(IMessage* message)
{
    if (message == nullptr) {
        CTrace::scopedError(SCOPE, " notifyMessage(): the message passed to notifyMessage is NULL", -1);
        return;
    }
    CJObject* object = dynamic_cast<CJObject*>(message);
    if (object == nullptr) {
        CTrace::scopedError(SCOPE, " notifyMessage(): the object cannot be queued, the message passed to"
                                   " notifyMessage is not a library object", -1);
        IMessage::release(message);
        return;
    }
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " notifyMessage(): queueing " + message->toString(), 0);
    bool endedWhileWaiting = false;
    bool queued = false;
    try {
        CMonitorHold hold(*sendMsgQue_, SITE_NOTIFY, SCOPE);
        if (running_ && sendMsgQue_->size() >= SEND_QUEUE_LIMIT) {
            CTrace::trace(SCOPE, " notifyMessage(): SendMsgQue is full, waiting for room", 0);
            room_.wait(hold, [this] { return !running_ || sendMsgQue_->size() < SEND_QUEUE_LIMIT; });
            endedWhileWaiting = !running_;
        }
        if (!endedWhileWaiting && sendMsgQue_->size() < SEND_QUEUE_LIMIT) {
            sendMsgQue_->addElement(object);
            CTrace::trace(SCOPE, " notifyMessage(): waking the sending thread", 0);
            sendMsgQue_->notify();
            queued = true;
        }
    } catch (...) {
        IMessage::release(message);
        throw;
    }
    if (queued)
        return;
    if (endedWhileWaiting)
        CTrace::scopedError(SCOPE, " notifyMessage(): the connection ended while the message waited for room in"
                                   " SendMsgQue, it is released unsent " + message->toString(), -1);
    else
        CTrace::scopedError(SCOPE, " notifyMessage(): SendMsgQue is full and nobody empties it any more, the"
                                   " message is released unsent " + message->toString(), -1);
    IMessage::release(message);
}

void CNetworkConnection::receivingEntry(void* self)
{
    static_cast<CNetworkConnection*>(self)->receivingRun();
}

void CNetworkConnection::sendingEntry(void* self)
{
    static_cast<CNetworkConnection*>(self)->sendingRun();
}

void CNetworkConnection::receivingRun()
{
    CTrace::trace(SCOPE, " receivingRun(): starts", 0);
    CTrace::setThreadName(name_ + "-R");
    while (running_) {
        CTrace::trace(SCOPE, " receivingRun(): reading the next message", 0);
        IMessage* message;
        try {
            message = input_->read();
        } catch (CIOException& e) {
            CTrace::trace(SCOPE, " receivingRun(): " + e.getMessage(), 0);
            CTrace::trace(SCOPE, " receivingRun(): the receiving loop is left because of a CIOException", 0);
            break;
        }
        if (message == nullptr) {
            CTrace::trace(SCOPE, " receivingRun(): a NULL message is the stop signal of this thread", 0);
            running_ = false;
            continue;
        }
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " receivingRun(): received " + message->toString(), 0);
        try {
            onProcessMessage(message);
        } catch (CJException& e) {
            CTrace::scopedFatalError(SCOPE, " receivingRun(): an exception occurred in onProcessMessage ["
                                     + e.getMessage() + "]", -1);
        }
    }
    running_ = false;
    CTrace::trace(SCOPE, " receivingRun(): stopping the sending thread", 0);
    CMonitorHold hold(*sendMsgQue_, SITE_END_OF_RECEPTION, SCOPE);
    releaseQueued();
    CTrace::trace(SCOPE, " receivingRun(): the thread waiting on SendMsgQue is woken and goes into its ending", 0);
    sendMsgQue_->notify();
}

void CNetworkConnection::sendingRun()
{
    CTrace::trace(SCOPE, " sendingRun(): starts", 0);
    CTrace::setThreadName(name_ + "-S");
    while (running_) {
        IMessage* message = takeNext();
        if (message == nullptr) {
            CTrace::trace(SCOPE, " sendingRun(): woken, but no message was waiting", 0);
            continue;
        }
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " sendingRun(): sending " + message->toString(), 0);
        send(message);
        CTrace::trace(SCOPE, " sendingRun(): sent, the message is released", 0);
        IMessage::release(message);
        CMonitorHold hold(*sendMsgQue_, SITE_SENT, SCOPE);
        writing_ = false;
        if (sendMsgQue_->size() == 0)
            sent_.notify_all();
    }
    CTrace::trace(SCOPE, " sendingRun(): ends", 0);
}

// The oldest queued message, after waiting for one; NULL when the connection is ending.
IMessage* CNetworkConnection::takeNext()
{
    CMonitorHold hold(*sendMsgQue_, SITE_TAKE, SCOPE);
    if (!running_)
        return nullptr;
    if (sendMsgQue_->size() == 0) {
        CTrace::trace(SCOPE, " sendingRun(): SendMsgQue is empty, waiting", 0);
        sendMsgQue_->wait(INFINITE);
        CTrace::trace(SCOPE, " sendingRun(): woken", 0);
    }
    if (sendMsgQue_->size() == 0)
        return nullptr;
    CJObject* element = sendMsgQue_->firstElement();
    sendMsgQue_->removeElementAt(0);
    writing_ = true;
    if (sendMsgQue_->size() == SEND_QUEUE_LIMIT - 1)
        room_.notify_all();
    IMessage* message = dynamic_cast<IMessage*>(element);
    CTrace::scopedAssertTrue(message != nullptr, SCOPE, " sendingRun(): SendMsgQue held an object that is not a"
                                                        " message", -1);
    return message;
}

void CNetworkConnection::send(IMessage* message)
{
    if (getter_ == nullptr || setter_ == nullptr) {
        output_->write(message);
        return;
    }
    CTrace::trace(SCOPE, " sendingRun(): the sending module cannot resolve addresses by itself", 0);
    if (message->getRecTermId() == CMethodCallMessage::ALL_TERMINAL)
        sendToAll(message);
    else
        sendToOne(message);
}

void CNetworkConnection::sendToAll(IMessage* message)
{
    CTrace::trace(SCOPE, " sendingRun(): the destination is the all-terminals macro", 0);
    std::vector<std::string> ipAddresses;
    std::vector<int> portNums;
    getter_->getAllAddresses(ipAddresses, portNums);
    if (ipAddresses.size() != portNums.size())
        CTrace::scopedError(SCOPE, " sendingRun(): the address lists differ in length, "
                            + std::to_string(ipAddresses.size()) + " and " + std::to_string(portNums.size()), -1);
    size_t count = std::min(ipAddresses.size(), portNums.size());
    if (count == 0) {
        CTrace::trace(SCOPE, " sendingRun(): not one address is registered", 0);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        CTrace::trace(SCOPE, " sendingRun(): to " + ipAddresses[i] + ":" + std::to_string(portNums[i]), 0);
        setter_->setAddress(ipAddresses[i], portNums[i]);
        output_->write(message);
    }
    CTrace::trace(SCOPE, " sendingRun(): all outputs are done", 0);
}

void CNetworkConnection::sendToOne(IMessage* message)
{
    std::string ipAddress;
    int portNum = 0;
    try {
        getter_->getAddress(message->getRecTermId(), ipAddress, portNum);
    } catch (CNullPointerException& e) {
        // Writing anyway would send the block wherever the previous message went.
        CTrace::trace(SCOPE, " sendingRun(): the destination address was not obtained: " + e.getMessage(), 0);
        CTrace::trace(SCOPE, " sendingRun(): the message is dropped", 0);
        return;
    }
    setter_->setAddress(ipAddress, portNum);
    output_->write(message);
}

void CNetworkConnection::releaseQueued()
{
    CMonitorHold hold(*sendMsgQue_, SITE_RELEASE_QUEUED, SCOPE);
    while (sendMsgQue_->size() > 0) {
        CJObject* element = sendMsgQue_->firstElement();
        sendMsgQue_->removeElementAt(0);
        IMessage::release(dynamic_cast<IMessage*>(element));
    }
    // At the end of reception nobody sends any more: senders waiting for room give up, and
    // whoever waits for the queue to run empty stops waiting.
    room_.notify_all();
    sent_.notify_all();
}

bool CNetworkConnection::waitUntilSent(DWORD timeoutMs)
{
    CMonitorHold hold(*sendMsgQue_, SITE_WAIT_SENT, SCOPE);
    auto drained = [this] { return sendMsgQue_->size() == 0 && !writing_; };
    sent_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return drained() || !running_; });
    if (!drained())
        CTrace::trace(SCOPE, " waitUntilSent(): " + std::to_string(sendMsgQue_->size()) + " messages of [" + name_
                                 + "] have not left",
                      0);
    return drained();
}
