#pragma once
// The networking exception family. Every failure of the transport is one of these; each class
// with a fixed text supplies it itself, so a raise site names only the class.
#include <cstdint>
#include <string>

#include "platform/Exceptions.h"

namespace zel {

// Root of the family (the runtime's exception class stands in for the standard one).
class EIdExceptionBase : public Exception {
public:
    using Exception::Exception;
};

class EIdException : public EIdExceptionBase {
public:
    using EIdExceptionBase::EIdExceptionBase;
};

// Shorthand for a member whose message never varies.
#define ZEL_ID_FIXED_EXCEPTION(Name, Base, Text) \
    class Name : public Base {                   \
    public:                                      \
        Name() : Base(Text) {}                   \
                                                 \
    protected:                                   \
        using Base::Base;                        \
    };

// Shorthand for an intermediate class: it only groups its descendants.
#define ZEL_ID_GROUP_EXCEPTION(Name, Base) \
    class Name : public Base {             \
    public:                                \
        using Base::Base;                  \
    };

// --- connection ---
ZEL_ID_FIXED_EXCEPTION(EIdAlreadyConnected, EIdException, "Already connected.")
ZEL_ID_FIXED_EXCEPTION(EIdConnectTimeout, EIdException, "Connect timed out.")
// A wait ended by its TIdCancelSignal: the owner of the fetch gave it up.
ZEL_ID_FIXED_EXCEPTION(EIdCancelled, EIdException, "Operation cancelled.")
// A connect failure without a socket error number; carries the failure's own message.
ZEL_ID_GROUP_EXCEPTION(EIdConnectException, EIdException)

// --- socket stack ---
// A failed socket call: "Socket Error # <n>\r\n<text>", with the Windows socket error number.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int32_t errorCode, std::string message)
        : EIdException(std::move(message)), FLastError(errorCode) {}
    // The message formatted from the error table.
    explicit EIdSocketError(int32_t errorCode);
    int32_t LastError() const noexcept { return FLastError; }

private:
    int32_t FLastError;
};

// Error 10038: the value handed to a socket call is no socket.
class EIdNotASocket : public EIdSocketError {
public:
    EIdNotASocket() : EIdSocketError(10038) {}
};

ZEL_ID_GROUP_EXCEPTION(EIdSocketHandleError, EIdException)
ZEL_ID_FIXED_EXCEPTION(EIdCouldNotBindSocket, EIdSocketHandleError,
                       "Could not bind socket. Address and port are already in use.")
ZEL_ID_FIXED_EXCEPTION(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError,
                       "Cannot change IPVersion when connected")
ZEL_ID_GROUP_EXCEPTION(EIdStackError, EIdException)
ZEL_ID_FIXED_EXCEPTION(EIdIPVersionUnsupported, EIdStackError,
                       "The requested IPVersion / Address family is not supported.")
ZEL_ID_FIXED_EXCEPTION(EIdStackInitializationFailed, EIdStackError, "Winsock Initialization Error.")
ZEL_ID_FIXED_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.")

// A failure to load or call the system's socket library: the title, preceded by the system's text
// for the error number and ": " when there is a number.
class EIdWinsockStubError : public EIdException {
public:
    EIdWinsockStubError(int32_t win32Error, std::string win32ErrorMessage, std::string title);
    int32_t Win32Error() const noexcept { return FWin32Error; }
    const std::string& Win32ErrorMessage() const noexcept { return FWin32ErrorMessage; }
    const std::string& Title() const noexcept { return FTitle; }

private:
    int32_t FWin32Error;
    std::string FWin32ErrorMessage;
    std::string FTitle;
};

// --- buffered reading and writing ---
ZEL_ID_GROUP_EXCEPTION(EIdSilentException, EIdException)
ZEL_ID_FIXED_EXCEPTION(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.")
ZEL_ID_FIXED_EXCEPTION(EIdClosedSocket, EIdException, "Disconnected.")
ZEL_ID_FIXED_EXCEPTION(EIdReadTimeout, EIdException, "Read Timeout")
ZEL_ID_FIXED_EXCEPTION(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.")
ZEL_ID_FIXED_EXCEPTION(EIdNotConnected, EIdException, "Not Connected")
ZEL_ID_FIXED_EXCEPTION(EIdTooMuchDataInBuffer, EIdException, "Too much data in buffer.")
ZEL_ID_GROUP_EXCEPTION(EIdTCPConnectionError, EIdException)
ZEL_ID_FIXED_EXCEPTION(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.")
ZEL_ID_FIXED_EXCEPTION(EIdObjectTypeNotSupported, EIdTCPConnectionError, "Object type not supported.")
ZEL_ID_FIXED_EXCEPTION(EIdMaxCaptureLineExceeded, EIdException, "Maximum number of line allowed exceeded")

// "Not enough data in buffer. (<wanted>/<available>)".
class EIdNotEnoughDataInBuffer : public EIdException {
public:
    EIdNotEnoughDataInBuffer(int64_t wanted, int64_t available);
};

#undef ZEL_ID_FIXED_EXCEPTION
#undef ZEL_ID_GROUP_EXCEPTION

}  // namespace zel
