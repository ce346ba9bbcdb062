#include "CDirectPlay.h"

#include "CBuffer.h"
#include "CDPServiceProvider.h"
#include "CFatalTroubleException.h"
#include "CFatalTroubleRecommendRebootException.h"
#include "CGuid.h"
#include "CIOException.h"
#include "CIllegalStateException.h"
#include "CMessageTransmitter.h"
#include "CMethodCallBlock.h"
#include "CMonitorHold.h"
#include "CPlayerId.h"
#include "CSessionEvent.h"
#include "CVector.h"
#include "DPlayCreateInstance.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

const char SCOPE[] = "CDirectPlay";

enum Site {
    SITE_OPEN_LOCAL = 1,
    SITE_OPEN_REMOTE,
    SITE_CLOSE,
    SITE_SESSION_CLOSED_RECEIVE,
    SITE_SESSION_CLOSED_SEND,
    SITE_RECEIVE,
    SITE_SEND,
    SITE_NOTIFY_LEAVE,
    SITE_RECEIVE_THREAD,
    SITE_SELF_QUEUE,
};

std::atomic<CDirectPlay::CreateInstanceFunction> s_createInstance{&DPlayCreateInstance};
std::atomic<int> s_dpComUseCount{0};

// Locks of CDirectPlay objects the calling thread holds: events found meanwhile are told once
// it holds none.
thread_local int t_lockDepth = 0;

std::string hex32(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::string resultText(HRESULT result)
{
    return CDirectPlay::getErrorName(result) + " (" + hex32(static_cast<DWORD>(result)) + ")";
}

std::string number(DWORD value)
{
    return std::to_string(static_cast<unsigned long>(value));
}

// The short name of a system message's player: the text DirectPlay placed in the message,
// read within it; "" for none.
std::string shortNameOf(const DPNAME& name, const unsigned char* message, DWORD size)
{
    const char* text = name.lpszShortNameA;
    if (text == nullptr)
        return std::string();
    const char* begin = reinterpret_cast<const char*>(message);
    const char* end = begin + size;
    if (text >= begin && text < end) {
        const void* nul = std::memchr(text, 0, static_cast<size_t>(end - text));
        if (nul == nullptr) {
            CTrace::scopedError(SCOPE, " processSystemMessage(): the player's short name does not end inside the"
                                       " message",
                                -1);
            return std::string();
        }
        return std::string(text, static_cast<const char*>(nul));
    }
    // Outside the message: DirectPlay's own memory.
    return std::string(text);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Locks

CDirectPlay::SendLockHold::SendLockHold(CDirectPlay& directPlay, int site, const char* scope)
    : directPlay_(directPlay)
{
    directPlay_.lockSend(site, scope);
}

CDirectPlay::SendLockHold::~SendLockHold()
{
    directPlay_.unlockSend();
}

void CDirectPlay::lockReceive(int site)
{
    receiveLock_.ObjectLock(site, SCOPE);
    ++t_lockDepth;
}

void CDirectPlay::unlockReceive()
{
    receiveLock_.ObjectUnLock();
    lockReleased();
}

void CDirectPlay::lockSend(int site, const char* scope)
{
    sendLock_.ObjectLock(site, scope);
    ++t_lockDepth;
}

void CDirectPlay::unlockSend()
{
    sendLock_.ObjectUnLock();
    lockReleased();
}

void CDirectPlay::lockReleased()
{
    if (--t_lockDepth == 0)
        flushEvents();
}

// ---------------------------------------------------------------------------------------------
// Construction

CDirectPlay::CDirectPlay(const std::string& terminalId, bool isHost, int busyRetrySeconds)
    : terminalId_(terminalId), pTerminalIdText_(nullptr), rpDirectPlayInterface_(nullptr),
      rpDirectPlayLobby_(nullptr), sessionGuid_(GUID_NULL), myPlayerId_(0), ALIVE_EVENT_(NULL),
      serviceProviders_(new CVector(10, -1)), pReceiveBuffer_(nullptr), receiveBufferSize_(0),
      pMessageTransmitter_(nullptr), SelfMsgQue_(new CVector(10, -1)), selfQueueBytes_(0), sessionClosed_(true),
      isHost_(isHost), busyRetrySeconds_(static_cast<double>(busyRetrySeconds)), readFromDPFirst_(true),
      mayOccupyReceiveThread_(true), holdsCom_(false), now_(&GetTickCount64), sleep_(&Sleep)
{
    CTrace::trace(SCOPE, " CDirectPlay(): [" + terminalId_ + "] " + (isHost_ ? "host" : "member"), 0);
    prepareMsgBuf(INITIAL_RECEIVE_BUFFER_SIZE);
    pTerminalIdText_ = new unsigned char[terminalId_.size() + 1];
    std::memset(pTerminalIdText_, 0, terminalId_.size() + 1);
    std::memcpy(pTerminalIdText_, terminalId_.data(), terminalId_.size());
    // Manual reset: set by DirectPlay for every arrival and by wakeup; the receiver resets it
    // after each wait and looks again, so that no arrival is missed.
    ALIVE_EVENT_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ALIVE_EVENT_ == NULL)
        CTrace::scopedError(SCOPE, " CDirectPlay(): ALIVE_EVENT cannot be made, error " + number(GetLastError()), -1);
}

CDirectPlay::~CDirectPlay()
{
    CTrace::trace(SCOPE, " ~CDirectPlay(): [" + terminalId_ + "]", 0);
    stopBacklogs();
    releaseDP();
    if (ALIVE_EVENT_ != NULL)
        CloseHandle(ALIVE_EVENT_);
    delete[] pReceiveBuffer_;
    delete[] pTerminalIdText_;
    SelfMsgQue_->deleteAllElements();
    delete SelfMsgQue_;
    delete serviceProviders_;
}

CDirectPlay::CreateInstanceFunction CDirectPlay::setCreateInstance(CreateInstanceFunction function)
{
    return s_createInstance.exchange(function != nullptr ? function : &DPlayCreateInstance);
}

int CDirectPlay::getComUseCount()
{
    return s_dpComUseCount;
}

void CDirectPlay::setRetryClock(ClockFunction now, SleepFunction sleep)
{
    now_ = std::move(now);
    sleep_ = std::move(sleep);
}

void CDirectPlay::setMessageTransmitter(CMessageTransmitter* transmitter)
{
    pMessageTransmitter_ = transmitter;
}

void CDirectPlay::setSessionClosed(bool closed)
{
    lockReceive(SITE_SESSION_CLOSED_RECEIVE);
    lockSend(SITE_SESSION_CLOSED_SEND, SCOPE);
    sessionClosed_ = closed;
    unlockSend();
    unlockReceive();
}

void CDirectPlay::wakeup()
{
    if (ALIVE_EVENT_ != NULL)
        SetEvent(ALIVE_EVENT_);
}

unsigned char* CDirectPlay::prepareMsgBuf(DWORD wanted)
{
    if (receiveBufferSize_ < wanted) {
        delete[] pReceiveBuffer_;
        pReceiveBuffer_ = nullptr;
        receiveBufferSize_ = 0;
        pReceiveBuffer_ = new unsigned char[wanted];
        receiveBufferSize_ = wanted;
    }
    CTrace::scopedAssertTrue(pReceiveBuffer_ != nullptr, SCOPE, " prepareMsgBuf(): no receive buffer", -1);
    return pReceiveBuffer_;
}

// ---------------------------------------------------------------------------------------------
// Set-up

void CDirectPlay::initializeDP(const std::string& ipAddress)
{
    CTrace::trace(SCOPE, " initializeDP(): [" + ipAddress + "]", 0);
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr))
        throw CFatalTroubleException(" initializeDP(): CoInitialize failed " + hex32(static_cast<DWORD>(hr)));
    holdsCom_ = true;
    CTrace::trace(SCOPE, " initializeDP(): dpComUseCount=" + std::to_string(++s_dpComUseCount), 0);

    void* object = nullptr;
    hr = s_createInstance.load()(CLSID_DirectPlay, IID_IDirectPlay4A, &object);
    if (FAILED(hr) || object == nullptr)
        throw CFatalTroubleException(" initializeDP(): the DirectPlay object cannot be made " + resultText(hr));
    rpDirectPlayInterface_ = static_cast<IDirectPlay4A*>(object);

    if (ALIVE_EVENT_ == NULL)
        throw CFatalTroubleException(" initializeDP(): ALIVE_EVENT does not exist");

    hr = rpDirectPlayInterface_->EnumConnections(nullptr, &CDirectPlay::enumConnectionsCallback, this,
                                                 DPCONNECTION_DIRECTPLAY);
    if (FAILED(hr))
        throw CFatalTroubleException(" initializeDP(): EnumConnections failed " + resultText(hr));

    bool tcpIp = false;
    for (int i = 0; i < serviceProviders_->size(); ++i)
        tcpIp = tcpIp || static_cast<CDPServiceProvider*>(serviceProviders_->elementAt(i))->isTCPIP();
    if (!tcpIp)
        throw CFatalTroubleException(" initializeDP(): no TCP/IP service provider");

    unsigned char* address = createDPAddress(ipAddress);
    if (address == nullptr)
        throw CFatalTroubleException(" initializeDP(): the DirectPlay address cannot be made");
    hr = rpDirectPlayInterface_->InitializeConnection(address, 0);
    delete[] address;
    if (FAILED(hr))
        throw CFatalTroubleException(" initializeDP(): InitializeConnection failed " + resultText(hr));
    CTrace::trace(SCOPE, " initializeDP(): the TCP/IP connection is ready", 0);
}

