#pragma once
// A call of one method of one element on one terminal, or the answer to such a call. It carries
// at most one argument: none, one serializable object or one byte buffer. Made only by the
// factories below; given up through IMessage::release.
#include "CJObject.h"
#include "IMessage.h"

#include <string>
#include <string_view>

class ISerializable;

class CMethodCallMessage : public CJObject, public virtual IMessage {
public:
    // Modifiers.
    static constexpr unsigned char NOTICE = 0;
    static constexpr unsigned char QUERY = 1;
    static constexpr unsigned char REPLY = 2;
    static constexpr unsigned char ERROR_REPLY = 3;

    // Parameter kinds.
    static constexpr int NOPARAM = 0;
    static constexpr int OBJECTPARAM = 1;
    static constexpr int BUFFERPARAM = 2;

    // Destination macros and the word separator of string arguments.
    static constexpr const char INVALID_TERMINAL[] = "@INVALID_TERMINAL";
    static constexpr const char INVALID_ELEMENT_GUID[] = "@INVALID_ELEMENT_GUID";
    static constexpr const char LOCAL_TERMINAL[] = "@LOCAL_TERMINAL";
    static constexpr const char HOST_TERMINAL[] = "@HOST_TERMINAL";
    static constexpr const char ALL_TERMINAL[] = "@ALL_TERMINAL";
    static constexpr const char ALL_TERMINAL_EXCEPT_ME[] = "@ALL_TERMINAL_EXCEPT_ME";
    static constexpr const char HAS_MASTER[] = "@HAS_MASTER";
    static constexpr const char HAS_SLAVE[] = "@HAS_SLAVE";
    static constexpr const char PCS[] = "@PCS";
    static constexpr const char ARG_SEPARATOR[] = " ";

    // Factories. An object argument becomes the message's own (CNotSerializableException, and
    // no message, when it is not a serializable object); a NULL object is allowed. Buffer
    // bytes are copied; a NULL source with a size other than 0 stops the process.
    static CMethodCallMessage* createLocalCall(const std::string& recElemId, const std::string& sndElemId,
                                               const std::string& method);
    static CMethodCallMessage* createLocalCall(const std::string& recElemId, const std::string& sndElemId,
                                               const std::string& method, ISerializable* object);
    static CMethodCallMessage* createLocalCall(const std::string& recElemId, const std::string& sndElemId,
                                               const std::string& method, unsigned size, const void* bytes);
    static CMethodCallMessage* createRemoteCall(const std::string& recTermId, const std::string& recElemId,
                                                const std::string& sndTermId, const std::string& sndElemId,
                                                const std::string& method);
    static CMethodCallMessage* createRemoteCall(const std::string& recTermId, const std::string& recElemId,
                                                const std::string& sndTermId, const std::string& sndElemId,
                                                const std::string& method, ISerializable* object);
    static CMethodCallMessage* createRemoteCall(const std::string& recTermId, const std::string& recElemId,
                                                const std::string& sndTermId, const std::string& sndElemId,
                                                const std::string& method, unsigned size, const void* bytes);
    static CMethodCallMessage* createReturnValue(const std::string& recTermId, const std::string& recElemId,
                                                 const std::string& sndTermId, const std::string& sndElemId,
                                                 ISerializable* value);
    static CMethodCallMessage* createException(const std::string& recTermId, const std::string& recElemId,
                                               const std::string& sndTermId, const std::string& sndElemId,
                                               ISerializable* exception);

    CMethodCallMessage(const CMethodCallMessage&) = delete;
    CMethodCallMessage& operator=(const CMethodCallMessage&) = delete;

