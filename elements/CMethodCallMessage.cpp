#include "CMethodCallMessage.h"

#include "CBlockReader.h"
#include "CMethodCallWire.h"
#include "CNotSerializableException.h"
#include "CNullPointerException.h"
#include "COutOfMemoryException.h"
#include "ISerializable.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

const char SCOPE[] = "CMethodCallMessage";

// Blocks of at least this many bytes are kept for the next message once freed: the heap gives
// blocks this large back to the system, and every page of a fresh one is then faulted in
// again, which costs more than copying into it. Smaller blocks the heap reuses by itself.
const unsigned LARGE_BLOCK = 64 * 1024;
// How much the kept blocks may hold at most, so that a burst of large messages does not keep
// its memory for ever; a stream of large messages needs one or two.
const int MAX_KEPT_BLOCKS = 4;
const unsigned long long MAX_KEPT_BYTES = 64ull << 20;

// Large argument blocks freed by released messages, handed out again to new ones.
class LargeBlockStore {
public:
    // A block of at least size bytes (and its capacity), or NULL when memory is short.
    unsigned char* take(unsigned size, unsigned* capacity)
    {
        unsigned char* block = nullptr;
        AcquireSRWLockExclusive(&lock_);
        int best = -1;
        for (int i = 0; i < count_; ++i) {
            // The smallest that fits, and none more than twice the size: a huge block stays for
            // a message that needs it.
            unsigned kept = kept_[i].capacity;
            if (kept >= size && kept / 2 <= size && (best < 0 || kept < kept_[best].capacity))
                best = i;
        }
        if (best >= 0) {
            block = kept_[best].block;
            *capacity = kept_[best].capacity;
            bytes_ -= *capacity;
            kept_[best] = kept_[--count_];
        }
        ReleaseSRWLockExclusive(&lock_);
        if (block == nullptr) {
            block = new (std::nothrow) unsigned char[size];
            *capacity = size;
        }
        return block;
    }

    void give(unsigned char* block, unsigned capacity)
    {
        if (block == nullptr)
            return;
        if (capacity >= LARGE_BLOCK) {
            AcquireSRWLockExclusive(&lock_);
            bool keep = count_ < MAX_KEPT_BLOCKS && bytes_ + capacity <= MAX_KEPT_BYTES;
            if (keep) {
                kept_[count_++] = Kept{block, capacity};
                bytes_ += capacity;
            }
            ReleaseSRWLockExclusive(&lock_);
            if (keep)
                return;
        }
        delete[] block;
    }

private:
    struct Kept {
        unsigned char* block;
        unsigned capacity;
    };
    SRWLOCK lock_ = SRWLOCK_INIT;
    Kept kept_[MAX_KEPT_BLOCKS] = {};
    int count_ = 0;                 // lock_
    unsigned long long bytes_ = 0;  // lock_
};

// Constant-initialised: usable by messages made and released during static set-up and tear-down.
LargeBlockStore s_largeBlocks;

// The texts of a message (receiver and sender terminal and element, method), kept beside its
// memory while the block waits for the next message, so that their room is used again.
struct SpareTexts {
    std::string text[5];
};

// Blocks of freed messages, each a message's room followed by its SpareTexts, handed out again.
// A lock-free list: every message passes here twice, on any thread.
class MessageBlockStore {
public:
    // Blocks kept at most: the messages a burst has in flight at once; beyond that they go back
    // to the heap. Texts longer than KEPT_TEXT are not kept (a peer's odd long name would stay
    // in memory for nothing): at most some 200 KiB in all.
    static constexpr USHORT MAX_KEPT = 256;
    static constexpr size_t KEPT_TEXT = 64;

    static constexpr size_t textsOffset(size_t messageSize)
    {
        return (messageSize + alignof(SpareTexts) - 1) / alignof(SpareTexts) * alignof(SpareTexts);
    }
    static SpareTexts& textsOf(void* block, size_t messageSize)
    {
        return *reinterpret_cast<SpareTexts*>(static_cast<char*>(block) + textsOffset(messageSize));
    }

    void* take(size_t messageSize)
    {
        // The list's link lies in the message's room, which the heap aligns as the list needs.
        if (PSLIST_ENTRY block = InterlockedPopEntrySList(&free_))
            return block;
        void* fresh = ::operator new(textsOffset(messageSize) + sizeof(SpareTexts));
        new (&textsOf(fresh, messageSize)) SpareTexts();
        return fresh;
    }

