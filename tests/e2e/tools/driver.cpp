// Test driver: plays the user of a Win32 program, scripted line by line on
// stdin. Runs in the same Wine prefix as the program under test.
//
// Every command answers with zero or more detail lines and then one line that
// starts with "ok" or "err". Arguments are separated by blanks; an argument
// with blanks is written in double quotes (\" and \\ inside). Window texts in
// answers are escaped (\\, \t, \r, \n, \xHH for other control bytes), so one
// answer is always one line; detail lines separate their fields with tabs.
// Window handles are decimal numbers. Every wait is bounded by the timeout
// (milliseconds) the command names, and the whole driver by --lifetime.
// Texts travel as UTF-8 both ways and reach Windows through the wide entry
// points, so names outside the ANSI code page (paths, captions) stay intact.
//
//   start <command line>                  CreateProcessA -> ok <pid>
//   setenv <name> [value]                 for processes started later
//   scope <pid>                           find/answer/saveas/boxes see only that
//                                         process's windows (0: every process)
//   find <caption> <timeout> [class]      FindWindowW, class "#32770" -> ok <hwnd>
//   gone <hwnd> <timeout>                 until the window no longer exists
//   text <hwnd> <ctrl id|->               WM_GETTEXT -> ok <text>
//   caption <hwnd>                        the window's own text
//   watch <hwnd> <ctrl id> <timeout>      poll the text until the window is gone
//                                         or timeout: "seen\t<ms>\t<text>" per change
//   pos <hwnd> <ctrl id>                  PBM_GETPOS -> ok <n>
//   range <hwnd> <ctrl id>                PBM_GETRANGE -> ok <low> <high>
//   checked <hwnd> <ctrl id>              BM_GETCHECK -> ok <n>
//   styles <hwnd> <ctrl id|->             -> ok <style> <extended style> <left> <right>
//                                         (styles in hex, the screen rectangle's edges)
//   click <hwnd> <ctrl id>                BM_CLICK (posted)
//   command <hwnd> <id>                   WM_COMMAND id (posted)
//   close <hwnd>                          WM_CLOSE (posted)
//   cancel <hwnd>                         WM_COMMAND IDCANCEL (posted)
//   esc <hwnd>                            the Escape key to the window's focus
//   post <hwnd> <message name>            PostMessage of RegisterWindowMessage(name),
//                                         as the shell posts "TaskbarButtonCreated"
//   foreground [hwnd]                     SetForegroundWindow(hwnd) if given
//                                         -> ok <GetForegroundWindow>
//   answer <caption> <substring> <button> <timeout>
//                                         press <button> (IDOK 1, IDYES 6, IDNO 7)
//                                         on the message box with that caption
//                                         once its text contains <substring>
//                                         -> ok <text>; err mismatch <text>
//   boxes                                 "box\t<hwnd>\t<pid>\t<caption>\t<text>"
//                                         per visible #32770 window
//   windows                               "win\t<hwnd>\t<class>\t<caption>\t<visible>"
//                                         per top-level window of the started process
//   saveas <path> <timeout> [caption]     fill the Save As dialog and press Save
//   extent <hwnd> <ctrl id|-> [text]      the text (default: the control's own)
//                                         in the control's font (WM_GETFONT)
//                                         (measured inside its program by
//                                         measurehook.dll, beside the driver)
//                                         -> ok <text width> <client width> <dpi>
//   widest <hwnd> <ctrl id|-> <file>      the same for each line of a UTF-8 file
//                                         -> ok <width> <client width> <dpi> <widest line>
//   wait <timeout>                        started process ended -> ok <exit code>
//   exitcode                              ok <code> | err running
//   kill                                  TerminateProcess the started process
//   sleep <ms>
//   quit
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "LineEscape.h"
#include "MeasureShared.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (n) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::string Utf8(const wchar_t* text, size_t length) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    if (n) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

HANDLE g_process = nullptr;
DWORD g_pid = 0;
DWORD g_scope = 0;  // 0: windows of any process

