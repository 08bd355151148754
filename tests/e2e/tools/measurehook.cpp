// Measures texts in another program's own fonts, for the GUI driver. A font
// handle means nothing outside its process (and Wine does not even pass
// WM_GETFONT between processes), so the driver hooks the control's thread
// with this DLL and the measuring happens inside the program.
//
// The driver writes the texts into the file mapping named by MeasureMapping,
// one a line, and posts the registered message "qd-measure" to the control
// with its own process id as wParam. The hook, running in the control's
// thread, measures each line with the control's WM_GETFONT font
// (GetTextExtentPoint32), stores the widest width, its line's index and the
// DPI the control is drawn at, and sets the event named by MeasureDone.
#include <windows.h>

#include <cwchar>

#include "MeasureShared.h"

extern "C" __attribute__((dllexport)) LRESULT CALLBACK MeasureHook(int code, WPARAM removed, LPARAM param) {
    MSG* msg = reinterpret_cast<MSG*>(param);
    static const UINT request = RegisterWindowMessageW(MeasureMessage);
    if (code == HC_ACTION && removed == PM_REMOVE && msg->message == request) {
        const DWORD driver = static_cast<DWORD>(msg->wParam);
        msg->message = WM_NULL;  // not for the program
        HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, MeasureName(MeasureMapping, driver).c_str());
        HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, MeasureName(MeasureDone, driver).c_str());
        auto* shared = mapping ? static_cast<MeasureShared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))
                               : nullptr;
        if (shared) {
            shared->widest = -1;
            shared->index = -1;
            HFONT font = reinterpret_cast<HFONT>(SendMessageW(msg->hwnd, WM_GETFONT, 0, 0));
            HDC dc = GetDC(msg->hwnd);
            HGDIOBJ old = font && dc ? SelectObject(dc, font) : nullptr;
            shared->dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
            const wchar_t* line = shared->texts;
            for (LONG i = 0; old && *line; ++i) {
                const wchar_t* end = std::wcschr(line, L'\n');
                const int length = static_cast<int>(end ? end - line : std::wcslen(line));
                SIZE size = {};
                if (GetTextExtentPoint32W(dc, line, length, &size) && size.cx > shared->widest) {
                    shared->widest = size.cx;
                    shared->index = i;
                }
                line = end ? end + 1 : line + length;
            }
            if (old) SelectObject(dc, old);
            if (dc) ReleaseDC(msg->hwnd, dc);
            UnmapViewOfFile(shared);
        }
        if (done) SetEvent(done);
        if (done) CloseHandle(done);
        if (mapping) CloseHandle(mapping);
    }
    return CallNextHookEx(nullptr, code, removed, param);
}
