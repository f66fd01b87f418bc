// The desktop's "open this address" service (web pages, mailto: texts,
// folders). The program uses the system's; tests put a recorder in its place
// so that no browser or mail program starts.
#pragma once

#include <QUrl>

namespace quorvel {

class TDesktop {
public:
  virtual ~TDesktop() = default;
  virtual bool OpenUrl(const QUrl& AUrl);
};

}  // namespace quorvel