BOOL FAR PASCAL CDirectPlay::enumConnectionsCallback(LPCGUID guid, LPVOID connection, DWORD size, LPCDPNAME,
                                                     DWORD, LPVOID context)
{
    CDirectPlay* self = static_cast<CDirectPlay*>(context);
    CDPServiceProvider* provider = nullptr;
    try {
        provider = new CDPServiceProvider();
        provider->setInfo(guid != nullptr ? *guid : GUID_NULL, connection, size);
        self->serviceProviders_->addElement(provider);
    } catch (...) {
        delete provider;
        CTrace::scopedError(SCOPE, " enumConnectionsCallback(): the provider cannot be recorded", -1);
        return FALSE;
    }
    CTrace::trace(SCOPE, " enumConnectionsCallback(): " + CGuid::guidToString(provider->getGuid()), 0);
    return provider->isTCPIP() ? FALSE : TRUE;
}

unsigned char* CDirectPlay::createDPAddress(const std::string& ipAddress)
{
    if (ipAddress.size() > MAX_IP_TEXT_LENGTH) {
        CTrace::scopedError(SCOPE, " createDPAddress(): the IP text is longer than 255 characters", -1);
        return nullptr;
    }
    if (rpDirectPlayLobby_ == nullptr) {
        void* first = nullptr;
        HRESULT hr = s_createInstance.load()(CLSID_DirectPlayLobby, IID_IDirectPlayLobbyA, &first);
        if (FAILED(hr) || first == nullptr) {
            CTrace::trace(SCOPE, " createDPAddress(): the lobby cannot be made " + resultText(hr), 0);
            return nullptr;
        }
        IDirectPlayLobbyA* lobby = static_cast<IDirectPlayLobbyA*>(first);
        void* third = nullptr;
        hr = lobby->QueryInterface(IID_IDirectPlayLobby3A, &third);
        lobby->Release();
        if (FAILED(hr) || third == nullptr) {
            CTrace::trace(SCOPE, " createDPAddress(): the lobby has no IDirectPlayLobby3A " + resultText(hr), 0);
            return nullptr;
        }
        rpDirectPlayLobby_ = static_cast<IDirectPlayLobby3A*>(third);
    }
    char inet[MAX_IP_TEXT_LENGTH + 1];
    std::memset(inet, 0, sizeof inet);
    std::memcpy(inet, ipAddress.data(), ipAddress.size());
    DPCOMPOUNDADDRESSELEMENT elements[2];
    elements[0].guidDataType = DPAID_ServiceProvider;
    elements[0].dwDataSize = sizeof(GUID);
    elements[0].lpData = const_cast<GUID*>(&DPSPGUID_TCPIP);
    elements[1].guidDataType = DPAID_INet;
    elements[1].dwDataSize = static_cast<DWORD>(ipAddress.size() + 1);
    elements[1].lpData = inet;

    DWORD size = 0;
    HRESULT hr = rpDirectPlayLobby_->CreateCompoundAddress(elements, 2, nullptr, &size);
    if (hr != DPERR_BUFFERTOOSMALL) {
        CTrace::trace(SCOPE, " createDPAddress(): CreateCompoundAddress did not ask for a buffer " + resultText(hr), 0);
        return nullptr;
    }
    unsigned char* address = new unsigned char[size > 0 ? size : 1];
    hr = rpDirectPlayLobby_->CreateCompoundAddress(elements, 2, address, &size);
    if (FAILED(hr)) {
        delete[] address;
        CTrace::trace(SCOPE, " createDPAddress(): CreateCompoundAddress failed " + resultText(hr), 0);
        return nullptr;
    }
    return address;
}

void CDirectPlay::releaseDP()
{
    if (rpDirectPlayInterface_ != nullptr) {
        rpDirectPlayInterface_->Release();
        rpDirectPlayInterface_ = nullptr;
    }
    if (rpDirectPlayLobby_ != nullptr) {
        rpDirectPlayLobby_->Release();
        rpDirectPlayLobby_ = nullptr;
    }
    if (serviceProviders_->size() > 0)
        serviceProviders_->deleteAllElements();
    if (holdsCom_) {
        holdsCom_ = false;
        CTrace::trace(SCOPE, " releaseDP(): dpComUseCount=" + std::to_string(--s_dpComUseCount), 0);
        CoUninitialize();
    }
}

void CDirectPlay::readSessionGuid()
{
    DWORD size = 0;
    rpDirectPlayInterface_->GetSessionDesc(nullptr, &size);
    if (size < sizeof(DPSESSIONDESC2)) {
        CTrace::scopedError(SCOPE, " readSessionGuid(): DirectPlay gives no session description", -1);
        return;
    }
    std::vector<unsigned char> buffer(size);
    HRESULT hr = rpDirectPlayInterface_->GetSessionDesc(buffer.data(), &size);
    if (FAILED(hr) || size < sizeof(DPSESSIONDESC2)) {
        CTrace::scopedError(SCOPE, " readSessionGuid(): GetSessionDesc failed " + resultText(hr), -1);
        return;
    }
    DPSESSIONDESC2 desc;
    std::memcpy(&desc, buffer.data(), sizeof desc);
    sessionGuid_ = desc.guidInstance;
    CTrace::trace(SCOPE, " readSessionGuid(): " + CGuid::guidToString(sessionGuid_), 0);
}

