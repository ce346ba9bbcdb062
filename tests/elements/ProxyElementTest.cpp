#include "GatePair.h"
#include "LiveObjects.h"

#include "CIOException.h"
#include "CIllegalStateException.h"
#include "CInteger.h"
#include "CJString.h"
#include "CMethodCallMessage.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using Entries = std::vector<std::string>;
using ReplyMaker = std::function<IMessage*(CMethodCallMessage* query)>;

const std::string PROXY = CProxyElement::getProxyId();

CMethodCallMessage* answered(CMethodCallMessage* reply, CMethodCallMessage* query)
{
    reply->setModifier(CMethodCallMessage::REPLY);
    reply->setSerialNum(query->getSerialNum());
    return reply;
}

CMethodCallMessage* replyTo(CMethodCallMessage* query, ISerializable* value)
{
    return answered(CMethodCallMessage::createReturnValue(query->getSndTermId(), query->getSndElemId(),
                                                          query->getRecTermId(), query->getRecElemId(), value),
                    query);
}

CMethodCallMessage* exceptionTo(CMethodCallMessage* query, ISerializable* exception)
{
    return answered(CMethodCallMessage::createException(query->getSndTermId(), query->getSndElemId(),
                                                        query->getRecTermId(), query->getRecElemId(), exception),
                    query);
}

// Stands in for the gate: keeps every message the proxy hands over and, given a reply maker,
// answers each query at once, on the querying thread, before the proxy has begun to wait.
class FakeGate : public IMessageListener {
public:
    explicit FakeGate(ReplyMaker replies = nullptr) : replies_(std::move(replies)) {}
    ~FakeGate() override
    {
        for (IMessage* message : kept_)
            IMessage::release(message);
    }

    void notifyMessage(IMessage* message) override
    {
        CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
        IMessage* reply = nullptr;
        {
            std::lock_guard<std::mutex> hold(lock_);
            kept_.push_back(message);
            handed.add(message->toString());
            if (replies_ && call->getModifier() == CMethodCallMessage::QUERY)
                reply = replies_(call);
        }
        if (reply != nullptr)
            proxy->notifyMessage(reply);
    }

    CProxyElement* proxy = nullptr;
    Journal handed;

private:
    ReplyMaker replies_;
    std::mutex lock_;
    std::vector<IMessage*> kept_;
};

ReplyMaker echo = [](CMethodCallMessage* query) { return replyTo(query, new CJString(argumentOf(query))); };

class ProxyElementTest : public LeakCheckedTest {
protected:
    void takeDown() override
    {
        proxy_.reset();
        gate_.reset();
    }

    CProxyElement& proxy(ReplyMaker replies = nullptr, DWORD timeoutMs = 10000, const std::string& terminal = "TA")
    {
        proxy_.reset();
        gate_.reset(new FakeGate(std::move(replies)));
        proxy_.reset(new CProxyElement(gate_.get(), terminal, timeoutMs));
        gate_->proxy = proxy_.get();
        return *proxy_;
    }

    std::unique_ptr<FakeGate> gate_;
    std::unique_ptr<CProxyElement> proxy_;
};

TEST_F(ProxyElementTest, NoticesCarryTheOwnTerminalAndTheProxyId)
{
    CProxyElement& notices = proxy();
    notices.sendNotice("TB", "E", "a");
    notices.sendNotice(CMethodCallMessage::ALL_TERMINAL, "E", "b", new CJString("x"));
    notices.sendNotice("TB", "F", "c", 2, "xy");
    const std::string sender = " ] ST[ TA ] SE[ " + PROXY + " ] mod[ NOTICE ] ser[ 0 ] mtd[ ";
    EXPECT_EQ((Entries{" RT[ TB ] RE[ E" + sender + "a ] prm[ NOPARAM ]",
                       " RT[ @ALL_TERMINAL ] RE[ E" + sender + "b ] prm[ OBJECTPARAM ]",
                       " RT[ TB ] RE[ F" + sender + "c ] prm[ BUFFERPARAM ]"}),
              gate_->handed.entries());
}

