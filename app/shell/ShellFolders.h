// Where the program finds and keeps things on disk: its own folder, the
// user's documents and music folders, the temporary folder, the data folders
// and the per-player copies of the SDL library.
#pragma once

#include <QString>
#include <QStringList>

namespace quorvel {

enum class TShellFolder { Documents, Music };

// The user's folder of that kind, created when missing; empty when the
// system names none or it cannot be created.
QString GetShellFolder(TShellFolder AFolder);

// The folder of the program's shipped files (beside it, or "share/quorvel"
// of an installation; see ShippedFilesFolder) and the temporary folder, each
// ending with "/".
QString ProgramFolder();
QString SystemTempFolder();

// "Sabrivo", "Sabrivo/Quorvel" and "Sabrivo/Quorvel/Output" in ADocuments,
// outermost first; empty when ADocuments is empty.
QStringList DataFolders(const QString& ADocuments);
// Creates each folder that does not exist yet, outermost first; failures are
// left for the caller to notice by the last folder's absence.
void CreateDataFolders(const QStringList& AFolders);

// Whether APath (no final "/") is a folder only this user can enter: a plain
// folder, not a link to one, owned by this user, closed to everyone else.
bool IsPrivateFolder(const QString& APath);
// This user's private folder below ATempFolder ("quorvel-<uid>/", mode
// 0700), made when missing; empty, with AError saying why, when it cannot be
// made or what has its name is not a private folder of this user (another
// user may have made it first, or put a link there).
QString PrivateTempFolder(const QString& ATempFolder, QString& AError);

// Player APlayer's own copy of the SDL library ("SDL_<n>.so"), made from
// the SDL library in AProgramFolder's "LibAV" folder or the one the system
// would load. The copies live in a folder of this user below ATempFolder
// ("quorvel-<uid>", mode 0700): a shared temporary folder would let another
// local user put a library of theirs under the name the player loads. The
// folder is refused when it is not a plain folder owned by this user and
// closed to others. A copy is written under a temporary name and renamed,
// so a half-written file never carries the name; it is made again when its
// size or modification time differ from the library's.
struct TSdlCopy {
  QString Folder;  // ends with "/"
  QString Name;
  QString Error;   // why there is no usable copy; empty when there is
};
TSdlCopy PrepareSdlCopy(int APlayer, const QString& AProgramFolder, const QString& ATempFolder);

// The file name of the SDL library the players use.
inline constexpr const char* kSdlLibraryName = "libSDL-1.2.so.0";

}  // namespace quorvel
