// A small GUI program the driver's own test plays against, so the driver is
// known to work before it is trusted with the real program.
//   guidemo box <caption> <text>   MessageBoxA Yes/No; exit code 6 or 7
//   guidemo ok <caption> <text>    MessageBoxA OK; exit code 1
//   guidemo dialog                 a progress dialog (see DEMO in guidemo.rc)
//                                  exit code 100 + check box state after Yes
//                                  to "Cancel Download?"
//   guidemo saveas                 GetSaveFileNameA; the chosen path goes to
//                                  the file named by QD_TEST_RECORD; exit 0,
//                                  or 2 when cancelled
//   guidemo browse <address>       ShellExecuteA "open"; exit code its result
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int g_step = 0;
bool g_checked = false;

void Record(const std::string& text) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("QD_TEST_RECORD", path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

INT_PTR CALLBACK DemoProc(HWND wnd, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            SendDlgItemMessageA(wnd, 101, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
            SetTimer(wnd, 1, 200, nullptr);
            return TRUE;
        case WM_TIMER: {
            ++g_step;
            char text[64];
            std::snprintf(text, sizeof text, "Step %d", g_step);
            SetDlgItemTextA(wnd, 102, text);
            SendDlgItemMessageA(wnd, 101, PBM_SETPOS, g_step % 101, 0);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == 104) {
                g_checked = !g_checked;
                SetDlgItemTextA(wnd, 103, g_checked ? "checked" : "unchecked");
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                SendMessageA(wnd, WM_CLOSE, 0, 0);
                return TRUE;
            }
            break;
        case WM_CLOSE:
            if (MessageBoxA(wnd, "Cancel Download?", "Driver Demo",
                            MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES) {
                KillTimer(wnd, 1);
                EndDialog(wnd, 100 + (g_checked ? 1 : 0));
            }
            return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
    auto arg = [&](int i) {
        char buf[1024] = "";
        if (i < argc) WideCharToMultiByte(CP_ACP, 0, wargv[i], -1, buf, sizeof buf, nullptr, nullptr);
        return std::string(buf);
    };
    const std::string mode = arg(1);
    // "\n" in a box text stands for a line break, so a test can ask for one.
    auto text = [&](int i) {
        std::string s = arg(i);
        for (size_t p; (p = s.find("\\n")) != std::string::npos;) s.replace(p, 2, "\n");
        return s;
    };
    if (mode == "box")
        return MessageBoxA(nullptr, text(3).c_str(), arg(2).c_str(), MB_YESNO | MB_ICONQUESTION);
    if (mode == "ok") return MessageBoxA(nullptr, text(3).c_str(), arg(2).c_str(), MB_OK | MB_ICONERROR);
    if (mode == "dialog") {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        return static_cast<int>(DialogBoxParamA(instance, "DEMO", nullptr, DemoProc, 0));
    }
    if (mode == "saveas") {
        char file[MAX_PATH] = "Quillet_Setup.exe";
        OPENFILENAMEA ofn = {};
        ofn.lStructSize = sizeof ofn;
        ofn.lpstrFile = file;
        ofn.nMaxFile = sizeof file;
        ofn.lpstrFilter = "Programs (*.exe)\0*.exe\0";
        ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_EXPLORER;
        if (!GetSaveFileNameA(&ofn)) return 2;
        Record(file);
        return 0;
    }
    if (mode == "browse")
        return static_cast<int>(reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, "open", arg(2).c_str(), nullptr, nullptr, SW_SHOWNORMAL)));
    return 64;
}
