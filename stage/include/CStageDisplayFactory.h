#pragma once
// Where the stage window gets its content and cursor windows: one process-wide factory, the
// program's own unless a test put another in its place. Used on the user-interface thread.
#include <windows.h>

class CContentCtrl;
class CCursorCtrl;
class CStageCtrl;

class CStageDisplayFactory {
public:
    // The child id of every display.
    static constexpr UINT DISPLAY_ID = 2000;
    static constexpr RECT CONTENT_RECT = {0, 0, 120, 90};
    static constexpr RECT CURSOR_RECT = {0, 0, 20, 20};

    virtual ~CStageDisplayFactory() = default;
    // A new window at CONTENT_RECT or CURSOR_RECT with DISPLAY_ID, the stage as parent and stage.
    virtual CContentCtrl* makeContent(CStageCtrl* stage);
    virtual CCursorCtrl* makeCursor(CStageCtrl* stage);

    // The factory in use.
    static CStageDisplayFactory& get();
    // Puts the factory in place (null: the program's own) and returns the one before (null
    // for the program's own). The caller keeps it.
    static CStageDisplayFactory* set(CStageDisplayFactory* factory);
};
