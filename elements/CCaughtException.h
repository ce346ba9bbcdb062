#pragma once
// What a catch-all handler can say about the exception it caught.
#include <string>

class CCaughtException {
public:
    // Text of the exception being handled, for the trace; call it only inside a catch block.
    // A pointer thrown belongs to the catcher and is deleted here.
    static std::string describe();
};
