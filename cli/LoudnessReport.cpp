#include "cli/LoudnessReport.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>

#include "cli/JsonText.h"
#include "media/batch/LoudnessAnalysis.h"
#include "media/runtime/Format.h"

namespace quorvel::cli {

namespace {

std::string JsonNumber(double AValue) {
  if (!std::isfinite(AValue)) return "null";  // silence has no loudness and no peak
  return Format("%.2f", AValue);
}

struct TRow {
  std::string Source;
  bool Album = false;
  TLoudness Figures;
};

void PrintTable(const std::vector<TRow>& ARows, std::FILE* AOut) {
  std::fprintf(AOut, "%10s %8s %12s %10s  %s\n", "LUFS", "LRA LU", "peak dBFS", "TP dBTP", "source");
  for (const TRow& r : ARows)
    std::fprintf(AOut, "%10s %8s %12s %10s  %s%s\n", LoudnessFigure(r.Figures.Integrated).c_str(),
                 LoudnessFigure(r.Figures.Range).c_str(), LoudnessFigure(r.Figures.SamplePeak).c_str(),
                 LoudnessFigure(r.Figures.TruePeak).c_str(), r.Album ? "album " : "", r.Source.c_str());
}

// One object a line, as a conversion's --json prints its results.
void PrintJson(const std::vector<TRow>& ARows, std::FILE* AOut) {
  for (const TRow& r : ARows)
    std::fprintf(AOut, "{%s\"source\": %s, \"integrated\": %s, \"range\": %s, \"sample_peak\": %s, \"true_peak\": %s}\n",
                 r.Album ? "\"album\": true, " : "", JsonText(r.Source).c_str(),
                 JsonNumber(r.Figures.Integrated).c_str(), JsonNumber(r.Figures.Range).c_str(),
                 JsonNumber(r.Figures.SamplePeak).c_str(), JsonNumber(r.Figures.TruePeak).c_str());
}

}  // namespace

std::string AlbumFolder(const std::string& AFile) {
  const std::string parent = std::filesystem::path(AFile).parent_path().string();
  return parent.empty() ? std::string(".") : parent;
}

std::string LoudnessFigure(double AValue) {
  if (!std::isfinite(AValue)) return "-inf";
  return Format("%.1f", AValue);
}

int RunAnalysis(const TCliOptions& AOptions, std::FILE* AOut, std::FILE* AErr) {
  const int64_t start = AOptions.Start != kNoTime ? AOptions.Start : 0;
  const int64_t length = AOptions.End != kNoTime ? AOptions.End - start : 0;
  std::vector<TRow> rows;
  // The meters of each folder, in the order the folders first came.
  std::vector<std::string> folders;
  std::map<std::string, std::vector<std::shared_ptr<TLoudnessMeter>>> albums;
  bool failed = false;
  for (const std::string& file : AOptions.Files) {
    TLoudnessAnalysis a = AnalyseLoudness(file, start, length);
    if (!a.Meter) {
      std::fprintf(AErr, "error: %s: %s\n", file.c_str(), a.Error.c_str());
      failed = true;
      continue;
    }
    rows.push_back(TRow{file, false, a.Meter->Result()});
    const std::string folder = AlbumFolder(file);
    if (!albums.count(folder)) folders.push_back(folder);
    albums[folder].push_back(a.Meter);
  }
  for (const std::string& folder : folders) {
    std::vector<const TLoudnessMeter*> meters;
    for (const auto& m : albums[folder]) meters.push_back(m.get());
    rows.push_back(TRow{folder, true, TLoudnessMeter::Album(meters)});
  }
  if (AOptions.Json)
    PrintJson(rows, AOut);
  else
    PrintTable(rows, AOut);
  std::fflush(AOut);
  return failed ? kExitFailed : kExitOk;
}

}  // namespace quorvel::cli
