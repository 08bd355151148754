#include "MessageWait_win.h"

DWORD WaitAnswering(HANDLE object, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    const DWORD count = object ? 1 : 0;
    bool quit = false;
    WPARAM quitCode = 0;
    DWORD result;
    for (;;) {
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            const DWORD spent = ::GetTickCount() - start;
            left = spent < timeoutMs ? timeoutMs - spent : 0;
        }
        // INPUTAVAILABLE: a message already in the queue when the wait starts
        // counts too, not only one that arrives later.
        result = ::MsgWaitForMultipleObjectsEx(count, &object, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result != WAIT_OBJECT_0 + count) break;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                quitCode = msg.wParam;
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return result;
}
