#include "CMethodCallMessage.h"

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
    : recTermId_(recTermId), recElemId_(recElemId), sndTermId_(sndTermId), sndElemId_(sndElemId),
      mod_(callKind == METHOD_CALL ? NOTICE : REPLY),
      serialNum_(0), method_(method), broken_(false), callKind_(callKind), paramKind_(NOPARAM), param_(nullptr),
      bufSize_(0), buf_(nullptr), bufCapacity_(0), ownsParam_(false), paramTakenOut_(false)
{
}

CMethodCallMessage::~CMethodCallMessage()
{
    if (ownsParam_)
        delete param_;
    freeBuffer();
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
