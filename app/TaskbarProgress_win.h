// The dialog's progress mirrored on its taskbar button (ITaskbarList3, from
// Windows 7). The shell says when the button exists ("TaskbarButtonCreated",
// again after Explorer restarts): nothing is called before that, and where
// the interface is missing nothing else changes. User-interface thread only.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "Handles_win.h"

inline void ReleaseTaskbarList(ITaskbarList3* list) { list->Release(); }
using TTaskbarList = TOwnedHandle<NullableTraits<ITaskbarList3*, ReleaseTaskbarList>>;

// The thread's COM apartment, left when the owner goes.
class TComApartment {
public:
    TComApartment() = default;
    ~TComApartment() {
        if (Entered) ::CoUninitialize();
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;
    void Enter() {
        if (!Entered) Entered = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }

private:
    bool Entered = false;
};

class TTaskbarProgress {
public:
    TTaskbarProgress() = default;
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
    // Declared in this order: the interface is released before the apartment.
    TComApartment Apartment;
    TTaskbarList List;
    // Until the first percentage the length is not known: indeterminate.
    TBPFLAG Running = TBPF_INDETERMINATE;
    bool IsPaused = false;
    bool IsFailed = false;
    int Value = 0;
    int Shown = -1;  // the state last set, -1 for none
    int ShownValue = -1;
};
