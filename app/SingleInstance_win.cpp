#include "SingleInstance_win.h"

#include "Handles_win.h"

namespace {

// Held until the process ends, so Windows releases it however it ends.
TKernelHandle InstanceMutex;

const HANDLE Running = reinterpret_cast<HANDLE>(1);
const HANDLE Installing = reinterpret_cast<HANDLE>(2);

// Prefix and year, the year byte by byte: the name only has to come out the
// same in every process of one build. A fixed buffer: the library's wide
// strings would add some 35 KB to the program.
struct TName {
    wchar_t Text[64];
};

TName Named(const wchar_t* prefix, const std::string& year) {
    TName name = {};
    size_t n = 0;
    while (*prefix) name.Text[n++] = *prefix++;
    for (size_t i = 0; i < year.size() && n + 1 < sizeof name.Text / sizeof name.Text[0]; ++i)
        name.Text[n++] = static_cast<wchar_t>(static_cast<unsigned char>(year[i]));
    return name;
}

// A property, not the caption: the caption is translated, and the property
// is set by the downloader alone.
TName MarkName(const std::string& year) { return Named(L"Quillet.Downloader.", year); }

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
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Named(L"Local\\Quillet.Downloader.", year).Text);
    const DWORD error = ::GetLastError();
    InstanceMutex.Reset(mutex);
    // Denied: it exists, made by a process of other rights (an elevated one).
    // Any other failure must not stop the download.
    return mutex ? error != ERROR_ALREADY_EXISTS : error != ERROR_ACCESS_DENIED;
}

void ShowRunningInstance(const std::string& year) {
    const TName mark = MarkName(year);
    TSearch search{mark.Text, nullptr};
    // The first one may still be starting: give its window a few seconds.
    // EnumWindows sees only this session's desktop.
    for (int tries = 0; tries < 50 && !search.found; ++tries) {
        if (tries) ::Sleep(100);
        ::EnumWindows(FindMarked, reinterpret_cast<LPARAM>(&search));
    }
    if (!search.found || ::GetPropW(search.found, mark.Text) == Installing) return;
    if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(::GetLastActivePopup(search.found));
}

void MarkInstanceWindow(HWND dialog, const std::string& year, bool installing) {
    ::SetPropW(dialog, MarkName(year).Text, installing ? Installing : Running);
}

void RemoveInstanceMark(HWND dialog, const std::string& year) { ::RemovePropW(dialog, MarkName(year).Text); }
