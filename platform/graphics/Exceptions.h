#pragma once
// The exception classes of the graphics layer. Every error of the system is an
// Exception carrying a message text; later codecs derive their own classes.

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    // Name of the class, as the error box and the test tools print it.
    virtual const char* ClassName() const noexcept { return "Exception"; }
    std::string Message;
};

#define DECLARE_EXCEPTION(Name, Parent)                                       \
    class Name : public Parent {                                              \
    public:                                                                   \
        using Parent::Parent;                                                 \
        const char* ClassName() const noexcept override { return #Name; }     \
    }

// The silent exception: the application object shows nothing for it.
DECLARE_EXCEPTION(EAbort, Exception);
DECLARE_EXCEPTION(EInvalidGraphic, Exception);
DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
DECLARE_EXCEPTION(EConvertError, Exception);
DECLARE_EXCEPTION(EListError, Exception);
DECLARE_EXCEPTION(EStreamError, Exception);
DECLARE_EXCEPTION(EFilerError, EStreamError);
DECLARE_EXCEPTION(EReadError, EFilerError);
DECLARE_EXCEPTION(EWriteError, EFilerError);
DECLARE_EXCEPTION(EFOpenError, EStreamError);
DECLARE_EXCEPTION(EFCreateError, EStreamError);
DECLARE_EXCEPTION(EHeapException, Exception);
DECLARE_EXCEPTION(EOutOfMemory, EHeapException);
DECLARE_EXCEPTION(EOutOfResources, EOutOfMemory);

// Raises EOutOfMemory for a std::bad_alloc; used where memory is taken.
[[noreturn]] void OutOfMemoryError();
