#pragma once
// What the transports may learn of a raw payload without decoding it. Every operation is given
// the payload's size and reads nothing outside it.
#include <string>

class CMethodCallBlock {
public:
    // A payload whose first byte is 0 is control data of the session transport; an encoded
    // method call always starts with its format version, 1.
    static bool isControlPayload(const unsigned char* payload, int size);
    static void setControlPayload(unsigned char* payload, int size);
    // The receiver or sender terminal id of an encoded method call; the empty text (never a
    // terminal id) when the block is too short to hold it.
    static std::string peekReceiverTerminalId(const unsigned char* block, int size);
    static std::string peekSenderTerminalId(const unsigned char* block, int size);
};
