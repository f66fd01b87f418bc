// The engine's error: every failure while a job is configured or run.
#pragma once

#include "media/runtime/Exception.h"

namespace quorvel {

class FFmpegException : public Exception {
public:
  using Exception::Exception;
};

}  // namespace quorvel
