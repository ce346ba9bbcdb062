#include "CMenu.h"

#include "CWinApp.h"
#include "CWnd.h"

CMenu::~CMenu() {
    DestroyMenu();
}

BOOL CMenu::LoadMenu(UINT id) {
    DestroyMenu();
    m_hMenu = ::LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id));
    m_owned = m_hMenu != nullptr;
    return m_owned;
}

BOOL CMenu::DestroyMenu() {
    BOOL destroyed = FALSE;
    if (m_hMenu && m_owned)
        destroyed = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    m_owned = false;
    m_subMenus.clear();
    return destroyed;
}

CMenu* CMenu::GetSubMenu(int position) {
    HMENU sub = m_hMenu ? ::GetSubMenu(m_hMenu, position) : nullptr;
    if (!sub)
        return nullptr;
    for (CMenu& known : m_subMenus) {
        if (known.m_hMenu == sub)
            return &known;
    }
    CMenu& added = m_subMenus.emplace_back();
    added.m_hMenu = sub;
    return &added;
}

UINT CMenu::CheckMenuItem(UINT item, UINT flags) {
    return static_cast<UINT>(::CheckMenuItem(m_hMenu, item, flags));
}

UINT CMenu::EnableMenuItem(UINT item, UINT flags) {
    return static_cast<UINT>(::EnableMenuItem(m_hMenu, item, flags));
}

int CMenu::GetMenuItemCount() const {
    return ::GetMenuItemCount(m_hMenu);
}

UINT CMenu::GetMenuItemID(int position) const {
    return ::GetMenuItemID(m_hMenu, position);
}

UINT CMenu::GetMenuState(UINT item, UINT flags) const {
    return ::GetMenuState(m_hMenu, item, flags);
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* wnd, LPCRECT ignored) {
    return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, wnd ? wnd->m_hWnd : nullptr, ignored);
}
