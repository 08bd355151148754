// The program entry and its last resort.
#include <windows.h>

#include <cxxabi.h>

#include <exception>
#include <string>
#include <typeinfo>

#include "Exceptions.h"
#include "Format.h"
#include "Main.h"
#include "Texts.h"
#include "TovUtil.h"
#include "WideText_win.h"

bool EndWithoutShutdown = false;

namespace {

// ExitProcess runs the DLLs' shutdown; TerminateProcess does not.
[[noreturn]] void EndProcess(UINT code) {
    if (EndWithoutShutdown) ::TerminateProcess(::GetCurrentProcess(), code);
    ::ExitProcess(code);
}

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
               {className, ModuleName(), reinterpret_cast<uintptr_t>(address),
                message, fullStop ? "" : "."});
    ::MessageBoxW(nullptr, ToWide(text).c_str(), L"Application Error", MB_TASKMODAL | MB_ICONERROR);
    EndProcess(1);
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
                                {reinterpret_cast<uintptr_t>(record->ExceptionAddress),
                                 ModuleName(), access,
                                 record->ExceptionInformation[1]}));
    }
    ApplicationError("EExternalException", record->ExceptionAddress,
                     Format("External exception %.8x", {static_cast<unsigned>(record->ExceptionCode)}));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    ::SetUnhandledExceptionFilter(ProcessorFault);
    try {
        MainBlock();
    } catch (const Exception& e) {
        ShowMessageBox(nullptr, e.Message(), LoadText(IDS_ERROR_CAPTION), MB_OK | MB_ICONERROR);
    } catch (const std::exception& e) {
        ApplicationError(CurrentExceptionClass(), nullptr, e.what());
    } catch (...) {
        ApplicationError(CurrentExceptionClass(), nullptr, "");
    }
    if (EndWithoutShutdown) EndProcess(0);
    return 0;
}
