// A stream over a Win32 file handle, which it owns and closes.
#pragma once

#include "Handles_win.h"
#include "Stream.h"

class TFileStream : public TStream {
public:
    // Takes ownership of `file`.
    explicit TFileStream(HANDLE file) : file_(file) {}

    size_t Write(const void* data, size_t count) override;
    int64_t Size() override;
    void Truncate(int64_t size) override;
    // Closes the file now; the stream stores nothing afterwards.
    void Close() { file_.Reset(); }

private:
    TKernelHandle file_;
};
