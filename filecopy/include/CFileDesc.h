#pragma once
// The identity of a file's content as read when the object is made: its path (without regard
// to case), creation and last-write times in whole seconds and the low 32 bits of its length.
// Serves as the key of the file copy element's cache of private copies.
#include "CJObject.h"

#include <cstdint>
#include <string>

class CFileDesc : public CJObject {
public:
    // A file whose status cannot be read gets zero times and size.
    explicit CFileDesc(const std::string& path);
    ~CFileDesc() override;

    // Another CFileDesc of the same path with equal size and times.
    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    // The size; negative for lengths of 2 GiB and more (the table folds it into a bucket).
    int hashCode() const override;

    const std::string& getPath() const { return path_; }
    int32_t getCreationTime() const { return creationTime_; }
    int32_t getModificationTime() const { return modificationTime_; }
    int32_t getSize() const { return size_; }
    // The whole length in bytes; -1 when the status could not be read.
    int64_t getLength() const { return length_; }

private:
    std::string path_;
    int32_t creationTime_;
    int32_t modificationTime_;
    int32_t size_;
    int64_t length_;
};
