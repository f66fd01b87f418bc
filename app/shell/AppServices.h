// What the windows are given from outside: where the program lives, the
// configured addresses and the desktop's open service. Tests hand in their
// own folder and a recording desktop.
#pragma once

#include <QString>

#include "app/shell/Endpoints.h"

namespace quorvel {

class TDesktop;
class TPowerService;

struct TAppServices {
  QString ProgramFolder;  // ends with "/"
  TEndpoints Endpoints;
  TDesktop* Desktop = nullptr;
  TPowerService* Power = nullptr;  // null: the system's
};

}  // namespace quorvel
