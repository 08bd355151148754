// The benchmark's build: records when the program reaches each of its steps
// up to the request, from outside the program's own code. Before WinMain it
// points a few of the program's imports at recorders that note the time
// (QueryPerformanceCounter) and call the real function: the entry's first
// look-up (GetProcAddress of SetDefaultDllDirectories), the claim
// (CreateMutexW), the dialog (DialogBoxParamW, and WM_INITDIALOG through its
// dialog procedure), the worker (_beginthreadex, and its first instruction),
// and through GetProcAddress, which resolves the delay-loaded client, the
// session (InternetOpenA), the notices (InternetSetStatusCallback) and the
// request (InternetOpenUrlA). When the request has been answered it writes
// one line to the file named by QD_BENCH_STEPS: "ok" and name=ticks pairs,
// then freq=ticks per second. Without QD_BENCH_STEPS nothing is changed.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum Step {
    Runtime, Entry, Claim, Claimed, DialogCall, InitDialog, InitDialogDone, ThreadCreate, Worker,
    ClientLoad, ClientLoaded, Session, Opened, Request, Answer, StepCount
};
const char* const StepNames[StepCount] = {
    "runtime", "entry", "claim", "claimed", "dialog_call", "initdialog", "initdialog_done", "thread_create",
    "worker", "client_load", "client_loaded", "session", "opened", "request", "answer"};

// The notices of the client up to the answer, each when it arrived and when
// the program's callback gave the worker back.
const DWORD NoticeCodes[] = {INTERNET_STATUS_RESOLVING_NAME, INTERNET_STATUS_NAME_RESOLVED,
                             INTERNET_STATUS_CONNECTING_TO_SERVER, INTERNET_STATUS_CONNECTED_TO_SERVER,
                             INTERNET_STATUS_SENDING_REQUEST, INTERNET_STATUS_REQUEST_SENT,
                             INTERNET_STATUS_RECEIVING_RESPONSE, INTERNET_STATUS_RESPONSE_RECEIVED};
const int NoticeCount = sizeof NoticeCodes / sizeof NoticeCodes[0];

wchar_t g_path[MAX_PATH * 2];
LONGLONG g_at[StepCount];
LONGLONG g_noticeIn[NoticeCount], g_noticeOut[NoticeCount];

LONGLONG Now() {
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}

void Mark(Step s) {
    if (!g_at[s]) g_at[s] = Now();
}

// Notes `before`, makes the call, notes `after`; the call's last error stays.
template <typename Call>
auto Timed(Step before, Step after, Call call) {
    Mark(before);
    auto result = call();
    const DWORD error = ::GetLastError();
    Mark(after);
    ::SetLastError(error);
    return result;
}

