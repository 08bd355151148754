// The bare WinInet loop (loop.h) as a program with a dialog must start it:
// the downloader's own dialog template and manifest (its resource script is
// compiled into this tool), the dialog made with DialogBoxParamW, and the
// loop on a thread started from WM_INITDIALOG. Nothing else: no texts, no
// icons, no progress. When the loop has ended, --run starts the file from
// the dialog, as the downloader does, and then the dialog ends.
//
// dialogloop takes inetloop's options (--flags HEX [--block N] [--out PATH]
// [--agent TEXT] [--callback] [--run] [--report FILE] <url>); its report
// adds the entry, WM_INITDIALOG and the thread's start in counter ticks.
#include <windows.h>
#include <process.h>

#include <string>
#include <vector>

#include "benchutil.h"
#include "loop.h"

namespace {

const UINT WM_LOOP_DONE = WM_USER + 101;

bench::LoopOptions g_options;
bench::LoopResult g_result;
long long g_initDialog = 0, g_worker = 0;
HANDLE g_thread = nullptr;

unsigned __stdcall Worker(void* dialog) {
    g_worker = bench::Ticks();
    bench::LoopOptions o = g_options;
    o.run = false;  // from the dialog, as the downloader runs the installer
    g_result = bench::Loop(o);
    ::PostMessageW(static_cast<HWND>(dialog), WM_LOOP_DONE, 0, 0);
    return 0;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        g_initDialog = bench::Ticks();
        g_thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, Worker, window, 0, nullptr));
        if (!g_thread) ::EndDialog(window, 1);
        return TRUE;
    case WM_LOOP_DONE:
        ::WaitForSingleObject(g_thread, INFINITE);
        if (g_result.failure.empty() && g_options.run)
            g_result.exitCode = bench::RunAndWait(bench::OutputPath(g_options.download.out));
        ::EndDialog(window, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const long long entry = bench::Ticks();
    const std::vector<std::string> args = bench::Arguments();
    for (size_t i = 1; i < args.size(); ++i)
        if (!g_options.Take(args, i)) return 2;
    if (!g_options.Complete()) return 2;

    const INT_PTR ended = ::DialogBoxParamW(::GetModuleHandleW(nullptr), L"PROGRESS", nullptr, DialogProc, 0);
    if (ended != 0) g_result.failure = "dialog " + std::to_string(ended == -1 ? ::GetLastError() : 0);
    if (g_thread) {
        ::WaitForSingleObject(g_thread, INFINITE);
        ::CloseHandle(g_thread);
    }
    bench::Report(g_options.download.report,
                  bench::Outcome(g_result.failure) + " entry=" + std::to_string(entry) +
                      " initdialog=" + std::to_string(g_initDialog) + " worker=" + std::to_string(g_worker) +
                      bench::LoopFields(g_result));
    return g_result.failure.empty() ? 0 : 1;
}
