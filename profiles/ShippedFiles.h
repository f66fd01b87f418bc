// Where the programs find the files that ship with them (the profile set,
// the skin, the optional endpoints and library folder): beside the program
// in a build tree, or in "share/quorvel" next to the "bin" folder of an
// installation ("cmake --install", the Debian package).
#pragma once

#include <QString>

namespace quorvel {

// The folder that holds "mp3-converter-profiles" for the program in
// AProgramFolder: that folder itself, else "../share/quorvel" from it when
// the profile set is there; AProgramFolder when neither holds it (the
// program then reports the missing profile set as always). Ends with "/".
QString ShippedFilesFolder(const QString& AProgramFolder);

}  // namespace quorvel
