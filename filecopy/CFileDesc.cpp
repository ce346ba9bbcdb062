#include "CFileDesc.h"

#include "CTrace.h"

#include <windows.h>


namespace {

const char SCOPE[] = "CFileDesc";

// Seconds since 1970 of a file time, cut to the 32-bit time value the identity keeps.
int32_t secondsOf(const FILETIME& time)
{
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    if (ticks.QuadPart == 0)
        return 0;
    const unsigned long long EPOCH = 116444736000000000ULL; // 1970-01-01 in 100 ns ticks
    long long seconds = (static_cast<long long>(ticks.QuadPart) - static_cast<long long>(EPOCH)) / 10000000LL;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(seconds)));
}

std::wstring wideOf(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    std::wstring wide(length > 0 ? length : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

bool samePath(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    std::wstring wa = wideOf(a);
    std::wstring wb = wideOf(b);
    return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()),
                                TRUE) == CSTR_EQUAL;
}

} // namespace

CFileDesc::CFileDesc(const std::string& path)
    : path_(path), creationTime_(0), modificationTime_(0), size_(0), length_(-1)
{
    WIN32_FILE_ATTRIBUTE_DATA status;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &status)) {
        CTrace::trace(SCOPE, " no status of " + path + ": error " + std::to_string(GetLastError()), 0);
        return;
    }
    modificationTime_ = secondsOf(status.ftLastWriteTime);
    creationTime_ = secondsOf(status.ftCreationTime);
    if (creationTime_ == 0)
        creationTime_ = modificationTime_;
    length_ = (static_cast<int64_t>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
    size_ = static_cast<int32_t>(status.nFileSizeLow);
}

CFileDesc::~CFileDesc() = default;

bool CFileDesc::equals(const CJObject* other) const
{
    const CFileDesc* desc = dynamic_cast<const CFileDesc*>(other);
    if (desc == nullptr)
        return false;
    // The path belongs to the identity: two files of equal size and times are still two files.
    return desc->size_ == size_ && desc->creationTime_ == creationTime_ &&
           desc->modificationTime_ == modificationTime_ && samePath(desc->path_, path_);
}

bool CFileDesc::isEquatable() const
{
    return true;
}

int CFileDesc::hashCode() const
{
    return size_;
}
