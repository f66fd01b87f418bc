#include "app/preview/PlayerLibraries.h"

#include <QGuiApplication>

#include "app/report/ReportSink.h"
#include "app/shell/ShellFolders.h"
#include "media/player/FFPlay.h"

namespace quorvel {

TPlayerLibraries::TPlayerLibraries(QString AProgramFolder, std::function<QString()> ATempFolder,
                                   TReportSink& AReport)
    : FProgramFolder(std::move(AProgramFolder)), FTempFolder(std::move(ATempFolder)), FReport(AReport) {}

std::string TPlayerLibraries::LibraryFolder() const { return (FProgramFolder + "LibAV").toStdString(); }

bool TPlayerLibraries::LoadAV(TCustomPlayer& APlayer) const {
  if (APlayer.AVLibLoaded()) return true;
  // Without SDL: the player's SDL is its own copy (LoadSdl), never the
  // shared library file.
  return APlayer.LoadAVLib(LibraryFolder(), false);
}

bool TPlayerLibraries::LoadSdl(TCustomPlayer& APlayer, int AIndex) const {
  if (APlayer.SDLLibLoaded()) return true;
  const TSdlCopy copy = PrepareSdlCopy(AIndex, FProgramFolder, FTempFolder());
  const bool loaded =
      copy.Error.isEmpty() && APlayer.LoadSDLLib(copy.Folder.toStdString(), copy.Name.toStdString());
  if (loaded) return true;
  FReport.AppendLogText(copy.Error.isEmpty() ? QString::fromStdString(APlayer.LastErrMsg()) : copy.Error);
  FReport.ReportError(QStringLiteral("Error loading SDL library"), QStringLiteral("CLM_SDlLibLoad"));
  return false;
}

bool IsLeftButtonDown() { return QGuiApplication::mouseButtons().testFlag(Qt::LeftButton); }

}  // namespace quorvel