void CDirectPlay::traceCaps(DWORD flags)
{
    DPCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    rpDirectPlayInterface_->GetCaps(&caps, flags);
    if (!CTrace::isTraced(SCOPE))
        return;
    static const struct {
        DWORD flag;
        const char* name;
    } names[] = {
        {DPCAPS_ASYNCCANCELALLSUPPORTED, "DPCAPS_ASYNCCANCELALLSUPPORTED"},
        {DPCAPS_ASYNCCANCELSUPPORTED, "DPCAPS_ASYNCCANCELSUPPORTED"},
        {DPCAPS_ASYNCSUPPORTED, "DPCAPS_ASYNCSUPPORTED"},
        {DPCAPS_ENCRYPTIONSUPPORTED, "DPCAPS_ENCRYPTIONSUPPORTED"},
        {DPCAPS_GROUPOPTIMIZED, "DPCAPS_GROUPOPTIMIZED"},
        {DPCAPS_GUARANTEEDOPTIMIZED, "DPCAPS_GUARANTEEDOPTIMIZED"},
        {DPCAPS_GUARANTEEDSUPPORTED, "DPCAPS_GUARANTEEDSUPPORTED"},
        {DPCAPS_ISHOST, "DPCAPS_ISHOST"},
        {DPCAPS_KEEPALIVEOPTIMIZED, "DPCAPS_KEEPALIVEOPTIMIZED"},
        {DPCAPS_SENDPRIORITYSUPPORTED, "DPCAPS_SENDPRIORITYSUPPORTED"},
        {DPCAPS_SENDTIMEOUTSUPPORTED, "DPCAPS_SENDTIMEOUTSUPPORTED"},
        {DPCAPS_SIGNINGSUPPORTED, "DPCAPS_SIGNINGSUPPORTED"},
    };
    std::string text = " caps(" + hex32(flags) + "): dwHeaderLength=" + number(caps.dwHeaderLength)
                       + " dwHundredBaud=" + number(caps.dwHundredBaud) + " dwLatency=" + number(caps.dwLatency)
                       + " dwMaxBufferSize=" + number(caps.dwMaxBufferSize) + " dwTimeout=" + number(caps.dwTimeout)
                       + " dwMaxLocalPlayers=" + number(caps.dwMaxLocalPlayers)
                       + " dwMaxPlayers=" + number(caps.dwMaxPlayers);
    for (const auto& entry : names)
        if ((caps.dwFlags & entry.flag) != 0)
            text += std::string(" ") + entry.name;
    CTrace::trace(SCOPE, text, 0);
}

HRESULT CDirectPlay::createPlayer(DWORD flags)
{
    DPNAME name;
    std::memset(&name, 0, sizeof name);
    name.dwSize = sizeof name;
    name.lpszShortNameA = reinterpret_cast<LPSTR>(pTerminalIdText_);
    name.lpszLongNameA = nullptr;
    return rpDirectPlayInterface_->CreatePlayer(&myPlayerId_, &name, ALIVE_EVENT_, nullptr, 0, flags);
}

std::string CDirectPlay::open(const std::string& applicationGuid)
{
    CMonitorHold hold(*this, SITE_OPEN_LOCAL, SCOPE);
    CTrace::trace(SCOPE, " open(): hosting a session of " + applicationGuid, 0);
    if (!isHost_)
        CTrace::scopedFatalError(SCOPE, " open(): a member cannot host a session", -1);
    if (!sessionClosed_)
        throw CIllegalStateException(" open(): a session is open already");
    refuseSecondOpen();
    GUID application = CGuid::stringToGuid(applicationGuid);
    initializeDP("");

    DPSESSIONDESC2 desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DPSESSION_KEEPALIVE | DPSESSION_CLIENTSERVER | DPSESSION_DIRECTPLAYPROTOCOL;
    desc.guidApplication = application;
    desc.dwMaxPlayers = 0;
    desc.dwCurrentPlayers = 0;
    desc.lpszSessionNameA = const_cast<LPSTR>(SESSION_NAME);
    desc.lpszPasswordA = nullptr;
    HRESULT hr = rpDirectPlayInterface_->Open(&desc, DPOPEN_CREATE);
    if (hr == DPERR_GENERIC)
        throw CFatalTroubleRecommendRebootException(" open(): the session cannot be created " + resultText(hr));
    if (FAILED(hr))
        throw CFatalTroubleException(" open(): the session cannot be created " + resultText(hr));

    readSessionGuid();
    traceCaps(0);
    traceCaps(DPGETCAPS_GUARANTEED);
    hr = createPlayer(DPPLAYER_SERVERPLAYER);
    if (FAILED(hr))
        throw CFatalTroubleException(" open(): the server player cannot be created " + resultText(hr));
    CTrace::trace(SCOPE, " open(): the server player is " + number(myPlayerId_), 0);
    setSessionClosed(false);
    return CGuid::guidToString(sessionGuid_);
}

void CDirectPlay::refuseSecondOpen()
{
    // What a failed open holds stays until deletion; a second initialisation would take COM
    // and DirectPlay again and lose the first. (A join whose session vanished gave it back.)
    if (holdsCom_ || rpDirectPlayInterface_ != nullptr)
        throw CIllegalStateException(" open(): this object was opened before, a new session needs a new object");
}

BOOL FAR PASCAL CDirectPlay::enumSessionsCallback(LPCDPSESSIONDESC2 desc, LPDWORD, DWORD flags, LPVOID context)
{
    if ((flags & DPESC_TIMEDOUT) != 0 || desc == nullptr) {
        CTrace::trace(SCOPE, " enumSessionsCallback(): the enumeration timed out", 0);
        return FALSE;
    }
    const CGuid* wanted = static_cast<const CGuid*>(context);
    bool found = isEqualGuid(desc->guidInstance, wanted->getGuid());
    CTrace::trace(SCOPE, " enumSessionsCallback(): " + CGuid::guidToString(desc->guidInstance)
                             + (found ? " is the session wanted" : ""),
                  0);
    return found ? FALSE : TRUE;
}