TEST_F(ProxyElementTest, QueriesAreNumberedFromOneByEachProxy)
{
    FakeGate otherGate(echo);
    CProxyElement other(&otherGate, "TC");
    otherGate.proxy = &other;
    CProxyElement& first = proxy(echo);
    for (const char* text : {"p", "q", "r"})
        EXPECT_EQ(std::string("value ") + text, outcomeOf([&] { return first.sendQuery("TB", "E", "m", new CJString(text)); }));
    EXPECT_EQ("value s", outcomeOf([&] { return other.sendQuery("TB", "E", "m", new CJString("s")); }));
    const std::string head = " RT[ TB ] RE[ E ] ST[ TA ] SE[ " + PROXY + " ] mod[ QUERY ] ser[ ";
    EXPECT_EQ((Entries{head + "1 ] mtd[ m ] prm[ OBJECTPARAM ]", head + "2 ] mtd[ m ] prm[ OBJECTPARAM ]",
                       head + "3 ] mtd[ m ] prm[ OBJECTPARAM ]"}),
              gate_->handed.entries());
    EXPECT_EQ(Entries{" RT[ TB ] RE[ E ] ST[ TC ] SE[ " + PROXY + " ] mod[ QUERY ] ser[ 1 ] mtd[ m ] prm[ OBJECTPARAM ]"},
              otherGate.handed.entries());
}

// The reply is set before the querying thread waits; the wait must not last the time-out.
TEST_F(ProxyElementTest, ReplyThatComesBeforeTheWaitEndsTheQueryAtOnce)
{
    CProxyElement& fast = proxy(echo, CProxyElement::QUERY_TIMEOUT);
    ULONGLONG started = GetTickCount64();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ("value x", outcomeOf([&] { return fast.sendQuery("TB", "E", "m", new CJString("x")); }));
    EXPECT_LT(GetTickCount64() - started, 5000u);
}

