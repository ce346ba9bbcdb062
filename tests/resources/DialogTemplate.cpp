#include "DialogTemplate.h"

#include <cstring>

namespace {

// Reads little-endian fields one after the other; a read past the end marks the reader failed.
class Fields {
public:
    Fields(const BYTE* data, size_t size) : data_(data), size_(size) {}

    bool failed() const { return failed_; }

    template <typename T>
    T get() {
        T value = {};
        if (at_ + sizeof value > size_) {
            failed_ = true;
            return value;
        }
        std::memcpy(&value, data_ + at_, sizeof value);
        at_ += sizeof value;
        return value;
    }

    std::wstring text() {
        std::wstring out;
        for (WORD c = get<WORD>(); c != 0 && !failed_; c = get<WORD>()) out += static_cast<wchar_t>(c);
        return out;
    }

    // A name or an ordinal: 0 for none, 0xFFFF followed by a number, else a text.
    std::wstring nameOrOrdinal(bool* isOrdinal = nullptr, WORD* ordinal = nullptr) {
        WORD first = get<WORD>();
        if (isOrdinal) *isOrdinal = first == 0xFFFF;
        if (first == 0) return L"";
        if (first == 0xFFFF) {
            WORD number = get<WORD>();
            if (ordinal) *ordinal = number;
            return L"#" + std::to_wstring(number);
        }
        at_ -= 2;
        return text();
    }

    void skip(size_t bytes) {
        if (at_ + bytes > size_) failed_ = true;
        at_ += bytes;
    }

    void alignTo4() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }

private:
    const BYTE* data_;
    size_t size_;
    size_t at_ = 0;
    bool failed_ = false;
};

std::wstring predefinedClass(WORD ordinal) {
    switch (ordinal) {
    case 0x80: return L"Button";
    case 0x81: return L"Edit";
    case 0x82: return L"Static";
    case 0x83: return L"ListBox";
    case 0x84: return L"ScrollBar";
    case 0x85: return L"ComboBox";
    default: return L"#" + std::to_wstring(ordinal);
    }
}

}  // namespace

DialogTemplate::DialogTemplate(HMODULE module, int id) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5 /* RT_DIALOG */));
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    auto data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (data) valid_ = parse(data, SizeofResource(module, resource));
}

bool DialogTemplate::parse(const BYTE* data, size_t size) {
    Fields f(data, size);
    const bool extended = size >= 4 && data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF;
    if (extended) {
        f.skip(4 + 4);  // version, signature, help id
        f.get<DWORD>();  // extended style
        style_ = f.get<DWORD>();
    } else {
        style_ = f.get<DWORD>();
        f.get<DWORD>();
    }
    const WORD count = f.get<WORD>();
    f.skip(4 * sizeof(short));
    f.nameOrOrdinal();  // menu
    f.nameOrOrdinal();  // class
    f.text();           // caption
    if (style_ & (DS_SETFONT | DS_SHELLFONT)) {
        f.get<WORD>();  // points
        if (extended) f.skip(2 + 1 + 1);  // weight, italic, character set
        f.text();
    }
    for (WORD i = 0; i < count && !f.failed(); ++i) {
        f.alignTo4();
        Item item;
        if (extended) {
            f.get<DWORD>();  // help id
            item.exStyle = f.get<DWORD>();
            item.style = f.get<DWORD>();
            f.skip(4 * sizeof(short));
            item.id = static_cast<int>(f.get<DWORD>());
        } else {
            item.style = f.get<DWORD>();
            item.exStyle = f.get<DWORD>();
            f.skip(4 * sizeof(short));
            item.id = static_cast<short>(f.get<WORD>());
        }
        bool ordinal = false;
        WORD number = 0;
        item.className = f.nameOrOrdinal(&ordinal, &number);
        if (ordinal) item.className = predefinedClass(number);
        item.text = f.nameOrOrdinal();
        f.skip(f.get<WORD>());  // creation data
        items_.push_back(item);
    }
    return !f.failed();
}
