// What the window's two players need before they play: the media libraries
// and each player's own copy of SDL (SDL keeps one device per loaded module,
// so the preview and the trim dialog cannot share one). Failures go to the
// error report and the events log, as every start-up step's do.
#pragma once

#include <QString>

#include <functional>
#include <string>

namespace quorvel {

class TCustomPlayer;
class TReportSink;

class TPlayerLibraries {
public:
  // ATempFolder: read when a copy is made (the main window sets it at
  // start-up, after this is created).
  TPlayerLibraries(QString AProgramFolder, std::function<QString()> ATempFolder, TReportSink& AReport);

  // The folder the media libraries are looked for first.
  std::string LibraryFolder() const;
  // Loads the media libraries for APlayer unless they are loaded: false when
  // they could not be (nothing reported: each caller has its own message).
  bool LoadAV(TCustomPlayer& APlayer) const;
  // Loads player number AIndex's own SDL copy into APlayer unless it has
  // SDL already. On failure the reason goes to the events log (without a
  // time) and "Error loading SDL library" to the error report.
  bool LoadSdl(TCustomPlayer& APlayer, int AIndex) const;

  TReportSink& Report() const { return FReport; }

private:
  QString FProgramFolder;
  std::function<QString()> FTempFolder;
  TReportSink& FReport;
};

// Whether the primary mouse button is held down right now. The window's
// own notion (what its events said last) is what Qt offers; tests replace
// the probe.
using TButtonProbe = std::function<bool()>;
bool IsLeftButtonDown();

}  // namespace quorvel
