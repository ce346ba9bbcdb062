#pragma once
// The stage window's command message: how other threads have the stage window do something on
// its own thread. wParam is one of the codes below; lParam carries the argument as the code
// says: a key or text object (a CJString on the heap that the window's handler deletes, unless
// it keeps the key), an integer, or nothing.
#include <windows.h>

#include <string>

class CStageCommand {
public:
    static constexpr UINT WM_STAGE_CTRL_COMMAND = WM_APP + 102;

    enum Code : WPARAM {
        GENERATE_ELEMENT_DISPLAY = 0,   // key object, kept by the window (waited for)
        GENERATE_CURSOR_DISPLAY = 1,    // key object, kept by the window (waited for)
        RELEASE_DISPLAY = 2,            // key object
        PUT_ON_TOP = 3,                 // key object, kept when a place is reserved
        MOVE_TO_TOP = 4,                // key object
        MOVE_TO_BOTTOM = 5,             // key object
        MOVE_TO_UPPER_LAYER = 6,        // key object
        IS_GRABED = 7,                  // key object (waited for)
        LOWER_LAYER_ALIGNMENT = 8,      // nothing (waited for)
        CHANGE_BACKGROUND = 9,          // integer: background number
        SET_STATUS = 10,                // integer: status value
        ON_INITIALIZED = 11,            // nothing
        ON_ELEMENT_INSTALLED = 12,      // text object: element descriptor
        CHANGE_CUSTOM_BG_BITMAP = 13,   // nothing: the window takes the data held for it (waited for)
        SHOW_MESSAGE = 14,              // text object: message text
        ON_FILE_COPIED = 15,            // text object: copy report
    };

    CStageCommand() = delete;

    // Posts the code with a new text object to the window of that name. A failed post is
    // traced with the exception's text and the object freed.
    static void postStr(const std::string& window, WPARAM code, const std::string& text);
    // The same for the command message of another window of the stage (content, cursor).
    static void postText(const std::string& window, UINT message, WPARAM code, const std::string& text);
    // Posts the code with the integer; a failed post is traced.
    static void postInt(const std::string& window, WPARAM code, int value);
    // The text of a posted text object, which it frees.
    static std::string takeText(LPARAM argument);
    // Runs the code on the window's thread and returns once it has run there: true. False,
    // with the invoker's refusal traced, when the caller may not wait for that thread or a
    // disable released it first (the handler may still run later).
    static bool send(const std::string& window, WPARAM code, LPARAM argument);
};
