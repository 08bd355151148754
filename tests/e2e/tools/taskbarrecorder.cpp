// Stands in for the shell's taskbar list (CLSID_TaskbarList) in the tests: an
// in-process COM server whose ITaskbarList3 appends every call as a line to
// the file named by QD_TASKBAR_RECORD, and does nothing else (nothing at all
// without that variable). The prefix set-up registers it in the 32-bit view.
//   HrInit
//   state <hwnd> noprogress|indeterminate|normal|error|paused|<flags>
//   value <hwnd> <completed> <total>
//   <method>                                  any other method
// Fields are separated by tabs, lines end in CR LF.
#include <windows.h>
#include <shobjidl.h>

#include <string>

namespace {

void Record(const std::string& line) {
    wchar_t path[1024];
    DWORD n = GetEnvironmentVariableW(L"QD_TASKBAR_RECORD", path, 1024);
    if (n == 0 || n >= 1024) return;
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    const std::string bytes = line + "\r\n";
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
}

std::string Hwnd(HWND wnd) { return std::to_string(reinterpret_cast<uintptr_t>(wnd)); }

std::string StateName(TBPFLAG flags) {
    switch (flags) {
    case TBPF_NOPROGRESS: return "noprogress";
    case TBPF_INDETERMINATE: return "indeterminate";
    case TBPF_NORMAL: return "normal";
    case TBPF_ERROR: return "error";
    case TBPF_PAUSED: return "paused";
    default: return std::to_string(static_cast<int>(flags));
    }
}

class Recorder final : public ITaskbarList3 {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(ITaskbarList)) ||
            IsEqualIID(riid, __uuidof(ITaskbarList2)) || IsEqualIID(riid, __uuidof(ITaskbarList3))) {
            *out = static_cast<ITaskbarList3*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE HrInit() override { return Call("HrInit"); }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return Call("AddTab"); }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return Call("DeleteTab"); }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return Call("ActivateTab"); }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return Call("SetActiveAlt"); }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return Call("MarkFullscreenWindow"); }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND wnd, ULONGLONG done, ULONGLONG total) override {
        return Call("value\t" + Hwnd(wnd) + "\t" + std::to_string(done) + "\t" + std::to_string(total));
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND wnd, TBPFLAG flags) override {
        return Call("state\t" + Hwnd(wnd) + "\t" + StateName(flags));
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return Call("RegisterTab"); }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return Call("UnregisterTab"); }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return Call("SetTabOrder"); }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return Call("SetTabActive"); }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return Call("ThumbBarAddButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
        return Call("ThumbBarUpdateButtons");
    }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override {
        return Call("ThumbBarSetImageList");
    }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return Call("SetOverlayIcon"); }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return Call("SetThumbnailTooltip"); }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return Call("SetThumbnailClip"); }

private:
    static HRESULT Call(const std::string& line) {
        Record(line);
        return S_OK;
    }
    LONG refs_ = 1;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IClassFactory))) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Static: never freed.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Recorder* recorder = new Recorder();
        HRESULT hr = recorder->QueryInterface(riid, out);
        recorder->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory TheFactory;

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!IsEqualCLSID(clsid, __uuidof(TaskbarList))) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return TheFactory.QueryInterface(riid, out);
}

// Stays loaded: the program under test holds its interface to the end.
extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