void CDirectPlay::open(const std::string& applicationGuid, const std::string& sessionGuid, const std::string& hostIp)
{
    CMonitorHold hold(*this, SITE_OPEN_REMOTE, SCOPE);
    CTrace::trace(SCOPE, " open(): joining " + sessionGuid + " at [" + hostIp.substr(0, MAX_IP_TEXT_LENGTH) + "]", 0);
    if (isHost_)
        CTrace::scopedFatalError(SCOPE, " open(): the host cannot join a session", -1);
    if (!sessionClosed_)
        throw CIllegalStateException(" open(): a session is open already");
    refuseSecondOpen();
    if (hostIp.size() > MAX_IP_TEXT_LENGTH)
        throw CIOException(" open(): the host's IP text is longer than 255 characters");
    GUID application = CGuid::stringToGuid(applicationGuid);
    CGuid wanted(sessionGuid);
    initializeDP(hostIp);

    // Joining fails unless the session list was fetched once.
    DPSESSIONDESC2 desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.guidApplication = application;
    HRESULT hr = rpDirectPlayInterface_->EnumSessions(&desc, 0, &CDirectPlay::enumSessionsCallback, &wanted,
                                                      DPENUMSESSIONS_ALL);
    if (FAILED(hr))
        throw CFatalTroubleException(" open(): EnumSessions failed " + resultText(hr));

    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.guidInstance = wanted.getGuid();
    desc.guidApplication = application;
    hr = rpDirectPlayInterface_->Open(&desc, DPOPEN_JOIN);
    if (hr == DPERR_NOSESSIONS) {
        releaseDP();
        throw CIOException(" open(): the session has vanished " + resultText(hr));
    }
    if (FAILED(hr))
        throw CIOException(" open(): opening the session failed " + resultText(hr));

    readSessionGuid();
    traceCaps(0);
    traceCaps(DPGETCAPS_GUARANTEED);
    hr = createPlayer(0);
    if (FAILED(hr))
        throw CIOException(" open(): the player cannot be created " + resultText(hr));
    CTrace::trace(SCOPE, " open(): joined as player " + number(myPlayerId_), 0);
    setSessionClosed(false);
}

// ---------------------------------------------------------------------------------------------
// Closing

DWORD CDirectPlay::messageCount()
{
    DWORD count = 0;
    if (rpDirectPlayInterface_ != nullptr)
        rpDirectPlayInterface_->GetMessageCount(myPlayerId_, &count);
    return count;
}

void CDirectPlay::drainSendQueue()
{
    ULONGLONG start = now_();
    for (;;) {
        DWORD messages = 0;
        DWORD bytes = 0;
        HRESULT hr = rpDirectPlayInterface_->GetMessageQueue(myPlayerId_, 0, DPMESSAGEQUEUE_SEND, &messages, &bytes);
        if (FAILED(hr)) {
            CTrace::trace(SCOPE, " close(): the send queue cannot be read " + resultText(hr), 0);
            return;
        }
        if (messages == 0)
            return;
        if (now_() - start >= CLOSE_DRAIN_LIMIT_MS) {
            CTrace::trace(SCOPE, " close(): " + number(messages) + " messages have not left in time, they are"
                                 " cancelled",
                          0);
            return;
        }
        sleep_(CLOSE_DRAIN_POLL_MS);
    }
}

BOOL FAR PASCAL CDirectPlay::enumPlayersCallback(DPID id, DWORD, LPCDPNAME, DWORD, LPVOID context)
{
    if (id == DPID_SERVERPLAYER)
        return TRUE;
    HRESULT hr = static_cast<IDirectPlay4A*>(context)->DestroyPlayer(id);
    CTrace::trace(SCOPE, " close(): DestroyPlayer(" + number(id) + ") " + resultText(hr), 0);
    return TRUE;
}

void CDirectPlay::close()
{
    CMonitorHold hold(*this, SITE_CLOSE, SCOPE);
    CTrace::trace(SCOPE, " close(): [" + terminalId_ + "]", 0);
    if (sessionClosed_)
        throw CIllegalStateException(" close(): no session is open");
    setSessionClosed(true);
    stopBacklogs();
    drainSendQueue();
    HRESULT hr = rpDirectPlayInterface_->CancelMessage(0, 0);
    if (FAILED(hr))
        CTrace::trace(SCOPE, " close(): CancelMessage " + resultText(hr), 0);
    if (isHost_) {
        hr = rpDirectPlayInterface_->EnumPlayers(nullptr, &CDirectPlay::enumPlayersCallback, rpDirectPlayInterface_, 0);
        if (FAILED(hr))
            CTrace::trace(SCOPE, " close(): EnumPlayers " + resultText(hr), 0);
    }
    hr = rpDirectPlayInterface_->DestroyPlayer(myPlayerId_);
    if (FAILED(hr))
        CTrace::trace(SCOPE, " close(): DestroyPlayer of the own player " + resultText(hr), 0);
    hr = rpDirectPlayInterface_->Close();
    if (FAILED(hr))
        CTrace::scopedError(SCOPE, " close(): Close failed " + resultText(hr), -1);
    CTrace::trace(SCOPE, " close(): closed", 0);
}

// ---------------------------------------------------------------------------------------------
// Receiving

bool CDirectPlay::canOccupyReceiveThread()
{
    // A leaf lock: nothing is taken while it is held.
    CMonitorHold hold(receiveThreadLock_, SITE_RECEIVE_THREAD, SCOPE);
    return mayOccupyReceiveThread_;
}

void CDirectPlay::releaceThread()
{
    CTrace::trace(SCOPE, " releaceThread(): [" + terminalId_ + "]", 0);
    {
        CMonitorHold hold(receiveThreadLock_, SITE_RECEIVE_THREAD, SCOPE);
        mayOccupyReceiveThread_ = false;
    }
    wakeup();
}

DWORD CDirectPlay::receive(unsigned char** data, bool* fromMyself)
{
    *data = nullptr;
    for (;;) {
        if (!canOccupyReceiveThread()) {
            CTrace::trace(SCOPE, " receive(): the receiving thread is released", 0);
            return 0;
        }
        unsigned char* got = nullptr;
        DWORD size = 0;
        Look fromDP = NOTHING;
        Look fromSelf = NOTHING;
        lockReceive(SITE_RECEIVE);
        try {
            if (!sessionClosed_) {
                if (CTrace::isTraced(SCOPE))
                    CTrace::trace(SCOPE, " receive(): waiting in SelfMsgQue " + std::to_string(SelfMsgQue_->size())
                                             + ", in DirectPlay " + number(messageCount()),
                                  0);
                if (readFromDPFirst_) {
                    fromDP = receiveFromDP(&got, &size);
                    if (fromDP == NOTHING)
                        fromSelf = receiveFromMyself(&got, &size);
                    readFromDPFirst_ = false;
                } else {
                    fromSelf = receiveFromMyself(&got, &size);
                    if (fromSelf == NOTHING)
                        fromDP = receiveFromDP(&got, &size);
                    readFromDPFirst_ = true;
                }
            } else {
                CTrace::trace(SCOPE, " receive(): no session is open, nothing is read", 0);
            }
        } catch (...) {
            unlockReceive();
            throw;
        }
        unlockReceive();

        if (fromSelf == PAYLOAD || fromDP == PAYLOAD) {
            if (size == 0) {
                // 0 tells the end of input: an empty payload would end the connection.
                CTrace::scopedError(SCOPE, " receive(): an empty payload is dropped", -1);
                continue;
            }
            *data = got;
            *fromMyself = fromSelf == PAYLOAD;
            return size;
        }
        if (fromSelf == CONSUMED || fromDP == CONSUMED)
            continue; // a system message or control data: more may wait
        CTrace::assertTrue(ALIVE_EVENT_ != NULL, "CDirectPlay::receive(): ALIVE_EVENT does not exist", -1);
        if (WaitForSingleObject(ALIVE_EVENT_, INFINITE) != WAIT_OBJECT_0)
            CTrace::scopedFatalError(SCOPE, " receive(): waiting for ALIVE_EVENT failed, no further normal receiving"
                                            " is possible, error " + number(GetLastError()),
                                     -1);
        ResetEvent(ALIVE_EVENT_);
    }
}

