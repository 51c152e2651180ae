// Errors that end the current operation (a load, a filter, a whole batch) and are shown
// in an error box: a file that cannot be opened or created, a text that is not a number,
// an invalid bitmap. Rejections of a file by a reader are not errors: they are values
// (ImageState::errorText).
#pragma once

#include <stdexcept>
#include <string>

namespace pelorin {

class OperationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "'%s' is not a valid integer value"
[[noreturn]] void ThrowInvalidInteger(const std::string& text);
// "'%s' is not a valid floating point value"
[[noreturn]] void ThrowInvalidFloat(const std::string& text);
// "File not found" for a missing file, "I/O error %d" for other failures (errno value).
[[noreturn]] void ThrowOpenError(int errorNumber);
[[noreturn]] void ThrowIoError(int errorNumber);

}  // namespace pelorin
