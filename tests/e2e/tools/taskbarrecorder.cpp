// Stands in for the shell's taskbar list (CLSID_TaskbarList): an in-process
// COM server whose ITaskbarList3 appends each call to the file named by
// QD_TASKBAR_RECORD, a line of tab-separated fields ("HrInit", "state <hwnd>
// <TBPF flags>", "value <hwnd> <completed> <total>", or the method's name),
// and does nothing else; nothing at all without that variable.
#include <windows.h>
#include <shobjidl.h>

#include <string>

namespace {

HRESULT Record(const std::string& line) {
    wchar_t path[1024];
    DWORD n = GetEnvironmentVariableW(L"QD_TASKBAR_RECORD", path, 1024);
    if (n == 0 || n >= 1024) return S_OK;
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return S_OK;
    const std::string bytes = line + "\r\n";
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return S_OK;
}

std::string On(HWND wnd) { return "\t" + std::to_string(reinterpret_cast<uintptr_t>(wnd)) + "\t"; }

#define ONLY_NAMED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return Record(#method); }

// One object for the process, never freed: the program holds it to the end.
class Recorder final : public ITaskbarList3, public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(ITaskbarList)) ||
            IsEqualIID(riid, __uuidof(ITaskbarList2)) || IsEqualIID(riid, __uuidof(ITaskbarList3)))
            *out = static_cast<ITaskbarList3*>(this);
        if (IsEqualIID(riid, __uuidof(IClassFactory))) *out = static_cast<IClassFactory*>(this);
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        *out = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : QueryInterface(riid, out);
    }
    ONLY_NAMED(LockServer, BOOL)

    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND wnd, ULONGLONG done, ULONGLONG total) override {
        return Record("value" + On(wnd) + std::to_string(done) + "\t" + std::to_string(total));
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND wnd, TBPFLAG flags) override {
        return Record("state" + On(wnd) + std::to_string(static_cast<int>(flags)));
    }
    ONLY_NAMED(HrInit)
    ONLY_NAMED(AddTab, HWND)
    ONLY_NAMED(DeleteTab, HWND)
    ONLY_NAMED(ActivateTab, HWND)
    ONLY_NAMED(SetActiveAlt, HWND)
    ONLY_NAMED(MarkFullscreenWindow, HWND, BOOL)
    ONLY_NAMED(RegisterTab, HWND, HWND)
    ONLY_NAMED(UnregisterTab, HWND)
    ONLY_NAMED(SetTabOrder, HWND, HWND)
    ONLY_NAMED(SetTabActive, HWND, HWND, DWORD)
    ONLY_NAMED(ThumbBarAddButtons, HWND, UINT, LPTHUMBBUTTON)
    ONLY_NAMED(ThumbBarUpdateButtons, HWND, UINT, LPTHUMBBUTTON)
    ONLY_NAMED(ThumbBarSetImageList, HWND, HIMAGELIST)
    ONLY_NAMED(SetOverlayIcon, HWND, HICON, LPCWSTR)
    ONLY_NAMED(SetThumbnailTooltip, HWND, LPCWSTR)
    ONLY_NAMED(SetThumbnailClip, HWND, RECT*)
} TheRecorder;

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    *out = nullptr;
    return IsEqualCLSID(clsid, __uuidof(TaskbarList)) ? TheRecorder.QueryInterface(riid, out)
                                                      : CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