CDirectPlay::Look CDirectPlay::receiveFromMyself(unsigned char** data, DWORD* size)
{
    CBuffer* buffer = nullptr;
    {
        CMonitorHold hold(*SelfMsgQue_, SITE_SELF_QUEUE, SCOPE);
        if (SelfMsgQue_->size() == 0)
            return NOTHING;
        CJObject* first = SelfMsgQue_->firstElement();
        buffer = dynamic_cast<CBuffer*>(first);
        CTrace::scopedAssertTrue(buffer != nullptr, SCOPE, " receiveFromMyself(): SelfMsgQue holds an object that is"
                                                           " not a CBuffer",
                                 -1);
        SelfMsgQue_->removeElementAt(0);
        selfQueueBytes_ -= buffer->getLength();
    }
    DWORD length = buffer->getLength();
    unsigned char* into = prepareMsgBuf(length);
    if (length > 0)
        std::memcpy(into, buffer->getData(), length);
    delete buffer;
    *data = into;
    *size = length;
    return PAYLOAD;
}

CDirectPlay::Look CDirectPlay::receiveFromDP(unsigned char** data, DWORD* size)
{
    DWORD wanted = receiveBufferSize_;
    for (;;) {
        unsigned char* buffer = prepareMsgBuf(wanted);
        DPID from = 0;
        DPID to = 0;
        DWORD length = receiveBufferSize_;
        HRESULT hr = rpDirectPlayInterface_->Receive(&from, &to, DPRECEIVE_ALL, buffer, &length);
        switch (hr) {
        case DP_OK:
            if (length > receiveBufferSize_) {
                CTrace::scopedError(SCOPE, " receiveFromDP(): DirectPlay reports more than the buffer holds", -1);
                return CONSUMED;
            }
            if (from == DPID_SYSMSG) {
                processSystemMessage(buffer, length);
                return CONSUMED;
            }
            if (CMethodCallBlock::isControlPayload(buffer, static_cast<int>(length))) {
                processCtrlData(buffer, length, from);
                return CONSUMED;
            }
            *data = buffer;
            *size = length;
            return PAYLOAD;
        case DPERR_BUFFERTOOSMALL:
            if (CTrace::isTraced(SCOPE))
                CTrace::trace(SCOPE, " receiveFromDP(): the buffer grows to " + number(length), 0);
            if (length <= receiveBufferSize_) {
                CTrace::scopedError(SCOPE, " receiveFromDP(): DirectPlay asks for a buffer no larger than the one it"
                                           " had",
                                    -1);
                return NOTHING;
            }
            wanted = length;
            continue;
        case DPERR_NOMESSAGES:
            return NOTHING;
        case DPERR_INVALIDPARAMS:
        case DPERR_INVALIDPLAYER:
            CTrace::scopedFatalError(SCOPE, " receiveFromDP(): Receive failed " + resultText(hr), -1);
        case DPERR_GENERIC:
        case DPERR_INVALIDOBJECT:
            notifyEvent(CSessionEvent::SESSION_EVENT_FATAL_TROUBLE, "");
            return NOTHING;
        default:
            CTrace::trace(SCOPE, " receiveFromDP(): Receive failed " + resultText(hr), 0);
            notifyEvent(CSessionEvent::SESSION_EVENT_FATAL_TROUBLE, "");
            return NOTHING;
        }
    }
}

void CDirectPlay::processSystemMessage(const unsigned char* message, DWORD size)
{
    DPMSG_GENERIC generic;
    if (size < sizeof generic) {
        CTrace::scopedError(SCOPE, " processSystemMessage(): a system message of " + number(size) + " bytes", -1);
        return;
    }
    std::memcpy(&generic, message, sizeof generic);
    CTrace::trace(SCOPE, " processSystemMessage(): " + getSysMsgName(generic.dwType), 0);
    switch (generic.dwType) {
    case DPSYS_CREATEPLAYERORGROUP: {
        DPMSG_CREATEPLAYERORGROUP create;
        if (size < sizeof create) {
            CTrace::scopedError(SCOPE, " processSystemMessage(): DPSYS_CREATEPLAYERORGROUP is cut short", -1);
            return;
        }
        std::memcpy(&create, message, sizeof create);
        std::string terminalId = shortNameOf(create.dpnName, message, size);
        if (terminalId.empty()) {
            CTrace::scopedError(SCOPE, " processSystemMessage(): player " + number(create.dpId)
                                           + " has no short name, no terminal is entered for it",
                                -1);
            return;
        }
        if (terminalId == terminalId_) {
            // Leaving under the name would make this terminal report itself gone.
            CTrace::scopedError(SCOPE, " processSystemMessage(): player " + number(create.dpId) + " takes the id ["
                                           + terminalId + "] of this terminal, it is not entered",
                                -1);
            return;
        }
        CTrace::scopedAssertTrue(pMessageTransmitter_ != nullptr, SCOPE, " processSystemMessage(): no message"
                                                                         " transmitter",
                                 -1);
        pMessageTransmitter_->addTerminal(terminalId, new CPlayerId(create.dpId));
        if (isHost_ && create.dpId != myPlayerId_) {
            std::lock_guard<std::mutex> hold(backlogLock_);
            members_.insert(create.dpId);
        }
        return;
    }
    case DPSYS_DESTROYPLAYERORGROUP: {
        DPMSG_DESTROYPLAYERORGROUP destroy;
        if (size < sizeof destroy) {
            CTrace::scopedError(SCOPE, " processSystemMessage(): DPSYS_DESTROYPLAYERORGROUP is cut short", -1);
            return;
        }
        std::memcpy(&destroy, message, sizeof destroy);
        {
            // Whatever waited for the player goes with it.
            std::lock_guard<std::mutex> hold(backlogLock_);
            members_.erase(destroy.dpId);
            backlogs_.erase(destroy.dpId);
        }
        // A copy: the receive buffer is about to carry the control data.
        std::string terminalId = shortNameOf(destroy.dpnName, message, size);
        CTrace::scopedAssertTrue(pMessageTransmitter_ != nullptr, SCOPE, " processSystemMessage(): no message"
                                                                         " transmitter",
                                 -1);
        if (terminalId.empty()) {
            CTrace::trace(SCOPE, " processSystemMessage(): player " + number(destroy.dpId)
                                     + " without a short name is gone, it stood for no terminal",
                          0);
            return;
        }
        bool ownPlayer = destroy.dpId == myPlayerId_ && terminalId == terminalId_;
        // Only the player entered under the name stands for the terminal: an earlier player
        // that another replaced, or one that was refused, leaves no terminal behind.
        if (!pMessageTransmitter_->removeTerminal(terminalId, destroy.dpId) && !ownPlayer) {
            CTrace::trace(SCOPE, " processSystemMessage(): player " + number(destroy.dpId) + " of [" + terminalId
                                     + "] is gone, but it no longer stood for the terminal",
                          0);
            return;
        }
        notifyEvent(CSessionEvent::SESSION_EVENT_SESSION_OUT, terminalId);
        notifiyLeaveTerminalIdToClientPlayer(terminalId);
        return;
    }
    case DPSYS_SESSIONLOST:
        notifyEvent(CSessionEvent::SESSION_EVENT_SESSION_OUT, terminalId_);
        return;
    case DPSYS_SENDCOMPLETE:
        return;
    default:
        CTrace::scopedError(SCOPE, " processSystemMessage(): an unexpected system message "
                                       + getSysMsgName(generic.dwType) + " " + hex32(generic.dwType),
                            -1);
        return;
    }
}

