#include "FileStream.h"

#include <algorithm>

#include "SystemError.h"

size_t TFileStream::Write(const void* data, size_t count) {
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < count) {
        // A 64-bit count may exceed what one call takes.
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, MAXDWORD));
        DWORD written = 0;
        if (!::WriteFile(file_.Get(), p + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    return done;
}

int64_t TFileStream::Size() {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file_.Get(), &size)) RaiseLastSystemError();
    return size.QuadPart;
}

void TFileStream::Truncate(int64_t size) {
    LARGE_INTEGER position;
    position.QuadPart = size;
    if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN) || !::SetEndOfFile(file_.Get()))
        RaiseLastSystemError();
}
