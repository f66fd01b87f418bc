#include "app/shell/Desktop.h"

#include <QDesktopServices>

namespace quorvel {

bool TDesktop::OpenUrl(const QUrl& AUrl) { return QDesktopServices::openUrl(AUrl); }

}  // namespace quorvel
