// Byte streams. The engine writes into any TStream; the program uses the file
// stream, the tests also use streams that refuse bytes.
#pragma once

#include <cstddef>
#include <cstdint>

class TStream {
public:
    virtual ~TStream() = default;
    // Stores up to `count` bytes; returns how many were stored.
    virtual size_t Write(const void* data, size_t count) = 0;
    virtual int64_t Size() = 0;
    // Cuts the stream back to its first `size` bytes; the next write
    // follows them. Raises when it cannot.
    virtual void Truncate(int64_t size) = 0;

    // Write-all: fewer bytes stored than given raises EWriteError.
    void WriteBuffer(const void* data, size_t count);

    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
};