bool InScope(HWND wnd) {
    if (!g_scope) return true;
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    return pid == g_scope;
}
const UINT kSendTimeout = 3000;
// The hook's export: a stdcall name is decorated on i686 only.
#ifdef _WIN64
const char MeasureHookName[] = "MeasureHook";
#else
const char MeasureHookName[] = "MeasureHook@12";
#endif

void Reply(const char* status, const std::string& rest = std::string()) {
    if (rest.empty())
        std::printf("%s\n", status);
    else
        std::printf("%s %s\n", status, rest.c_str());
    std::fflush(stdout);
}

void Detail(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}


std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string tok;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                tok += line[i++];
            }
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') tok += line[i++];
        }
        out.push_back(tok);
    }
    return out;
}

std::string Str(uintptr_t v) { return std::to_string(static_cast<unsigned long long>(v)); }

HWND ToHwnd(const std::string& s) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(s.c_str(), nullptr, 0)));
}

long ToLong(const std::string& s) { return std::strtol(s.c_str(), nullptr, 0); }

// A control of a window, or the window itself for "-".
HWND Control(HWND wnd, const std::string& id) {
    if (id == "-") return wnd;
    return GetDlgItem(wnd, static_cast<int>(ToLong(id)));
}

bool GetText(HWND wnd, std::string& text) {
    // The text may change between the two messages; a buffer that comes back
    // full is retried larger, so a longer new text is never cut.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeout, &length))
        return false;
    for (size_t size = length + 256 > 4096 ? length + 256 : 4096;; size *= 2) {
        std::vector<wchar_t> buf(size);
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(wnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                                 SMTO_ABORTIFHUNG, kSendTimeout, &got))
            return false;
        if (got + 1 < size || size > (1u << 24)) {
            text = Utf8(buf.data(), got < size ? got : size - 1);
            return true;
        }
    }
}

bool Send(HWND wnd, UINT msg, WPARAM w, LPARAM l, DWORD_PTR& result) {
    return SendMessageTimeoutA(wnd, msg, w, l, SMTO_ABORTIFHUNG, kSendTimeout, &result) != 0;
}

std::string ClassOf(HWND wnd) {
    char cls[256] = "";
    GetClassNameA(wnd, cls, sizeof cls);
    return cls;
}

bool IsMessageBox(HWND wnd) {
    return ClassOf(wnd) == "#32770" && GetDlgItem(wnd, 0xFFFF) != nullptr;
}

