#include "SingleInstance_win.h"

#include "Handles_win.h"
#include "WideText_win.h"

namespace {

// Held until the process ends, so Windows releases it however it ends.
TKernelHandle InstanceMutex;

const HANDLE Running = reinterpret_cast<HANDLE>(1);
const HANDLE Installing = reinterpret_cast<HANDLE>(2);

// A property, not the caption: the caption is translated, and the property
// is set by the downloader alone.
TWideText MarkName(const std::string& year) { return ToWide("Quillet.Downloader." + year); }

struct TSearch {
    const wchar_t* mark;
    HWND found;
};

BOOL CALLBACK FindMarked(HWND wnd, LPARAM param) {
    auto* search = reinterpret_cast<TSearch*>(param);
    if (!::GetPropW(wnd, search->mark)) return TRUE;
    search->found = wnd;
    return FALSE;
}

}  // namespace

bool ClaimInstance(const std::string& year) {
    ::SetLastError(ERROR_SUCCESS);
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, ToWide("Local\\Quillet.Downloader." + year).c_str());
    const DWORD error = ::GetLastError();
    InstanceMutex.Reset(mutex);
    // Denied: it exists, made by a process of other rights (an elevated one).
    // Any other failure must not stop the download.
    return mutex ? error != ERROR_ALREADY_EXISTS : error != ERROR_ACCESS_DENIED;
}

void ReleaseInstance() { InstanceMutex.Reset(); }

void ShowRunningInstance(const std::string& year) {
    const TWideText mark = MarkName(year);
    TSearch search{mark.c_str(), nullptr};
    // The first one may still be starting: give its window a few seconds.
    // EnumWindows sees only this session's desktop.
    for (int tries = 0; tries < 50 && !search.found; ++tries) {
        if (tries) ::Sleep(100);
        ::EnumWindows(FindMarked, reinterpret_cast<LPARAM>(&search));
    }
    if (!search.found || ::GetPropW(search.found, mark.c_str()) == Installing) return;
    if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(::GetLastActivePopup(search.found));
}

void MarkInstanceWindow(HWND dialog, const std::string& year, bool installing) {
    ::SetPropW(dialog, MarkName(year).c_str(), installing ? Installing : Running);
}

void RemoveInstanceMark(HWND dialog, const std::string& year) { ::RemovePropW(dialog, MarkName(year).c_str()); }
