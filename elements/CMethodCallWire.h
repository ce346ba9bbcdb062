#pragma once
// Constants of the method-call block shared by the encoder and the decoder.

class CMethodCallWire {
public:
    static constexpr unsigned char VERSION = 1;
    // senderInfo: whether the sender element id is on the wire or equals the receiver's.
    static constexpr unsigned char SENDER_ELEMENT_FOLLOWS = 0;
    static constexpr unsigned char SENDER_ELEMENT_LEFT_OUT = 1;
    // Type name of a raw byte-buffer argument.
    static constexpr const char BUFFER_TYPE_NAME[] = "char[]";
    // Method name of a return value.
    static constexpr const char RETURN_METHOD[] = "return";
};