bool CDirectPlay::readTerminalLeft(const unsigned char* data, DWORD size, std::string* terminalId, std::string* why)
{
    if (data == nullptr || size < CTRL_DATA_HEADER_SIZE) {
        *why = "control data of " + number(size) + " bytes is too short for its type";
        return false;
    }
    DWORD type;
    std::memcpy(&type, data + 1, sizeof type);
    if (type != CTRL_DATA_TERMINAL_LEFT) {
        *why = "control data of a type it cannot understand arrived, " + hex32(type);
        return false;
    }
    const char* text = reinterpret_cast<const char*>(data + CTRL_DATA_HEADER_SIZE);
    size_t room = size - CTRL_DATA_HEADER_SIZE;
    const void* nul = std::memchr(text, 0, room);
    if (nul == nullptr) {
        *why = "the terminal id of TERMINAL_LEFT does not end inside the control data";
        return false;
    }
    if (nul == text) {
        *why = "TERMINAL_LEFT names no terminal";
        return false;
    }
    terminalId->assign(text, static_cast<const char*>(nul));
    return true;
}

void CDirectPlay::processCtrlData(const unsigned char* data, DWORD size, DPID from)
{
    // Only the host tells its members who left; a member cannot make the host, or another
    // member, drop a terminal.
    if (isHost_) {
        CTrace::scopedError(SCOPE, " processCtrlData(): control data from player " + number(from)
                                       + " reached the host, it is ignored",
                            -1);
        return;
    }
    if (from != DPID_SERVERPLAYER) {
        CTrace::scopedError(SCOPE, " processCtrlData(): control data from player " + number(from)
                                       + ", not the host, is ignored",
                            -1);
        return;
    }
    std::string terminalId;
    std::string why;
    if (!readTerminalLeft(data, size, &terminalId, &why)) {
        CTrace::scopedError(SCOPE, " processCtrlData(): " + why, -1);
        return;
    }
    CTrace::trace(SCOPE, " processCtrlData(): [" + terminalId + "] left", 0);
    notifyEvent(CSessionEvent::SESSION_EVENT_SESSION_OUT, terminalId);
}

void CDirectPlay::notifiyLeaveTerminalIdToClientPlayer(const std::string& terminalId)
{
    DWORD size = static_cast<DWORD>(CTRL_DATA_HEADER_SIZE + terminalId.size() + 1);
    unsigned char* buffer = prepareMsgBuf(size);
    CMethodCallBlock::setControlPayload(buffer, static_cast<int>(size));
    DWORD type = CTRL_DATA_TERMINAL_LEFT;
    std::memcpy(buffer + 1, &type, sizeof type);
    std::memcpy(buffer + CTRL_DATA_HEADER_SIZE, terminalId.data(), terminalId.size());
    buffer[size - 1] = 0;
    CTrace::trace(SCOPE, " notifiyLeaveTerminalIdToClientPlayer(): [" + terminalId + "]", 0);
    lockSend(SITE_NOTIFY_LEAVE, SCOPE);
    try {
        sendToOther(buffer, size, DPID_ALLPLAYERS);
    } catch (...) {
        unlockSend();
        throw;
    }
    unlockSend();
}

// ---------------------------------------------------------------------------------------------
// Sending

void CDirectPlay::send(const unsigned char* data, DWORD size, DPID to)
{
    SendLockHold hold(*this, SITE_SEND, SCOPE);
    if (sessionClosed_) {
        CTrace::trace(SCOPE, " send(): no session is open, the payload is dropped", 0);
        return;
    }
    if (size == 0 || data == nullptr) {
        CTrace::scopedError(SCOPE, " send(): an empty payload is dropped", -1);
        return;
    }
    if (to != myPlayerId_)
        sendToOther(data, size, to);
    else
        sendToMyself(data, size, to);
}

void CDirectPlay::sendToMyself(const unsigned char* data, DWORD size, DPID)
{
    {
        CMonitorHold hold(*SelfMsgQue_, SITE_SELF_QUEUE, SCOPE);
        if (selfQueueBytes_ + size > SELF_QUEUE_LIMIT_BYTES) {
            CTrace::scopedError(SCOPE, " sendToMyself(): SelfMsgQue holds " + std::to_string(selfQueueBytes_)
                                           + " bytes already, a payload of " + number(size) + " is dropped",
                                -1);
            return;
        }
        CBuffer* copy = new CBuffer(data, size);
        try {
            SelfMsgQue_->addElement(copy);
        } catch (...) {
            delete copy;
            throw;
        }
        selfQueueBytes_ += size;
    }
    wakeup();
}

void CDirectPlay::sendToOther(const unsigned char* data, DWORD size, DPID to)
{
    if (!isHost_) {
        // A member's one peer is the host: waiting for it holds up nobody else.
        sendWithRetry(data, size, to);
        return;
    }
    // The host never waits for a busy member: what it does not take waits in its backlog.
    if (to == DPID_ALLPLAYERS) {
        bool anyBacklog;
        {
            std::lock_guard<std::mutex> hold(backlogLock_);
            anyBacklog = !backlogs_.empty();
        }
        if (!anyBacklog) {
            DWORD messageId = 0;
            HRESULT hr = rpDirectPlayInterface_->SendEx(myPlayerId_, to, SEND_FLAGS, const_cast<unsigned char*>(data),
                                                        size, 0, 0, nullptr, &messageId);
            if (hr != DPERR_BUSY) {
                handleSendResult(hr, size, to);
                return;
            }
        }
        // One member at a time, so that a busy one holds only its own.
        std::vector<DPID> members;
        {
            std::lock_guard<std::mutex> hold(backlogLock_);
            members.assign(members_.begin(), members_.end());
        }
        for (DPID member : members)
            sendToMember(data, size, member);
        return;
    }
    sendToMember(data, size, to);
}

void CDirectPlay::sendToMember(const unsigned char* data, DWORD size, DPID to)
{
    {
        std::lock_guard<std::mutex> hold(backlogLock_);
        auto waiting = backlogs_.find(to);
        if (waiting != backlogs_.end()) {
            queueForMember(waiting->second, data, size, to); // behind what waits, in order
            return;
        }
    }
    DWORD messageId = 0;
    HRESULT hr = rpDirectPlayInterface_->SendEx(myPlayerId_, to, SEND_FLAGS, const_cast<unsigned char*>(data), size, 0,
                                                0, nullptr, &messageId);
    if (hr != DPERR_BUSY) {
        handleSendResult(hr, size, to);
        return;
    }
    CTrace::trace(SCOPE, " sendToOther(): player " + number(to) + " is busy, its payloads wait in its backlog", 0);
    std::lock_guard<std::mutex> hold(backlogLock_);
    if (backlogStop_)
        return;
    Backlog& backlog = backlogs_[to];
    backlog.since = now_();
    queueForMember(backlog, data, size, to);
    if (!backlogThread_.joinable())
        backlogThread_ = std::thread([this] { sendBacklogs(); });
    backlogWake_.notify_one();
}