    void give(void* block, size_t messageSize)
    {
        if (block == nullptr)
            return;
        SpareTexts& texts = textsOf(block, messageSize);
        for (std::string& text : texts.text) {
            if (text.capacity() > KEPT_TEXT)
                std::string().swap(text);
        }
        // The count may be passed by a few when threads give at once: a bound all the same.
        if (QueryDepthSList(&free_) < MAX_KEPT) {
            InterlockedPushEntrySList(&free_, static_cast<PSLIST_ENTRY>(block));
            return;
        }
        texts.~SpareTexts();
        ::operator delete(block);
    }

private:
    // All zero is the empty list: usable before any constructor has run.
    SLIST_HEADER free_ = {};
};

MessageBlockStore s_messageBlocks;

// The text for a message's member: the room kept in its block, filled with the value.
std::string keptText(std::string& kept, std::string_view value)
{
    std::string text(std::move(kept));
    if (value.size() > MessageBlockStore::KEPT_TEXT) {
        text.assign(value.data(), value.size());
    } else {
        // Mostly the length the room held before (ids are of one length): resize does nothing.
        text.resize(value.size());
        CBlockReader::copyShort(&text[0], value.data(), value.size());
    }
    return text;
}

// A copy of size bytes and the capacity of the block that holds it. A NULL source gives an
// empty block when size is 0 and, when nullWithoutBlock is set, no block at all.
unsigned char* copyBytes(unsigned size, const void* bytes, bool nullWithoutBlock, unsigned* capacity)
{
    if (bytes == nullptr && size != 0)
        CTrace::scopedAssertTrue(false, SCOPE,
                                 " the buffer address is NULL while the size is not 0 (size=" + std::to_string(size)
                                 + ")", -1);
    *capacity = 0;
    if (bytes == nullptr && nullWithoutBlock)
        return nullptr;
    unsigned char* block;
    if (size >= LARGE_BLOCK) {
        block = s_largeBlocks.take(size, capacity);
    } else {
        block = new (std::nothrow) unsigned char[size];
        *capacity = size;
    }
    if (block == nullptr)
        throw COutOfMemoryException("CMemoryException");
    if (size != 0)
        memcpy(block, bytes, size);
    return block;
}

const char* modifierName(unsigned char modifier)
{
    switch (modifier) {
    case CMethodCallMessage::NOTICE: return "NOTICE";
    case CMethodCallMessage::QUERY: return "QUERY";
    case CMethodCallMessage::REPLY: return "REPLY";
    case CMethodCallMessage::ERROR_REPLY: return "ERROR_REPLY";
    default: return "UNKNOWN";
    }
}

const char* paramName(int paramKind)
{
    switch (paramKind) {
    case CMethodCallMessage::NOPARAM: return "NOPARAM";
    case CMethodCallMessage::OBJECTPARAM: return "OBJECTPARAM";
    case CMethodCallMessage::BUFFERPARAM: return "BUFFERPARAM";
    default: return "UNKNOWN";
    }
}

} // namespace

CMethodCallMessage::CMethodCallMessage(const std::string& recTermId, const std::string& recElemId,
                                       const std::string& sndTermId, const std::string& sndElemId,
                                       const std::string& method, CallKind callKind)
    : recTermId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[0], recTermId)),
      recElemId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[1], recElemId)),
      sndTermId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[2], sndTermId)),
      sndElemId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[3], sndElemId)),
      mod_(callKind == METHOD_CALL ? NOTICE : REPLY), serialNum_(0),
      method_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[4], method)), broken_(false), callKind_(callKind), paramKind_(NOPARAM), param_(nullptr),
      bufSize_(0), buf_(nullptr), bufCapacity_(0), ownsParam_(false), paramTakenOut_(false)
{
}

CMethodCallMessage::CMethodCallMessage(const Texts& texts, CallKind callKind)
    : recTermId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[0], texts.recTermId)),
      recElemId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[1], texts.recElemId)),
      sndTermId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[2], texts.sndTermId)),
      sndElemId_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[3], texts.sndElemId)),
      mod_(callKind == METHOD_CALL ? NOTICE : REPLY), serialNum_(0),
      method_(keptText(MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage)).text[4], texts.method)),
      broken_(false), callKind_(callKind), paramKind_(NOPARAM), param_(nullptr), bufSize_(0), buf_(nullptr),
      bufCapacity_(0), ownsParam_(false), paramTakenOut_(false)
{
}

