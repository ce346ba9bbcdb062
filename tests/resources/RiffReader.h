#pragma once
// Walks the chunks of a RIFF file held in memory ("RIFF" form, chunks and "LIST" lists), for the
// tests of the sounds and the animation. Every read stays inside the bytes given.
#include <windows.h>

#include <string>

class RiffReader {
public:
    RiffReader(const void* data, size_t size);

    // The form type of a whole RIFF file ("WAVE", "AVI "), empty when the bytes are no RIFF file.
    std::string form() const;
    // The data of the first chunk with the fourcc inside the form, inside the list that `path`
    // names ("hdrl/strl" for a list in a list), or at the form's top level when `path` is empty.
    // Empty when there is none.
    std::string chunk(const std::string& path, const char* fourcc) const;
    // How many chunks with the fourcc the list holds ("movi").
    int count(const std::string& list, const char* fourcc) const;

private:
    // The data of the first list of the type in the area, or empty.
    std::string listIn(const std::string& area, const std::string& type) const;
    std::string body() const;

    std::string bytes_;
};
