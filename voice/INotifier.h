#pragma once
// Where finished voice packets go: the voice element's sending face.
#include <cstddef>
#include <string>

class INotifier {
public:
    virtual ~INotifier() = default;
    virtual void tell(const std::string& text) = 0;
    virtual void tell(const unsigned char* data, size_t size) = 0;
};
