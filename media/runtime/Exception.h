// The one error base of the media code. FFmpegException (the engine) and the
// number-conversion error derive from it.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvel {

class Exception : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A text that is not a number where one is required.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

}  // namespace quorvel
