#include "net/IdException.h"

#include "net/IdStack.h"

namespace zel {

EIdSocketError::EIdSocketError(int32_t errorCode) : EIdException(SocketErrorText(errorCode)), FLastError(errorCode) {}

EIdWinsockStubError::EIdWinsockStubError(int32_t win32Error, std::string win32ErrorMessage, std::string title)
    : EIdException(win32Error != 0 ? win32ErrorMessage + ": " + title : title),
      FWin32Error(win32Error),
      FWin32ErrorMessage(std::move(win32ErrorMessage)),
      FTitle(std::move(title)) {}

EIdNotEnoughDataInBuffer::EIdNotEnoughDataInBuffer(int64_t wanted, int64_t available)
    : EIdException("Not enough data in buffer. (" + std::to_string(wanted) + "/" + std::to_string(available) + ")") {}

}  // namespace zel
