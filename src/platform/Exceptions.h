#pragma once
// The exception family that stands in for the runtime's: every failure inside the module is one of
// these (or derives from one), and is turned into a result code, log line or status at an edge.
#include <exception>
#include <string>
#include <utility>

namespace zel {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

// A position outside a list.
class EListError : public Exception {
public:
    using Exception::Exception;
};

// An operation that would corrupt a structure (for example an item made its own ancestor).
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

// A text that is not a number of the wanted kind.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

}  // namespace zel
