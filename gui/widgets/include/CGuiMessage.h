#pragma once
// A message box shown for the libraries that lie below the main window: they call show, which
// forwards to the function the main window set (its showMessage, usable from any thread).
#include <string>

class CGuiMessage {
public:
    using ShowFunction = void (*)(const std::string& text);

    CGuiMessage() = delete;

    // The function that shows the texts from now on; null: none.
    static void setShowFunction(ShowFunction show);
    // Any thread. With no function set the text is traced and nothing is shown.
    static void show(const std::string& text);
};
