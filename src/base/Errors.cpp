#include "base/Errors.h"

#include <cerrno>

namespace pelorin {

void ThrowInvalidInteger(const std::string& text) {
    throw OperationError("'" + text + "' is not a valid integer value");
}

void ThrowInvalidFloat(const std::string& text) {
    throw OperationError("'" + text + "' is not a valid floating point value");
}

void ThrowOpenError(int errorNumber) {
    if (errorNumber == ENOENT || errorNumber == ENOTDIR) throw OperationError("File not found");
    ThrowIoError(errorNumber);
}

void ThrowIoError(int errorNumber) {
    throw OperationError("I/O error " + std::to_string(errorNumber));
}

}  // namespace pelorin