struct BoxSearch {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindBoxProc(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<BoxSearch*>(param);
    if (!IsWindowVisible(wnd) || !IsMessageBox(wnd) || !InScope(wnd)) return TRUE;
    std::string caption;
    if (GetText(wnd, caption) && caption == s->caption) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

struct WindowSearch {
    const char* cls;
    const char* caption;
    HWND found = nullptr;
};

BOOL CALLBACK FindScopedProc(HWND wnd, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    std::string caption;
    if (InScope(wnd) && ClassOf(wnd) == s->cls && GetText(wnd, caption) && caption == s->caption) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// FindWindowW, limited to the scope's process when one is set.
HWND FindTop(const char* cls, const char* caption) {
    if (!g_scope) return FindWindowW(Wide(cls).c_str(), Wide(caption).c_str());
    WindowSearch s{cls, caption};
    EnumWindows(FindScopedProc, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND FindBox(const std::string& caption) {
    BoxSearch s;
    s.caption = caption;
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

bool WaitGone(HWND wnd, DWORD timeout) {
    DWORD start = GetTickCount();
    while (IsWindow(wnd)) {
        if (GetTickCount() - start >= timeout) return false;
        Sleep(20);
    }
    return true;
}

BOOL CALLBACK ListBoxesProc(HWND wnd, LPARAM count) {
    if (!IsWindowVisible(wnd) || ClassOf(wnd) != "#32770" || !InScope(wnd)) return TRUE;
    std::string caption, text;
    GetText(wnd, caption);
    if (HWND s = GetDlgItem(wnd, 0xFFFF)) GetText(s, text);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    Detail("box\t" + Str(reinterpret_cast<uintptr_t>(wnd)) + "\t" + Str(pid) + "\t" +
           Escape(caption) + "\t" + Escape(text));
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK ListWindowsProc(HWND wnd, LPARAM count) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != g_pid) return TRUE;
    std::string caption;
    GetText(wnd, caption);
    Detail("win\t" + Str(reinterpret_cast<uintptr_t>(wnd)) + "\t" + Escape(ClassOf(wnd)) + "\t" +
           Escape(caption) + "\t" + (IsWindowVisible(wnd) ? "1" : "0"));
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// The file-name field of a Save As dialog: the combo box of the Explorer
// style (cmb13, 1148) with its edit inside, or the older edit (edt1, 1152).
HWND FileNameEdit(HWND dlg) {
    if (HWND combo = GetDlgItem(dlg, 1148)) {
        if (ClassOf(combo) == "Edit") return combo;
        if (HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr)) return edit;
        if (HWND edit = FindWindowExA(FindWindowExA(combo, nullptr, nullptr, nullptr), nullptr,
                                      "Edit", nullptr))
            return edit;
    }
    return GetDlgItem(dlg, 1152);
}

// The widest of `texts` in the control's own font, measured inside the
// control's program by measurehook.dll (see there); false if that failed.
bool Widest(HWND ctrl, const std::vector<std::string>& texts, long& width, size_t& index, long& dpi) {
    static const DWORD self = GetCurrentProcessId();
    static HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, MeasureBytes,
                                               MeasureName(MeasureMapping, self).c_str());
    static HANDLE done = CreateEventW(nullptr, FALSE, FALSE, MeasureName(MeasureDone, self).c_str());
    static auto* shared =
        mapping ? static_cast<MeasureShared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    static HMODULE module = [] {
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path);
        return LoadLibraryW((dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"measurehook.dll").c_str());
    }();
    static DWORD hookedThread = 0;
    static HHOOK hook = nullptr;
    const DWORD thread = GetWindowThreadProcessId(ctrl, nullptr);
    if (!shared || !done || !module || !thread) return false;
    if (thread != hookedThread) {
        if (hook) UnhookWindowsHookEx(hook);
        auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module, MeasureHookName)));
        hook = proc ? SetWindowsHookExW(WH_GETMESSAGE, proc, module, thread) : nullptr;
        hookedThread = hook ? thread : 0;
        if (!hook) return false;
    }
    std::wstring all;
    for (const std::string& t : texts) all += Wide(t) + L"\n";
    if ((all.size() + 1) * sizeof(wchar_t) + sizeof(MeasureShared) > MeasureBytes) return false;
    std::wmemcpy(shared->texts, all.c_str(), all.size() + 1);
    shared->widest = shared->index = -1;
    ResetEvent(done);
    // Longer than a sent message may take: seen once, a dialog whose first
    // measures were answered failed a later one after 3 s.
    if (!PostMessageW(ctrl, RegisterWindowMessageW(MeasureMessage), self, 0) ||
        WaitForSingleObject(done, 10000) != WAIT_OBJECT_0 || shared->index < 0)
        return false;
    width = shared->widest;
    index = static_cast<size_t>(shared->index);
    dpi = shared->dpi;
    return true;
}

// The width a control gives its text: the client area, less the box of a
// check box or radio button.
long Room(HWND ctrl) {
    RECT client = {};
    GetClientRect(ctrl, &client);
    long room = client.right - client.left;
    const LONG_PTR kind = GetWindowLongPtrW(ctrl, GWL_STYLE) & BS_TYPEMASK;
    if (ClassOf(ctrl) == "Button" && kind >= BS_CHECKBOX && kind <= BS_AUTORADIOBUTTON && kind != BS_GROUPBOX)
        room -= GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE) * 2;
    return room;
}

// Looked up at run time: the DPI functions are not in every user32.
template <typename F>
F User32(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

DWORD WINAPI Watchdog(LPVOID param) {
    Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(param)));
    std::printf("err lifetime over\n");
    std::fflush(stdout);
    if (g_process) TerminateProcess(g_process, 3);
    ExitProcess(3);
}