TEST_F(ProxyElementTest, EveryKindOfReplyGivesTheCallerAValueOrAnException)
{
    struct Case {
        const char* name;
        ReplyMaker reply;
        std::string outcome;
    };
    const Case cases[] = {
        {"value", [](CMethodCallMessage* q) { return replyTo(q, new CJString("v")); }, "value v"},
        {"no value", [](CMethodCallMessage* q) { return replyTo(q, nullptr); }, "value NULL"},
        {"exception", [](CMethodCallMessage* q) { return exceptionTo(q, new CJException("boom")); },
         "remote CJException boom"},
        {"exception without its object", [](CMethodCallMessage* q) { return exceptionTo(q, nullptr); },
         "remote CJException the remote call failed without an exception object"},
        {"error reply",
         [](CMethodCallMessage* q) {
             CMethodCallMessage* reply = replyTo(q, new CJString("v"));
             reply->setModifier(CMethodCallMessage::ERROR_REPLY);
             return reply;
         },
         "CMsgUnreachedException"},
        {"broken reply",
         [](CMethodCallMessage* q) {
             CMethodCallMessage* reply = replyTo(q, new CJString("v"));
             reply->markBroken();
             return reply;
         },
         "CIOException"},
        {"neither value nor exception",
         [](CMethodCallMessage* q) {
             return answered(CMethodCallMessage::createRemoteCall(q->getSndTermId(), q->getSndElemId(),
                                                                  q->getRecTermId(), q->getRecElemId(), "m"),
                             q);
         },
         "CUnexpectedException"},
        {"silence", [](CMethodCallMessage*) { return nullptr; }, "CTimeOutException"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProxyElement& asking = proxy(c.reply, 50);
        EXPECT_EQ(c.outcome, outcomeOf([&] { return asking.sendQuery("TB", "E", "m"); }));
    }
}

// However the wait ends, the query's entry leaves the table: a reply that comes later finds none.
TEST_F(ProxyElementTest, AGateThatFailsLeavesNoWaitingEntryBehind)
{
    CProxyElement& asking = proxy([](CMethodCallMessage*) -> IMessage* { throw CIOException("the gate failed"); });
    EXPECT_EQ("CIOException", outcomeOf([&] { return asking.sendQuery("TB", "E", "m"); }));
    CMethodCallMessage* query = CMethodCallMessage::createRemoteCall("TB", "E", "TA", PROXY, "m");
    query->setModifier(CMethodCallMessage::QUERY);
    query->setSerialNum(1);
    asking.notifyMessage(replyTo(query, new CJString("late")));
    IMessage::release(query);
    proxy_.reset();
    EXPECT_EQ(1, trace_.count("no query waits for this reply"));
    EXPECT_EQ(0, trace_.count("queries still wait for their replies"));
}

TEST_F(ProxyElementTest, QueriesToSeveralTerminalsAreRefusedBeforeTheGate)
{
    CProxyElement& asking = proxy(echo);
    for (const char* macro : {CMethodCallMessage::ALL_TERMINAL, CMethodCallMessage::HAS_SLAVE,
                              CMethodCallMessage::ALL_TERMINAL_EXCEPT_ME}) {
        EXPECT_EQ(std::string("CIllegalArgumentException ") + macro
                      + ": the destination terminal macro cannot be used in a QUERY message",
                  outcomeOf([&] { return asking.sendQuery(macro, "E", "m", new CJString("x")); }));
    }
    EXPECT_EQ(Entries{}, gate_->handed.entries());
    EXPECT_EQ(baseline_ + 2, liveObjects()) << "only the proxy's two monitors are alive";
    for (const char* allowed : {CMethodCallMessage::HAS_MASTER, CMethodCallMessage::HOST_TERMINAL,
                                CMethodCallMessage::PCS, CMethodCallMessage::LOCAL_TERMINAL, "T9"})
        EXPECT_EQ("value x", outcomeOf([&] { return asking.sendQuery(allowed, "E", "m", new CJString("x")); }))
            << allowed;
}

TEST_F(ProxyElementTest, QueriesAreRefusedOnADisabledThreadUntilEveryDisableIsUndone)
{
    CProxyElement& asking = proxy(echo);
    auto ask = [&] { return outcomeOf([&] { return asking.sendQuery("TB", "E", "m", new CJString("x")); }); };
    asking.disableQuery();
    asking.disableQuery();
    EXPECT_EQ("CIllegalStateException", ask());
    Worker other;
    std::string elsewhere;
    other.run([&] { elsewhere = ask(); });
    EXPECT_EQ("value x", elsewhere) << "only the disabling thread is refused";
    asking.enableQuery();
    EXPECT_EQ("CIllegalStateException", ask());
    asking.enableQuery();
    EXPECT_EQ("value x", ask());
    EXPECT_EQ(2u, gate_->handed.entries().size());
}

TEST_F(ProxyElementTest, EnableWithoutDisableEndsTheProcess)
{
    if (isChild()) {
        childTracesToFile(true);
        FakeGate gate;
        CProxyElement proxy(&gate, "TA");
        proxy.disableQuery();
        proxy.enableQuery();
        proxy.enableQuery();
        exit(0);
    }
    TempDir dir;
    EXPECT_EQ(ABNORMAL_EXIT, runInChild(dir));
    EXPECT_NE(std::string::npos, dir.logBytes().find("FATAL ERROR: [ CProxyElement ] enableQuery(): the disable/enable"
                                                     " control of query sending is wrong"));
}

TEST_F(ProxyElementTest, AnythingButAnAwaitedReplyIsReportedOrDiscardedAndReleased)
{
    CProxyElement& receiving = proxy();
    CMethodCallMessage* notice = CMethodCallMessage::createRemoteCall("TA", PROXY, "TB", "E", "m", new CJString("x"));
    receiving.notifyMessage(notice);
    CMethodCallMessage* query = CMethodCallMessage::createRemoteCall("TA", PROXY, "TB", "E", "m");
    query->setModifier(CMethodCallMessage::QUERY);
    query->setSerialNum(77);
    CMethodCallMessage* stray = replyTo(query, new CJString("nobody asked"));
    receiving.notifyMessage(query);
    receiving.notifyMessage(stray);
    EXPECT_EQ(baseline_ + 2, liveObjects()) << "only the proxy's two monitors are alive";
    EXPECT_EQ(2, trace_.count("ERROR: [ CProxyElement ] notifyMessage(): a message other than a reply was received"));
    EXPECT_EQ(1, trace_.count("no query waits for this reply"));
}

// The reply goes to the querying proxy and comes from the address the query was sent to, a
// macro included.
TEST_F(ProxyElementTest, AnswersGoBackToTheQueryingProxy)
{
    CProxyElement& answering = proxy(nullptr, 10000, "TB");
    CMethodCallMessage* query = CMethodCallMessage::createRemoteCall(CMethodCallMessage::HAS_MASTER, "E", "TA", PROXY, "m");
    query->setModifier(CMethodCallMessage::QUERY);
    query->setSerialNum(5);
    answering.sendReturnValue(query, new CInteger(3));
    answering.sendException(query, new CIllegalStateException("no"));
    IMessage::release(query);
    const std::string head = " RT[ TA ] RE[ " + PROXY + " ] ST[ @HAS_MASTER ] SE[ E ] mod[ REPLY ] ser[ 5 ] mtd[ ";
    EXPECT_EQ((Entries{head + "return ] prm[ OBJECTPARAM ]", head + " ] prm[ OBJECTPARAM ]"}), gate_->handed.entries());
}

} // namespace
