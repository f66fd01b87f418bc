// `quorvel-convert --analyse`: each file measured (decoded only), printed as
// a table or as JSON, with one album line per source folder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "media/loudness/Loudness.h"

namespace quorvel::cli {

// The folder a file belongs to as an album: its parent, as written (".":
// the current folder).
std::string AlbumFolder(const std::string& AFile);

// A figure for the table: one decimal, "-inf" for none.
std::string LoudnessFigure(double AValue);

// Measures every file of AOptions (with its --start/--end), prints the
// result to AOut and each unreadable file as "error: FILE: reason" to AErr;
// returns the exit status.
int RunAnalysis(const TCliOptions& AOptions, std::FILE* AOut, std::FILE* AErr);

}  // namespace quorvel::cli