CMethodCallMessage* CMethodCallMessage::createReceived(const Texts& texts, ReceivedKind kind, ISerializable* object,
                                                       unsigned size, const unsigned char* bytes)
{
    switch (kind) {
    case RECEIVED_OBJECT:
        return withObject(new CMethodCallMessage(texts, METHOD_CALL), object);
    case RECEIVED_BUFFER: {
        unsigned capacity;
        std::unique_ptr<unsigned char[]> block(copyBytes(size, bytes, true, &capacity));
        CMethodCallMessage* message = new CMethodCallMessage(texts, METHOD_CALL);
        return withBuffer(message, size, block.release(), capacity);
    }
    case RECEIVED_RETURN: {
        Texts named = texts;
        named.method = CMethodCallWire::RETURN_METHOD;
        return withObject(new CMethodCallMessage(named, RETURN_VALUE), object);
    }
    case RECEIVED_EXCEPTION: {
        Texts named = texts;
        named.method = std::string_view();
        return withObject(new CMethodCallMessage(named, EXCEPTION), object);
    }
    case RECEIVED_NO_PARAM:
    default:
        return new CMethodCallMessage(texts, METHOD_CALL);
    }
}

CMethodCallMessage::~CMethodCallMessage()
{
    if (ownsParam_)
        delete param_;
    freeBuffer();
    SpareTexts& kept = MessageBlockStore::textsOf(this, sizeof(CMethodCallMessage));
    kept.text[0] = std::move(recTermId_);
    kept.text[1] = std::move(recElemId_);
    kept.text[2] = std::move(sndTermId_);
    kept.text[3] = std::move(sndElemId_);
    kept.text[4] = std::move(method_);
}

void* CMethodCallMessage::operator new(size_t size)
{
    return s_messageBlocks.take(size);
}

void CMethodCallMessage::operator delete(void* block)
{
    s_messageBlocks.give(block, sizeof(CMethodCallMessage));
}

void CMethodCallMessage::freeBuffer()
{
    s_largeBlocks.give(buf_, bufCapacity_);
    buf_ = nullptr;
    bufCapacity_ = 0;
}

void CMethodCallMessage::releaseImpl()
{
    // The buffer goes first, and only once: the destructor finds it gone.
    if (isCallWithBufferParam())
        freeBuffer();
    delete this;
}

void CMethodCallMessage::checkSerializable(ISerializable* object)
{
    if (object == nullptr)
        return;
    if (dynamic_cast<ISerializable*>(object) == nullptr) {
        CTrace::scopedError(SCOPE, " the argument object is not serializable", -1);
        throw CNotSerializableException("the given argument object cannot be serialized");
    }
}

CMethodCallMessage* CMethodCallMessage::withObject(CMethodCallMessage* message, ISerializable* object)
{
    message->paramKind_ = OBJECTPARAM;
    message->param_ = object;
    message->ownsParam_ = true;
    return message;
}

CMethodCallMessage* CMethodCallMessage::withBuffer(CMethodCallMessage* message, unsigned size, unsigned char* block,
                                                   unsigned capacity)
{
    message->paramKind_ = BUFFERPARAM;
    message->bufSize_ = size;
    message->buf_ = block;
    message->bufCapacity_ = capacity;
    return message;
}

CMethodCallMessage* CMethodCallMessage::createLocalCall(const std::string& recElemId, const std::string& sndElemId,
                                                        const std::string& method)
{
    return new CMethodCallMessage(LOCAL_TERMINAL, recElemId, LOCAL_TERMINAL, sndElemId, method, METHOD_CALL);
}

CMethodCallMessage* CMethodCallMessage::createLocalCall(const std::string& recElemId, const std::string& sndElemId,
                                                        const std::string& method, ISerializable* object)
{
    checkSerializable(object);
    return withObject(createLocalCall(recElemId, sndElemId, method), object);
}

CMethodCallMessage* CMethodCallMessage::createLocalCall(const std::string& recElemId, const std::string& sndElemId,
                                                        const std::string& method, unsigned size, const void* bytes)
{
    unsigned capacity;
    std::unique_ptr<unsigned char[]> block(copyBytes(size, bytes, false, &capacity));
    CMethodCallMessage* message = createLocalCall(recElemId, sndElemId, method);
    return withBuffer(message, size, block.release(), capacity);
}