// The import slot of `function` from `dll` in the program's own table.
void** ImportSlot(const char* dll, const char* function) {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        if (::lstrcmpiA(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

// Points the slot at `recorder`; returns the real function (null when the
// program does not import it, which stops the run: a step would go unseen).
template <typename F>
F Redirect(const char* dll, const char* function, F recorder) {
    void** slot = ImportSlot(dll, function);
    if (!slot) {
        ::MessageBoxA(nullptr, function, "startup_steps: import not found", MB_OK);
        ::ExitProcess(3);
    }
    DWORD old = 0;
    ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    F real = reinterpret_cast<F>(*slot);
    *slot = reinterpret_cast<void*>(recorder);
    ::VirtualProtect(slot, sizeof *slot, old, &old);
    return real;
}

void Write() {
    const DWORD error = ::GetLastError();
    std::string line = "ok";
    char buf[64];
    for (int s = 0; s < StepCount; ++s) {
        std::snprintf(buf, sizeof buf, " %s=%lld", StepNames[s], g_at[s]);
        line += buf;
    }
    for (int i = 0; i < NoticeCount; ++i) {
        std::snprintf(buf, sizeof buf, " n%lu=%lld n%lu_done=%lld", NoticeCodes[i], g_noticeIn[i], NoticeCodes[i],
                      g_noticeOut[i]);
        line += buf;
    }
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    std::snprintf(buf, sizeof buf, " freq=%lld\r\n", f.QuadPart);
    line += buf;
    HANDLE file = ::CreateFileW(g_path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    ::SetLastError(error);
}

decltype(&::CreateMutexW) RealCreateMutexW;
HANDLE WINAPI OnCreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL owner, LPCWSTR name) {
    return Timed(Claim, Claimed, [&] { return RealCreateMutexW(attributes, owner, name); });
}

DLGPROC g_dialogProc;
INT_PTR CALLBACK OnDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INITDIALOG) return g_dialogProc(window, message, wParam, lParam);
    Mark(InitDialog);
    INT_PTR r = g_dialogProc(window, message, wParam, lParam);
    Mark(InitDialogDone);
    return r;
}

decltype(&::DialogBoxParamW) RealDialogBoxParamW;
INT_PTR WINAPI OnDialogBoxParamW(HINSTANCE module, LPCWSTR name, HWND parent, DLGPROC proc, LPARAM param) {
    Mark(DialogCall);
    g_dialogProc = proc;
    return RealDialogBoxParamW(module, name, parent, OnDialogMessage, param);
}

typedef uintptr_t(__cdecl* BeginThreadEx)(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                                          unsigned*);
BeginThreadEx RealBeginThreadEx;
unsigned(__stdcall* g_threadCode)(void*);
unsigned __stdcall OnThreadStart(void* arg) {
    Mark(Worker);
    return g_threadCode(arg);
}
uintptr_t __cdecl OnBeginThreadEx(void* security, unsigned stack, unsigned(__stdcall* code)(void*), void* arg,
                                  unsigned flags, unsigned* id) {
    if (g_at[ThreadCreate]) return RealBeginThreadEx(security, stack, code, arg, flags, id);
    Mark(ThreadCreate);
    g_threadCode = code;
    return RealBeginThreadEx(security, stack, OnThreadStart, arg, flags, id);
}

decltype(&::LoadLibraryA) RealLoadLibraryA;
HMODULE WINAPI OnLoadLibraryA(LPCSTR name) {
    if (!name || ::lstrcmpiA(name, "wininet.dll") != 0) return RealLoadLibraryA(name);
    return Timed(ClientLoad, ClientLoaded, [&] { return RealLoadLibraryA(name); });
}

decltype(&::InternetOpenA) RealInternetOpenA;
HINTERNET WINAPI OnInternetOpenA(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
    return Timed(Session, Opened, [&] { return RealInternetOpenA(agent, access, proxy, bypass, flags); });
}

INTERNET_STATUS_CALLBACK g_callback;
void CALLBACK OnNotice(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    int i = 0;
    while (i < NoticeCount && NoticeCodes[i] != status) ++i;
    if (i < NoticeCount && !g_noticeIn[i]) g_noticeIn[i] = Now();
    g_callback(handle, context, status, info, length);
    if (i < NoticeCount && !g_noticeOut[i]) g_noticeOut[i] = Now();
}

decltype(&::InternetSetStatusCallback) RealInternetSetStatusCallback;
INTERNET_STATUS_CALLBACK WINAPI OnInternetSetStatusCallback(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
    g_callback = callback;
    return RealInternetSetStatusCallback(handle, callback ? OnNotice : nullptr);
}

decltype(&::InternetOpenUrlA) RealInternetOpenUrlA;
HINTERNET WINAPI OnInternetOpenUrlA(HINTERNET session, LPCSTR url, LPCSTR headers, DWORD length, DWORD flags,
                                    DWORD_PTR context) {
    const bool first = !g_at[Answer];
    HINTERNET h =
        Timed(Request, Answer, [&] { return RealInternetOpenUrlA(session, url, headers, length, flags, context); });
    if (first) Write();
    return h;
}

template <typename To, typename From>
To Cast(From f) {
    return reinterpret_cast<To>(reinterpret_cast<void*>(f));
}

decltype(&::GetProcAddress) RealGetProcAddress;
FARPROC WINAPI OnGetProcAddress(HMODULE module, LPCSTR name) {
    if (!IS_INTRESOURCE(name) && std::strcmp(name, "SetDefaultDllDirectories") == 0) Mark(Entry);
    FARPROC real = RealGetProcAddress(module, name);
    if (!real || IS_INTRESOURCE(name)) return real;
    if (std::strcmp(name, "InternetOpenA") == 0) {
        RealInternetOpenA = Cast<decltype(RealInternetOpenA)>(real);
        return Cast<FARPROC>(OnInternetOpenA);
    }
    if (std::strcmp(name, "InternetSetStatusCallback") == 0) {
        RealInternetSetStatusCallback = Cast<decltype(RealInternetSetStatusCallback)>(real);
        return Cast<FARPROC>(OnInternetSetStatusCallback);
    }
    if (std::strcmp(name, "InternetOpenUrlA") == 0) {
        RealInternetOpenUrlA = Cast<decltype(RealInternetOpenUrlA)>(real);
        return Cast<FARPROC>(OnInternetOpenUrlA);
    }
    return real;
}

struct Install {
    Install() {
        DWORD n = ::GetEnvironmentVariableW(L"QD_BENCH_STEPS", g_path, MAX_PATH * 2);
        if (n == 0 || n >= MAX_PATH * 2) return;
        Mark(Runtime);
        RealCreateMutexW = Redirect("kernel32.dll", "CreateMutexW", OnCreateMutexW);
        RealLoadLibraryA = Redirect("kernel32.dll", "LoadLibraryA", OnLoadLibraryA);
        RealGetProcAddress = Redirect("kernel32.dll", "GetProcAddress", OnGetProcAddress);
        RealDialogBoxParamW = Redirect("user32.dll", "DialogBoxParamW", OnDialogBoxParamW);
        RealBeginThreadEx = Redirect("msvcrt.dll", "_beginthreadex", reinterpret_cast<BeginThreadEx>(OnBeginThreadEx));
    }
} install;

}  // namespace
