#pragma once
// The fields of a dialog template as the resource holds them, in its plain or its extended form,
// read inside the resource's bytes: the styles that the script gave, before the platform creates
// and perhaps adjusts the windows.
#include <windows.h>

#include <string>
#include <vector>

class DialogTemplate {
public:
    struct Item {
        DWORD style = 0;
        DWORD exStyle = 0;
        int id = 0;
        std::wstring className;  // an ordinal class as its name ("Button", "Edit", "Static", ...)
        std::wstring text;       // an ordinal as "#128"
    };

    // valid() is false when the module has no such dialog or its bytes do not parse.
    DialogTemplate(HMODULE module, int id);

    bool valid() const { return valid_; }
    DWORD style() const { return style_; }
    const std::vector<Item>& items() const { return items_; }

private:
    bool parse(const BYTE* data, size_t size);

    bool valid_ = false;
    DWORD style_ = 0;
    std::vector<Item> items_;
};
