#include "AfxCommCtrl.h"

#include <commctrl.h>

BOOL AfxRegisterCommonControls(DWORD classes) {
    INITCOMMONCONTROLSEX init{sizeof init, classes};
    return InitCommonControlsEx(&init);
}