void Handle(const std::vector<std::string>& a) {
    const std::string& c = a[0];
    auto need = [&](size_t n) {
        if (a.size() < n + 1) {
            Reply("err", "usage: " + c + " needs " + std::to_string(n) + " arguments");
            return false;
        }
        return true;
    };

    if (c == "start") {
        if (!need(1)) return;
        if (g_process) {
            CloseHandle(g_process);
            g_process = nullptr;
        }
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::wstring cmdline = Wide(a[1]);
        if (!CreateProcessW(nullptr, &cmdline[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            Reply("err", "CreateProcessW " + std::to_string(GetLastError()));
            return;
        }
        CloseHandle(pi.hThread);
        g_process = pi.hProcess;
        g_pid = pi.dwProcessId;
        Reply("ok", Str(g_pid));
    } else if (c == "setenv") {
        if (!need(1)) return;
        SetEnvironmentVariableW(Wide(a[1]).c_str(), a.size() > 2 ? Wide(a[2]).c_str() : nullptr);
        Reply("ok");
    } else if (c == "scope") {
        if (!need(1)) return;
        g_scope = static_cast<DWORD>(ToLong(a[1]));
        Reply("ok");
    } else if (c == "find") {
        if (!need(2)) return;
        const char* cls = a.size() > 3 ? a[3].c_str() : "#32770";
        DWORD timeout = static_cast<DWORD>(ToLong(a[2]));
        DWORD start = GetTickCount();
        for (;;) {
            if (HWND w = FindTop(cls, a[1].c_str())) {
                Reply("ok", Str(reinterpret_cast<uintptr_t>(w)));
                return;
            }
            if (GetTickCount() - start >= timeout) break;
            Sleep(20);
        }
        Reply("err", "timeout");
    } else if (c == "gone") {
        if (!need(2)) return;
        Reply(WaitGone(ToHwnd(a[1]), static_cast<DWORD>(ToLong(a[2]))) ? "ok" : "err",
              IsWindow(ToHwnd(a[1])) ? "timeout" : "");
    } else if (c == "text" || c == "caption") {
        if (!need(c == "text" ? 2 : 1)) return;
        HWND w = c == "text" ? Control(ToHwnd(a[1]), a[2]) : ToHwnd(a[1]);
        std::string text;
        if (!w || !GetText(w, text)) {
            Reply("err", "no window");
            return;
        }
        Reply("ok", Escape(text));
    } else if (c == "watch") {
        if (!need(3)) return;
        HWND wnd = ToHwnd(a[1]);
        HWND ctrl = Control(wnd, a[2]);
        DWORD timeout = static_cast<DWORD>(ToLong(a[3]));
        DWORD start = GetTickCount();
        std::string last;
        bool first = true;
        int changes = 0;
        while (IsWindow(wnd) && GetTickCount() - start < timeout) {
            std::string text;
            if (ctrl && GetText(ctrl, text) && (first || text != last)) {
                Detail("seen\t" + std::to_string(GetTickCount() - start) + "\t" + Escape(text));
                last = text;
                first = false;
                ++changes;
            }
            Sleep(2);
        }
        Reply("ok", std::to_string(changes) + (IsWindow(wnd) ? " timeout" : " gone"));
    } else if (c == "pos" || c == "checked") {
        if (!need(2)) return;
        HWND w = Control(ToHwnd(a[1]), a[2]);
        DWORD_PTR r = 0;
        if (!w || !Send(w, c == "pos" ? PBM_GETPOS : BM_GETCHECK, 0, 0, r)) {
            Reply("err", "no window");
            return;
        }
        Reply("ok", std::to_string(static_cast<long>(r)));
    } else if (c == "styles") {
        if (!need(2)) return;
        HWND w = Control(ToHwnd(a[1]), a[2]);
        RECT r = {};
        if (!w || !GetWindowRect(w, &r)) {
            Reply("err", "no window");
            return;
        }
        char styles[64];
        std::snprintf(styles, sizeof styles, "%lx %lx", static_cast<unsigned long>(GetWindowLongW(w, GWL_STYLE)),
                      static_cast<unsigned long>(GetWindowLongW(w, GWL_EXSTYLE)));
        Reply("ok", std::string(styles) + " " + std::to_string(r.left) + " " + std::to_string(r.right));
    } else if (c == "range") {
        if (!need(2)) return;
        HWND w = Control(ToHwnd(a[1]), a[2]);
        DWORD_PTR lo = 0, hi = 0;
        if (!w || !Send(w, PBM_GETRANGE, TRUE, 0, lo) || !Send(w, PBM_GETRANGE, FALSE, 0, hi)) {
            Reply("err", "no window");
            return;
        }
        Reply("ok", std::to_string(static_cast<long>(lo)) + " " +
                        std::to_string(static_cast<long>(hi)));
    } else if (c == "click") {
        if (!need(2)) return;
        HWND w = Control(ToHwnd(a[1]), a[2]);
        Reply(w && PostMessageA(w, BM_CLICK, 0, 0) ? "ok" : "err");
    } else if (c == "command") {
        if (!need(2)) return;
        HWND wnd = ToHwnd(a[1]);
        int id = static_cast<int>(ToLong(a[2]));
        Reply(PostMessageA(wnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                           reinterpret_cast<LPARAM>(GetDlgItem(wnd, id)))
                  ? "ok"
                  : "err");
    } else if (c == "close") {
        if (!need(1)) return;
        Reply(PostMessageA(ToHwnd(a[1]), WM_CLOSE, 0, 0) ? "ok" : "err");
    } else if (c == "cancel") {
        if (!need(1)) return;
        Reply(PostMessageA(ToHwnd(a[1]), WM_COMMAND, IDCANCEL, 0) ? "ok" : "err");
    } else if (c == "esc") {
        if (!need(1)) return;
        // The key goes where the keyboard would send it: the focus window of
        // the target's thread, which the dialog's message loop then sees.
        HWND wnd = ToHwnd(a[1]);
        GUITHREADINFO gti = {};
        gti.cbSize = sizeof gti;
        HWND target = wnd;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(wnd, nullptr), &gti) && gti.hwndFocus &&
            (gti.hwndFocus == wnd || IsChild(wnd, gti.hwndFocus)))
            target = gti.hwndFocus;
        UINT scan = MapVirtualKeyA(VK_ESCAPE, 0);
        bool ok = PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 1 | (scan << 16)) &&
                  PostMessageA(target, WM_KEYUP, VK_ESCAPE, 1 | (scan << 16) | 0xC0000000u);
        Reply(ok ? "ok" : "err");
    } else if (c == "post") {
        if (!need(2)) return;
        Reply(PostMessageW(ToHwnd(a[1]), RegisterWindowMessageW(Wide(a[2]).c_str()), 0, 0) ? "ok" : "err");
    } else if (c == "foreground") {
        if (a.size() > 1 && !SetForegroundWindow(ToHwnd(a[1]))) {
            Reply("err", "SetForegroundWindow");
            return;
        }
        Reply("ok", Str(reinterpret_cast<uintptr_t>(GetForegroundWindow())));
    } else if (c == "answer") {
        if (!need(4)) return;
        int button = static_cast<int>(ToLong(a[3]));
        DWORD timeout = static_cast<DWORD>(ToLong(a[4]));
        DWORD start = GetTickCount();
        for (;;) {
            if (HWND box = FindBox(a[1])) {
                std::string text;
                GetText(GetDlgItem(box, 0xFFFF), text);
                if (text.find(a[2]) == std::string::npos) {
                    Reply("err", "mismatch " + Escape(text));
                    return;
                }
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
                if (!WaitGone(box, 5000)) {
                    Reply("err", "box stayed " + Escape(text));
                    return;
                }
                Reply("ok", Escape(text));
                return;
            }
            if (GetTickCount() - start >= timeout) break;
            Sleep(20);
        }
        Reply("err", "timeout");
    } else if (c == "boxes") {
        int count = 0;
        EnumWindows(ListBoxesProc, reinterpret_cast<LPARAM>(&count));
        Reply("ok", std::to_string(count));
    } else if (c == "windows") {
        int count = 0;
        EnumWindows(ListWindowsProc, reinterpret_cast<LPARAM>(&count));
        Reply("ok", std::to_string(count));
    } else if (c == "saveas") {
        if (!need(2)) return;
        const char* caption = a.size() > 3 ? a[3].c_str() : "Save As";
        DWORD timeout = static_cast<DWORD>(ToLong(a[2]));
        DWORD start = GetTickCount();
        HWND dlg = nullptr;
        HWND edit = nullptr;
        // The dialog's children appear a moment after the window itself.
        while (!(dlg = FindTop("#32770", caption)) || !(edit = FileNameEdit(dlg))) {
            if (GetTickCount() - start >= timeout) {
                Reply("err", dlg ? "no file name field" : "timeout");
                return;
            }
            Sleep(20);
        }
        DWORD_PTR r = 0;
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(a[1]).c_str()),
                            SMTO_ABORTIFHUNG, kSendTimeout, &r);
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
        DWORD left = timeout - (GetTickCount() - start);
        Reply(WaitGone(dlg, left > 2000 ? left : 2000) ? "ok" : "err", "");
    } else if (c == "extent" || c == "widest") {
        if (!need(c == "widest" ? 3 : 2)) return;
        HWND w = Control(ToHwnd(a[1]), a[2]);
        std::vector<std::string> texts;
        std::string text;
        if (c == "widest") {
            FILE* f = _wfopen(Wide(a[3]).c_str(), L"rb");
            char line[4096];
            while (f && std::fgets(line, sizeof line, f)) {
                texts.push_back(line);
                while (!texts.back().empty() && (texts.back().back() == '\n' || texts.back().back() == '\r'))
                    texts.back().pop_back();
            }
            if (f) std::fclose(f);
        } else if (a.size() > 3) {
            texts.push_back(a[3]);
        } else if (w && GetText(w, text)) {
            texts.push_back(text);
        }
        long widest = 0, dpi = 0;
        size_t index = 0;
        if (!w || texts.empty() || !Widest(w, texts, widest, index, dpi)) {
            Reply("err", "no window, font or text");
            return;
        }
        text = texts[index];
        const long room = Room(w);
        Reply("ok", std::to_string(widest) + " " + std::to_string(room) + " " + std::to_string(dpi) +
                        (c == "widest" ? " " + Escape(text) : ""));
    } else if (c == "wait") {
        if (!need(1)) return;
        if (!g_process) {
            Reply("err", "nothing started");
            return;
        }
        if (WaitForSingleObject(g_process, static_cast<DWORD>(ToLong(a[1]))) != WAIT_OBJECT_0) {
            Reply("err", "timeout");
            return;
        }
        DWORD code = 0;
        GetExitCodeProcess(g_process, &code);
        Reply("ok", std::to_string(code));
    } else if (c == "exitcode") {
        DWORD code = 0;
        if (!g_process || !GetExitCodeProcess(g_process, &code) || code == STILL_ACTIVE) {
            Reply("err", "running");
            return;
        }
        Reply("ok", std::to_string(code));
    } else if (c == "kill") {
        if (g_process && WaitForSingleObject(g_process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(g_process, 9);
            WaitForSingleObject(g_process, 5000);
        }
        Reply("ok");
    } else if (c == "sleep") {
        if (!need(1)) return;
        long ms = ToLong(a[1]);
        Sleep(static_cast<DWORD>(ms < 0 ? 0 : ms > 60000 ? 60000 : ms));
        Reply("ok");
    } else {
        Reply("err", "unknown command " + c);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Sizes in the screen's own pixels, as a per-monitor aware program has them.
    if (auto aware = User32<BOOL(WINAPI*)(HANDLE)>("SetProcessDpiAwarenessContext"))
        aware(reinterpret_cast<HANDLE>(-4));  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    else
        SetProcessDPIAware();
    DWORD lifetime = 120000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--lifetime") == 0) lifetime = std::strtoul(argv[i + 1], nullptr, 0);
    CloseHandle(CreateThread(nullptr, 0, Watchdog,
                             reinterpret_cast<LPVOID>(static_cast<uintptr_t>(lifetime)), 0, nullptr));
    Reply("ready");
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        std::vector<std::string> args = Split(s);
        if (args.empty()) continue;
        if (args[0] == "quit") {
            Reply("ok");
            break;
        }
        Handle(args);
    }
    if (g_process) CloseHandle(g_process);
    return 0;
}
