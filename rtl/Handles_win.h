// One small non-copyable owner per kind of platform handle, so every handle
// is released on every path, in reverse order of acquisition (C++ destroys
// locals in reverse order of construction).
#pragma once

#include <windows.h>

template <typename Traits>
class TOwnedHandle {
public:
    using Type = typename Traits::Type;

    TOwnedHandle() = default;
    explicit TOwnedHandle(Type h) : h_(h) {}
    ~TOwnedHandle() { Reset(); }
    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;
    TOwnedHandle(TOwnedHandle&& other) noexcept : h_(other.Release()) {}
    TOwnedHandle& operator=(TOwnedHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Type Get() const { return h_; }
    explicit operator bool() const { return Traits::IsValid(h_); }
    Type Release() {
        Type h = h_;
        h_ = Traits::Empty();
        return h;
    }
    void Reset(Type h = Traits::Empty()) {
        if (Traits::IsValid(h_)) Traits::Close(h_);
        h_ = h;
    }

private:
    Type h_ = Traits::Empty();
};

// Kernel objects (threads, processes). CreateFileA's INVALID_HANDLE_VALUE is
// treated as empty as well.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::CloseHandle(h); }
};

using TKernelHandle = TOwnedHandle<KernelHandleTraits>;

// A directory search (FindFirstFile), empty when INVALID_HANDLE_VALUE.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) { return h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { ::FindClose(h); }
};

using TFindHandle = TOwnedHandle<FindHandleTraits>;

// Handles and interfaces whose empty value is null, released by `Release`.
template <typename T, void (*Release)(T)>
struct NullableTraits {
    using Type = T;
    static Type Empty() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { Release(h); }
};
