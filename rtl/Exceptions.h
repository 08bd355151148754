// The program's error classes. Every failure travels as an Exception (or a
// class derived from it); its message is what the user finally reads.
#pragma once

#include <cstdint>
#include <string>

#include "Texts.h"

class Exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    virtual ~Exception() = default;

    const std::string& Message() const { return message_; }
    // The class name, shown by the last-resort handler and kept by the worker
    // when it captures an error.
    virtual const char* ClassName() const { return "Exception"; }

private:
    std::string message_;
};

#define QD_EXCEPTION_CLASS(Name, Base)                                 \
    class Name : public Base {                                         \
    public:                                                            \
        using Base::Base;                                              \
        const char* ClassName() const override { return #Name; }       \
    }

// A failed platform call; ErrorNumber is the system or internet error code.
class EOSError : public Exception {
public:
    EOSError(std::string message, uint32_t errorNumber)
        : Exception(std::move(message)), ErrorNumber(errorNumber) {}
    const char* ClassName() const override { return "EOSError"; }
    uint32_t ErrorNumber;
};

QD_EXCEPTION_CLASS(EConvertError, Exception);
QD_EXCEPTION_CLASS(EStreamError, Exception);
QD_EXCEPTION_CLASS(EWriteError, EStreamError);
QD_EXCEPTION_CLASS(EFCreateError, EStreamError);
QD_EXCEPTION_CLASS(EThread, Exception);
QD_EXCEPTION_CLASS(EAssertionFailed, Exception);

class ERangeError : public Exception {
public:
    ERangeError() : Exception(LoadText(IDS_RANGE_ERROR)) {}
    const char* ClassName() const override { return "ERangeError"; }
};

class EIntOverflow : public Exception {
public:
    EIntOverflow() : Exception(LoadText(IDS_INT_OVERFLOW)) {}
    const char* ClassName() const override { return "EIntOverflow"; }
};
