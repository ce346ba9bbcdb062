#include "RiffReader.h"

#include <cstring>
#include <vector>

namespace {

DWORD le32(const std::string& s, size_t at) {
    DWORD v = 0;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

struct Chunk {
    std::string id;
    std::string data;
};

// The chunks that follow each other in an area, each padded to an even length.
std::vector<Chunk> chunksOf(const std::string& area) {
    std::vector<Chunk> chunks;
    size_t at = 0;
    while (at + 8 <= area.size()) {
        DWORD length = le32(area, at + 4);
        if (length > area.size() - at - 8) break;
        chunks.push_back({area.substr(at, 4), area.substr(at + 8, length)});
        at += 8 + length + (length & 1);
    }
    return chunks;
}

}  // namespace

RiffReader::RiffReader(const void* data, size_t size) : bytes_(static_cast<const char*>(data), size) {}

std::string RiffReader::form() const {
    if (bytes_.size() < 12 || bytes_.compare(0, 4, "RIFF") != 0) return "";
    return bytes_.substr(8, 4);
}

std::string RiffReader::body() const {
    if (form().empty()) return "";
    DWORD length = le32(bytes_, 4);
    if (length < 4 || length > bytes_.size() - 8) return "";
    return bytes_.substr(12, length - 4);
}

std::string RiffReader::listIn(const std::string& area, const std::string& type) const {
    for (const Chunk& c : chunksOf(area)) {
        if (c.id == "LIST" && c.data.size() >= 4 && c.data.compare(0, 4, type) == 0) return c.data.substr(4);
    }
    return "";
}

std::string RiffReader::chunk(const std::string& path, const char* fourcc) const {
    std::string area = body();
    size_t start = 0;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        area = listIn(area, path.substr(start, slash - start));
        start = slash + 1;
    }
    for (const Chunk& c : chunksOf(area)) {
        if (c.id == fourcc) return c.data;
    }
    return "";
}

int RiffReader::count(const std::string& list, const char* fourcc) const {
    int n = 0;
    for (const Chunk& c : chunksOf(listIn(body(), list))) n += c.id == fourcc ? 1 : 0;
    return n;
}