void CDirectPlay::queueForMember(Backlog& backlog, const unsigned char* data, DWORD size, DPID to)
{
    if (backlog.leaving)
        return; // its player is on the way out
    if (backlog.payloads.size() >= BACKLOG_LIMIT_PAYLOADS || backlog.bytes + size > BACKLOG_LIMIT_BYTES) {
        CTrace::scopedError(SCOPE, " sendToOther(): the backlog of busy player " + number(to) + " is full ("
                                       + std::to_string(backlog.payloads.size()) + " payloads, "
                                       + std::to_string(backlog.bytes) + " bytes), a payload of " + number(size)
                                       + " bytes is dropped",
                            -1);
        return;
    }
    backlog.payloads.push_back(std::make_shared<const std::vector<unsigned char>>(data, data + size));
    backlog.bytes += size;
}

// The host's backlog thread: hands each busy member's payloads to DirectPlay, oldest first,
// as the member takes them; outside sendLock, since only this thread sends to a member with
// a backlog. A member that takes nothing for the busy limit leaves the session: its player
// is destroyed, and DirectPlay's destroy message tells the session (and the others) it left.
void CDirectPlay::sendBacklogs()
{
    const ULONGLONG limit = static_cast<ULONGLONG>(busyRetrySeconds_ * 1000.0);
    std::unique_lock<std::mutex> hold(backlogLock_);
    while (!backlogStop_) {
        std::vector<DPID> leaving;
        std::vector<std::pair<HRESULT, std::pair<DWORD, DPID>>> results;
        std::vector<DPID> busy;
        for (const auto& entry : backlogs_)
            if (!entry.second.leaving)
                busy.push_back(entry.first);
        for (DPID member : busy) {
            for (;;) {
                auto it = backlogs_.find(member);
                if (backlogStop_ || it == backlogs_.end() || it->second.leaving)
                    break;
                if (it->second.payloads.empty()) {
                    backlogs_.erase(it); // caught up: sends to it go straight to DirectPlay again
                    break;
                }
                Payload head = it->second.payloads.front();
                hold.unlock();
                DWORD messageId = 0;
                HRESULT hr = rpDirectPlayInterface_->SendEx(myPlayerId_, member, SEND_FLAGS,
                                                            const_cast<unsigned char*>(head->data()),
                                                            static_cast<DWORD>(head->size()), 0, 0, nullptr,
                                                            &messageId);
                hold.lock();
                it = backlogs_.find(member);
                if (it == backlogs_.end() || it->second.payloads.empty() || it->second.payloads.front() != head)
                    break; // the member left meanwhile
                Backlog& backlog = it->second;
                ULONGLONG now = now_();
                if (hr == DPERR_BUSY) {
                    if (now - backlog.since > limit) {
                        backlog.leaving = true;
                        CTrace::scopedError(SCOPE, " sendBacklogs(): player " + number(member) + " took nothing for "
                                                       + std::to_string(limit / 1000) + " s, it leaves the session and "
                                                       + std::to_string(backlog.payloads.size())
                                                       + " payloads waiting for it are dropped",
                                            -1);
                        backlog.payloads.clear();
                        backlog.bytes = 0;
                        leaving.push_back(member);
                    }
                    break;
                }
                backlog.payloads.pop_front();
                backlog.bytes -= head->size();
                backlog.since = now;
                if (hr != DP_OK && hr != DPERR_PENDING)
                    results.push_back({hr, {static_cast<DWORD>(head->size()), member}});
            }
        }
        if (!leaving.empty() || !results.empty()) {
            hold.unlock();
            for (DPID member : leaving) {
                HRESULT hr = rpDirectPlayInterface_->DestroyPlayer(member);
                CTrace::trace(SCOPE, " sendBacklogs(): DestroyPlayer(" + number(member) + ") " + resultText(hr), 0);
            }
            for (const auto& result : results)
                handleSendResult(result.first, result.second.first, result.second.second);
            flushEvents();
            hold.lock();
        }
        bool waiting = false;
        for (const auto& entry : backlogs_)
            waiting = waiting || !entry.second.leaving;
        if (waiting)
            backlogWake_.wait_for(hold, std::chrono::milliseconds(BACKLOG_RETRY_MS));
        else if (!backlogStop_)
            backlogWake_.wait(hold);
    }
}

void CDirectPlay::stopBacklogs()
{
    {
        std::lock_guard<std::mutex> hold(backlogLock_);
        backlogStop_ = true;
        size_t dropped = 0;
        for (const auto& entry : backlogs_)
            dropped += entry.second.payloads.size();
        if (dropped > 0)
            CTrace::trace(SCOPE, " close(): " + std::to_string(dropped) + " payloads for busy members are dropped", 0);
        backlogs_.clear();
        backlogWake_.notify_all();
    }
    if (backlogThread_.joinable())
        backlogThread_.join();
}

size_t CDirectPlay::getBacklogPayloads(DPID member)
{
    std::lock_guard<std::mutex> hold(backlogLock_);
    auto it = backlogs_.find(member);
    return it == backlogs_.end() ? 0 : it->second.payloads.size();
}

void CDirectPlay::sendWithRetry(const unsigned char* data, DWORD size, DPID to)
{
    DWORD messageId = 0;
    LPVOID bytes = const_cast<unsigned char*>(data);
    HRESULT hr = rpDirectPlayInterface_->SendEx(myPlayerId_, to, SEND_FLAGS, bytes, size, 0, 0, nullptr, &messageId);
    if (hr == DPERR_BUSY) {
        ULONGLONG start = now_();
        ULONGLONG limit = static_cast<ULONGLONG>(busyRetrySeconds_ * 1000.0);
        while (hr == DPERR_BUSY) {
            if (!canOccupyReceiveThread()) {
                // The session is ending: nobody waits for this payload any more.
                CTrace::trace(SCOPE, " sendToOther(): DirectPlay is busy and the session ends, the payload is"
                                     " dropped",
                              0);
                return;
            }
            sleep_(BUSY_RETRY_PAUSE_MS);
            hr = rpDirectPlayInterface_->SendEx(myPlayerId_, to, SEND_FLAGS, bytes, size, 0, 0, nullptr, &messageId);
            if (hr == DPERR_BUSY && now_() - start > limit) {
                CTrace::scopedError(SCOPE, " sendToOther(): DirectPlay stayed busy for longer than the limit, the"
                                           " payload is dropped",
                                    -1);
                notifyEvent(CSessionEvent::SESSION_EVENT_FATAL_TROUBLE, "");
                return;
            }
        }
    }
    handleSendResult(hr, size, to);
}