    // IMessage
    void releaseImpl() override;
    const std::string& getRecTermId() const override { return recTermId_; }
    const std::string& getRecElemId() const override { return recElemId_; }
    const std::string& getSndTermId() const override { return sndTermId_; }
    const std::string& getSndElemId() const override { return sndElemId_; }
    unsigned char getModifier() const override { return mod_; }
    unsigned getSerialNum() const override { return serialNum_; }
    void setRecTermId(const std::string& id) override { recTermId_ = id; }
    void setRecElemId(const std::string& id) override { recElemId_ = id; }
    void setSndTermId(const std::string& id) override { sndTermId_ = id; }
    void setSndElemId(const std::string& id) override { sndElemId_ = id; }
    void setModifier(unsigned char modifier) override { mod_ = modifier; }
    void setSerialNum(unsigned serialNum) override { serialNum_ = serialNum; }
    void markBroken() override { broken_ = true; }
    bool isBroken() const override { return broken_; }
    std::string toString() const override;

    // CJObject: a message equals only itself.
    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;

    const std::string& getMethodName() const { return method_; }
    bool isCallWithoutParam() const { return callKind_ == METHOD_CALL && paramKind_ == NOPARAM; }
    bool isCallWithObjectParam() const { return callKind_ == METHOD_CALL && paramKind_ == OBJECTPARAM; }
    bool isCallWithBufferParam() const { return callKind_ == METHOD_CALL && paramKind_ == BUFFERPARAM; }
    bool isReturnValue() const { return callKind_ == RETURN_VALUE; }
    bool isException() const { return callKind_ == EXCEPTION; }

    // Lends the object argument (the message keeps it). CNullPointerException when the message
    // has no object argument or it was taken out.
    ISerializable* getParam() const;
    // Hands the object argument over to the caller; same refusals as getParam.
    ISerializable* getoutParam();
    // Size and bytes of the buffer argument (the message keeps them); CNullPointerException
    // when the message is not a call with a buffer argument.
    unsigned getBufSize() const;
    const unsigned char* getBuf() const;

private:
    enum CallKind { METHOD_CALL = 0, RETURN_VALUE = 1, EXCEPTION = 2 };
    // The decoder makes its messages from the texts as they lie in the received block, each
    // copied once, straight into the message.
    friend class CMethodCallMsgDecoder;
    struct Texts {
        std::string_view recTermId, recElemId, sndTermId, sndElemId, method;
    };
    enum ReceivedKind { RECEIVED_NO_PARAM, RECEIVED_OBJECT, RECEIVED_BUFFER, RECEIVED_RETURN, RECEIVED_EXCEPTION };
    // As the matching create function does with these texts (the object is taken, the bytes
    // copied); COutOfMemoryException as they do.
    static CMethodCallMessage* createReceived(const Texts& texts, ReceivedKind kind, ISerializable* object,
                                              unsigned size, const unsigned char* bytes);
    CMethodCallMessage(const Texts& texts, CallKind callKind);

    CMethodCallMessage(const std::string& recTermId, const std::string& recElemId, const std::string& sndTermId,
                       const std::string& sndElemId, const std::string& method, CallKind callKind);
    ~CMethodCallMessage() override;
    // Messages come and go by the million: their memory, and the room of their texts, is kept
    // for the next ones instead of going back to the heap each time.
    static void* operator new(size_t size);
    static void operator delete(void* block);

    static CMethodCallMessage* withObject(CMethodCallMessage* message, ISerializable* object);
    static CMethodCallMessage* withBuffer(CMethodCallMessage* message, unsigned size, unsigned char* block,
                                          unsigned capacity);
    static void checkSerializable(ISerializable* object);
    void checkObjectParam(const char* operation) const;
    void checkBufferParam(const char* operation) const;
    void freeBuffer();

    std::string recTermId_;
    std::string recElemId_;
    std::string sndTermId_;
    std::string sndElemId_;
    unsigned char mod_;
    unsigned serialNum_;
    std::string method_;
    bool broken_;
    int callKind_;
    int paramKind_;
    ISerializable* param_;
    unsigned bufSize_;
    unsigned char* buf_;
    unsigned bufCapacity_; // of the block, which may be larger than bufSize_ when it is reused
    bool ownsParam_;
    bool paramTakenOut_;
};
