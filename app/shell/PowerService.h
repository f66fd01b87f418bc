// The system's version text and its power-off, as one replaceable service:
// the program asks logind; tests put a recorder in its place so that no test
// can switch anything off.
#pragma once

#include <QString>

namespace quorvel {

class TPowerService {
public:
  virtual ~TPowerService() = default;
  // "<system> Version <release>\r\n (Build <version>: )"; empty when the
  // system does not say.
  virtual QString VersionText();
  // Asks for a power-off; false with AError (a short title) when refused.
  virtual bool PowerOff(QString& AError);
};

}  // namespace quorvel