CMethodCallMessage* CMethodCallMessage::createRemoteCall(const std::string& recTermId, const std::string& recElemId,
                                                         const std::string& sndTermId, const std::string& sndElemId,
                                                         const std::string& method)
{
    return new CMethodCallMessage(recTermId, recElemId, sndTermId, sndElemId, method, METHOD_CALL);
}

CMethodCallMessage* CMethodCallMessage::createRemoteCall(const std::string& recTermId, const std::string& recElemId,
                                                         const std::string& sndTermId, const std::string& sndElemId,
                                                         const std::string& method, ISerializable* object)
{
    checkSerializable(object);
    return withObject(createRemoteCall(recTermId, recElemId, sndTermId, sndElemId, method), object);
}

CMethodCallMessage* CMethodCallMessage::createRemoteCall(const std::string& recTermId, const std::string& recElemId,
                                                         const std::string& sndTermId, const std::string& sndElemId,
                                                         const std::string& method, unsigned size, const void* bytes)
{
    unsigned capacity;
    std::unique_ptr<unsigned char[]> block(copyBytes(size, bytes, true, &capacity));
    CMethodCallMessage* message = createRemoteCall(recTermId, recElemId, sndTermId, sndElemId, method);
    return withBuffer(message, size, block.release(), capacity);
}

CMethodCallMessage* CMethodCallMessage::createReturnValue(const std::string& recTermId, const std::string& recElemId,
                                                          const std::string& sndTermId, const std::string& sndElemId,
                                                          ISerializable* value)
{
    checkSerializable(value);
    return withObject(new CMethodCallMessage(recTermId, recElemId, sndTermId, sndElemId, CMethodCallWire::RETURN_METHOD, RETURN_VALUE),
                      value);
}

CMethodCallMessage* CMethodCallMessage::createException(const std::string& recTermId, const std::string& recElemId,
                                                        const std::string& sndTermId, const std::string& sndElemId,
                                                        ISerializable* exception)
{
    checkSerializable(exception);
    return withObject(new CMethodCallMessage(recTermId, recElemId, sndTermId, sndElemId, "", EXCEPTION), exception);
}

std::string CMethodCallMessage::toString() const
{
    return " RT[ " + recTermId_ + " ] RE[ " + recElemId_ + " ] ST[ " + sndTermId_ + " ] SE[ " + sndElemId_
           + " ] mod[ " + modifierName(mod_) + " ] ser[ " + std::to_string(static_cast<int>(serialNum_))
           + " ] mtd[ " + method_ + " ] prm[ " + paramName(paramKind_) + " ]";
}

bool CMethodCallMessage::equals(const CJObject* other) const
{
    return other == this;
}

bool CMethodCallMessage::isEquatable() const
{
    return true;
}

int CMethodCallMessage::hashCode() const
{
    return static_cast<int>(reinterpret_cast<uintptr_t>(this));
}

void CMethodCallMessage::checkObjectParam(const char* operation) const
{
    if (paramKind_ != OBJECTPARAM) {
        CTrace::scopedError(SCOPE, std::string(" ") + operation + "(): the message has no ISerializable argument", -1);
        throw CNullPointerException("no ISerializable argument exists: the call of " + std::string(operation)
                                    + " is invalid");
    }
    if (paramTakenOut_) {
        CTrace::scopedError(SCOPE, std::string(" ") + operation + "(): the argument was already taken out", -1);
        throw CNullPointerException("the argument object was already taken out with getoutParam and cannot be lent");
    }
}

ISerializable* CMethodCallMessage::getParam() const
{
    checkObjectParam("getParam");
    return param_;
}

ISerializable* CMethodCallMessage::getoutParam()
{
    checkObjectParam("getoutParam");
    ISerializable* param = param_;
    param_ = nullptr;
    ownsParam_ = false;
    paramTakenOut_ = true;
    return param;
}

void CMethodCallMessage::checkBufferParam(const char* operation) const
{
    if (!isCallWithBufferParam()) {
        CTrace::scopedError(SCOPE, std::string(" ") + operation + "(): the message has no buffer argument", -1);
        throw CNullPointerException(std::string("no buffer argument exists: ") + operation);
    }
}

unsigned CMethodCallMessage::getBufSize() const
{
    checkBufferParam("getBufSize");
    return bufSize_;
}

const unsigned char* CMethodCallMessage::getBuf() const
{
    checkBufferParam("getBuf");
    return buf_;
}
