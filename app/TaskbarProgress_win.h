// The dialog's progress mirrored on its taskbar button (ITaskbarList3, from
// Windows 7). The shell says when the button exists ("TaskbarButtonCreated",
// again after Explorer restarts): nothing is called before that, and where
// the interface is missing nothing else changes. User-interface thread only.
#pragma once

#include <windows.h>
#include <shobjidl.h>

class TTaskbarProgress {
public:
    TTaskbarProgress() = default;
    ~TTaskbarProgress();
    TTaskbarProgress(const TTaskbarProgress&) = delete;
    TTaskbarProgress& operator=(const TTaskbarProgress&) = delete;

    // Lets the shell's message through to `window` and follows the
    // percentages the worker posts to `bar`.
    void Attach(HWND window, HWND bar);
    // True for the shell's message, on which the interface is made (once)
    // and the current state shown.
    bool ButtonCreated(UINT message);
    void Paused(bool paused);
    void Failed();
    void Completed();

private:
    static LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);
    void Percent(int percent);
    void Show();

    HWND Wnd = nullptr;
    WNDPROC BarDefault = nullptr;
    UINT Message = 0;
    bool ComReady = false;
    ITaskbarList3* List = nullptr;
    // Until the first percentage the length is not known: indeterminate.
    TBPFLAG Running = TBPF_INDETERMINATE;
    bool IsPaused = false;
    bool IsFailed = false;
    int Value = 0;
    int Shown = -1;  // the state last set, -1 for none
    int ShownValue = -1;
};
