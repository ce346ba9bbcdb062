#pragma once
// A menu: loaded from the resource module and destroyed with its object, or a submenu of
// another menu, which that menu owns.
#include <windows.h>

#include <list>

class CWnd;

class CMenu {
public:
    CMenu() = default;
    // Destroys a menu that this object loaded.
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    // Loads the menu resource id of AfxGetResourceHandle; a menu loaded before is destroyed
    // first. FALSE when there is no such menu.
    BOOL LoadMenu(UINT id);
    BOOL DestroyMenu();

    // The submenu at the position, or null. The object belongs to this menu and lives as long
    // as it does; the submenu is not destroyed by it.
    CMenu* GetSubMenu(int position);

    // flags: MF_BYCOMMAND or MF_BYPOSITION with MF_CHECKED/MF_UNCHECKED; the previous state,
    // or (UINT)-1 when there is no such item.
    UINT CheckMenuItem(UINT item, UINT flags);
    // flags: MF_BYCOMMAND or MF_BYPOSITION with MF_ENABLED, MF_GRAYED or MF_DISABLED.
    UINT EnableMenuItem(UINT item, UINT flags);
    int GetMenuItemCount() const;
    // The command id at the position; (UINT)-1 for a submenu or no item (0 for a separator).
    UINT GetMenuItemID(int position) const;
    UINT GetMenuState(UINT item, UINT flags) const;

    // Shows the menu as a pop-up at (x, y) on the screen and tracks it; the chosen item arrives
    // as a WM_COMMAND of the window (unless TPM_RETURNCMD asks for the id instead). Returns
    // when the menu closes.
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* wnd, LPCRECT ignored = nullptr);

    HMENU GetSafeHmenu() const { return m_hMenu; }
    operator HMENU() const { return m_hMenu; }

    HMENU m_hMenu = nullptr;

private:
    bool m_owned = false;
    // Objects of the submenus asked for (a list: their addresses stay put).
    std::list<CMenu> m_subMenus;
};
