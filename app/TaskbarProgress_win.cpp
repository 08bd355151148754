#include "TaskbarProgress_win.h"

#include <commctrl.h>

#include <utility>

void TTaskbarProgress::Attach(HWND window, HWND bar) {
    Wnd = window;
    Message = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    // Run elevated, the program would not get a lower-integrity Explorer's
    // message otherwise. Looked up: older systems have no such filter.
    typedef BOOL(WINAPI * FilterProc)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
    if (auto allow = reinterpret_cast<FilterProc>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx"))))
        allow(window, Message, MSGFLT_ALLOW, nullptr);
    // The worker only posts PBM_SETPOS to the bar; the bar tells us.
    ::SetWindowLongPtrW(bar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    BarDefault = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TTaskbarProgress::BarProc)));
}

LRESULT CALLBACK TTaskbarProgress::BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TTaskbarProgress*>(::GetWindowLongPtrW(bar, GWLP_USERDATA));
    if (message == PBM_SETPOS) self->Percent(static_cast<int>(wParam));
    return ::CallWindowProcW(self->BarDefault, bar, message, wParam, lParam);
}

bool TTaskbarProgress::ButtonCreated(UINT message) {
    if (!Message || message != Message) return false;
    Apartment.Enter();
    if (!List) {
        ITaskbarList3* made = nullptr;
        if (SUCCEEDED(::CoCreateInstance(__uuidof(TaskbarList), nullptr, CLSCTX_INPROC_SERVER,
                                         __uuidof(ITaskbarList3), reinterpret_cast<void**>(&made)))) {
            TTaskbarList list(made);
            if (SUCCEEDED(list.Get()->HrInit())) List = std::move(list);
        }
    }
    // A new button (Explorer restarted) shows nothing yet.
    Shown = ShownValue = -1;
    Show();
    return true;
}

void TTaskbarProgress::Percent(int percent) {
    Value = percent;
    if (Running == TBPF_INDETERMINATE) Running = TBPF_NORMAL;
    Show();
}

void TTaskbarProgress::Paused(bool paused) {
    IsPaused = paused;
    Show();
}

void TTaskbarProgress::Failed() {
    // Without a percentage the red bar is shown full, so that it is seen.
    if (Running != TBPF_NORMAL) Value = 100;
    IsFailed = true;
    Show();
}

void TTaskbarProgress::Completed() {
    Running = TBPF_NOPROGRESS;
    Show();
}

void TTaskbarProgress::Show() {
    if (!List) return;
    const TBPFLAG state = IsFailed ? TBPF_ERROR : IsPaused ? TBPF_PAUSED : Running;
    const bool valued = state != TBPF_NOPROGRESS && state != TBPF_INDETERMINATE;
    if (valued && Value != ShownValue) List.Get()->SetProgressValue(Wnd, static_cast<ULONGLONG>(Value), 100);
    if (state != Shown) List.Get()->SetProgressState(Wnd, state);
    Shown = state;
    ShownValue = valued ? Value : -1;
}
