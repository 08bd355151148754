// The program entry and the main block.
#include <windows.h>

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "Exceptions.h"
#include "Format.h"
#include "LightDialog.h"
#include "TovUtil.h"
#include "iTovInetUtils.h"

namespace {

std::string ModuleName() {
    const std::string path = GetOwnModulePath();
    return path.substr(path.find_last_of("\\/") + 1);
}

// The last resort, for what is not an Exception: a box, then exit code 1.
[[noreturn]] void ApplicationError(const std::string& className, const void* address,
                                   const std::string& message) {
    const bool fullStop = !message.empty() && message.back() == '.';
    std::string text =
        Format("Exception %s in module %s at %.8x.\r\n%s%s\r\n",
               {className, ModuleName(), static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)),
                message, fullStop ? "" : "."});
    ::MessageBoxA(nullptr, text.c_str(), "Application Error", MB_TASKMODAL | MB_ICONERROR);
    ::ExitProcess(1);
}

// The type's name as the compiler records it (the demangler alone would add
// a sixth to the program's size).
std::string CurrentExceptionClass() {
    std::type_info* type = abi::__cxa_current_exception_type();
    return type ? type->name() : "Exception";
}

LONG WINAPI ProcessorFault(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
        const char* access = record->ExceptionInformation[0] == 0 ? "Read" : "Write";
        ApplicationError("EAccessViolation", record->ExceptionAddress,
                         Format("Access violation at address %.8x in module '%s'. %s of address %.8x",
                                {static_cast<unsigned>(reinterpret_cast<uintptr_t>(record->ExceptionAddress)),
                                 ModuleName(), access,
                                 static_cast<unsigned>(record->ExceptionInformation[1])}));
    }
    ApplicationError("EExternalException", record->ExceptionAddress,
                     Format("External exception %.8x", {static_cast<unsigned>(record->ExceptionCode)}));
}

// Nothing is loaded from the program's own folder (often Downloads, where a
// planted version.dll would otherwise win): every later load, the delay-loaded
// imports among them, searches the system folder only.
void RestrictDllSearch() {
#if defined(QD_TEST_UNRESTRICTED_DLL_SEARCH)
    return;
#endif
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryA("");
}

void MainBlock() {
#if defined(QD_TEST_FOREIGN_ERROR)
    throw std::runtime_error("An error of a foreign type");
#elif defined(QD_TEST_PROCESSOR_FAULT)
    *static_cast<volatile int*>(nullptr) = 1;
#endif
    DownloadDialog = new TDownloadDialog();
    // Released whether the dialog ended normally or by an error.
    std::unique_ptr<TDownloadDialog> controller(DownloadDialog);
    if (::DialogBoxParamA(::GetModuleHandleA(nullptr), "PROGRESS", nullptr, DialogProc, 0) == -1)
        RaiseLastSystemError();
    if (EscapedDialogError) std::rethrow_exception(EscapedDialogError);
}

}  // namespace

// The C++ runtime's default terminate handler prints the demangled type of
// the escaping exception to a console this program does not have; its
// demangler alone is a sixth of the program. What reaches terminate is a bug
// either way, so this one, linked in its place, simply aborts.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    ::SetUnhandledExceptionFilter(ProcessorFault);
    try {
        MainBlock();
    } catch (const Exception& e) {
        ::MessageBoxA(nullptr, e.Message().c_str(), "Error", MB_OK | MB_ICONERROR);
    } catch (const std::exception& e) {
        ApplicationError(CurrentExceptionClass(), nullptr, e.what());
    } catch (...) {
        ApplicationError(CurrentExceptionClass(), nullptr, "");
    }
    return 0;
}