void CDirectPlay::handleSendResult(HRESULT hr, DWORD size, DPID to)
{
    switch (hr) {
    case DP_OK:
        return;
    case DPERR_PENDING:
        if (CTrace::isTraced(SCOPE))
            CTrace::trace(SCOPE, " sendToOther(): DPERR_PENDING, on its way to " + number(to), 0);
        return;
    case DPERR_CONNECTIONLOST:
    case DPERR_INVALIDPARAMS:
    case DPERR_INVALIDPLAYER:
    case DPERR_GENERIC:
        // These come once the session or the player is gone.
        CTrace::trace(SCOPE, " sendToOther(): SendEx to " + number(to) + " " + resultText(hr)
                                 + ", the payload is dropped",
                      0);
        return;
    case DPERR_SENDTOOBIG:
        CTrace::scopedError(SCOPE, " sendToOther(): a payload of " + number(size) + " bytes is too big for DirectPlay,"
                                       " it is dropped",
                            -1);
        return;
    default:
        CTrace::trace(SCOPE, " sendToOther(): SendEx to " + number(to) + " " + resultText(hr), 0);
        notifyEvent(CSessionEvent::SESSION_EVENT_FATAL_TROUBLE, "");
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Events

void CDirectPlay::notifyEvent(int eventId, const std::string& terminalId)
{
    CTrace::trace(SCOPE, " notifyEvent(): " + CSessionEvent::makeSessionHandleEventText(eventId, terminalId), 0);
    std::lock_guard<std::mutex> hold(eventsLock_);
    events_.push_back(Event{eventId, terminalId});
}

void CDirectPlay::flushEvents()
{
    std::vector<Event> events;
    {
        std::lock_guard<std::mutex> hold(eventsLock_);
        events.swap(events_);
    }
    for (const Event& event : events) {
        try {
            notifyObservers(CSessionEvent::makeSessionHandleEventText(event.id, event.terminalId));
        } catch (CJException& e) {
            CTrace::scopedError(SCOPE, " flushEvents(): an observer threw: " + e.getMessage(), -1);
        } catch (std::exception& e) {
            CTrace::scopedError(SCOPE, std::string(" flushEvents(): an observer threw: ") + e.what(), -1);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Names

std::string CDirectPlay::getSysMsgName(DWORD type)
{
    switch (type) {
    case 0x0003: return "DPSYS_CREATEPLAYERORGROUP";
    case 0x0005: return "DPSYS_DESTROYPLAYERORGROUP";
    case 0x0007: return "DPSYS_ADDPLAYERTOGROUP";
    case 0x0021: return "DPSYS_DELETEPLAYERFROMGROUP";
    case 0x0031: return "DPSYS_SESSIONLOST";
    case 0x0101: return "DPSYS_HOST";
    case 0x0102: return "DPSYS_SETPLAYERORGROUPDATA";
    case 0x0103: return "DPSYS_SETPLAYERORGROUPNAME";
    case 0x0104: return "DPSYS_SETSESSIONDESC";
    case 0x0105: return "DPSYS_ADDGROUPTOGROUP";
    case 0x0106: return "DPSYS_DELETEGROUPFROMGROUP";
    case 0x0107: return "DPSYS_SECUREMESSAGE";
    case 0x0108: return "DPSYS_STARTSESSION";
    case 0x0109: return "DPSYS_CHAT";
    case 0x010A: return "DPSYS_SETGROUPOWNER";
    case 0x010D: return "DPSYS_SENDCOMPLETE";
    default: return "***UNKNOWN DPSYSMSG ****";
    }
}

std::string CDirectPlay::getErrorName(HRESULT result)
{
    switch (result) {
    case DP_OK: return "DP_OK";
    case DPERR_ALREADYINITIALIZED: return "DPERR_ALREADYINITIALIZED";
    case DPERR_ACCESSDENIED: return "DPERR_ACCESSDENIED";
    case DPERR_ACTIVEPLAYERS: return "DPERR_ACTIVEPLAYERS";
    case DPERR_BUFFERTOOSMALL: return "DPERR_BUFFERTOOSMALL";
    case DPERR_CANTADDPLAYER: return "DPERR_CANTADDPLAYER";
    case DPERR_CANTCREATEGROUP: return "DPERR_CANTCREATEGROUP";
    case DPERR_CANTCREATEPLAYER: return "DPERR_CANTCREATEPLAYER";
    case DPERR_CANTCREATESESSION: return "DPERR_CANTCREATESESSION";
    case DPERR_CAPSNOTAVAILABLEYET: return "DPERR_CAPSNOTAVAILABLEYET";
    case DPERR_EXCEPTION: return "DPERR_EXCEPTION";
    case DPERR_GENERIC: return "DPERR_GENERIC";
    case DPERR_INVALIDFLAGS: return "DPERR_INVALIDFLAGS";
    case DPERR_INVALIDOBJECT: return "DPERR_INVALIDOBJECT";
    case DPERR_INVALIDPARAMS: return "DPERR_INVALIDPARAM or DPERR_INVALIDPARAMS";
    case DPERR_INVALIDPLAYER: return "DPERR_INVALIDPLAYER";
    case DPERR_INVALIDGROUP: return "DPERR_INVALIDGROUP";
    case DPERR_NOCAPS: return "DPERR_NOCAPS";
    case DPERR_NOCONNECTION: return "DPERR_NOCONNECTION";
    case DPERR_NOMEMORY: return "DPERR_NOMEMORY or DPERR_OUTOFMEMORY";
    case DPERR_NOMESSAGES: return "DPERR_NOMESSAGES";
    case DPERR_NONAMESERVERFOUND: return "DPERR_NONAMESERVERFOUND";
    case DPERR_NOPLAYERS: return "DPERR_NOPLAYERS";
    case DPERR_NOSESSIONS: return "DPERR_NOSESSIONS";
    case DPERR_PENDING: return "DPERR_PENDING";
    case DPERR_SENDTOOBIG: return "DPERR_SENDTOOBIG";
    case DPERR_TIMEOUT: return "DPERR_TIMEOUT";
    case DPERR_UNAVAILABLE: return "DPERR_UNAVAILABLE";
    case DPERR_UNSUPPORTED: return "DPERR_UNSUPPORTED";
    case DPERR_BUSY: return "DPERR_BUSY";
    case DPERR_USERCANCEL: return "DPERR_USERCANCEL";
    case DPERR_NOINTERFACE: return "DPERR_NOINTERFACE";
    case DPERR_CANNOTCREATESERVER: return "DPERR_CANNOTCREATESERVER";
    case DPERR_PLAYERLOST: return "DPERR_PLAYERLOST";
    case DPERR_SESSIONLOST: return "DPERR_SESSIONLOST";
    case DPERR_UNINITIALIZED: return "DPERR_UNINITIALIZED";
    case DPERR_NONEWPLAYERS: return "DPERR_NONEWPLAYERS";
    case DPERR_INVALIDPASSWORD: return "DPERR_INVALIDPASSWORD";
    case DPERR_CONNECTING: return "DPERR_CONNECTING";
    case DPERR_CONNECTIONLOST: return "DPERR_CONNECTIONLOST";
    case DPERR_UNKNOWNMESSAGE: return "DPERR_UNKNOWNMESSAGE";
    case DPERR_CANCELFAILED: return "DPERR_CANCELFAILED";
    case DPERR_INVALIDPRIORITY: return "DPERR_INVALIDPRIORITY";
    case DPERR_NOTHANDLED: return "DPERR_NOTHANDLED";
    case DPERR_CANCELLED: return "DPERR_CANCELLED";
    case DPERR_ABORTED: return "DPERR_ABORTED";
    default: return "***UNKNOWN DPERROR ****";
    }
}
