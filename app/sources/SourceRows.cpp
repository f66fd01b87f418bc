#include "app/sources/SourceRows.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace quorvel {

QString RowStatusText(const TRowStatus& AStatus) {
  switch (AStatus.State) {
    case TRowState::None:
      return {};
    case TRowState::Waiting:
      return QStringLiteral("waiting");
    case TRowState::Converting:
      return QStringLiteral("converting %1%").arg(AStatus.Percent);
    case TRowState::Done:
      return QStringLiteral("done");
    case TRowState::Failed:
      return QStringLiteral("failed");
    case TRowState::Stopped:
      return QStringLiteral("stopped");
    case TRowState::Skipped:
      return QStringLiteral("skipped");
  }
  return {};
}

const TProfile* TSourceRows::ProfileOf(const TAudioFile& AFile) const {
  if (!FProfiles || AFile.ProfileInd < 0 || AFile.ProfileInd >= static_cast<int>(FProfiles->size())) return nullptr;
  return &(*FProfiles)[static_cast<size_t>(AFile.ProfileInd)];
}

void TSourceRows::Estimate(TAudioFile& AFile) const {
  const TProfile* p = ProfileOf(AFile);
  if (!p) return;
  const double rate = ProfileOutputBitRate(*p, AFile.SourceAudio);
  if (rate < 0) return;
  // The exact trimmed length: trims are set to the millisecond, and a part
  // of a few seconds would otherwise lose up to a second's share of its size.
  const double seconds = static_cast<double>(AFile.TrimmedLength) / 1e6;
  // An unknown length (-1 µs) counts as no seconds, not as a negative size.
  AFile.EstimatedSize = std::max(0.0, rate / 1000.0 / 8.0 * seconds / 1024.0);
}

void TSourceRows::Append(TAudioFile AFile) {
  std::vector<TAudioFile> one;
  one.push_back(std::move(AFile));
  Append(std::move(one));
}

void TSourceRows::Append(std::vector<TAudioFile> AFiles) {
  if (AFiles.empty()) return;
  const int first = Count();
  // Every row comes in here, however it was made (one file, the open
  // dialog's choice, a drop, a later start): this is where it gets its id.
  for (TAudioFile& f : AFiles) {
    f.TrimmedLength = f.TimeEnd - f.TimeStart;
    Estimate(f);
    f.Id = FNextId++;
    FRows.push_back(std::move(f));
  }
  emit Changed(first, Count() - 1);
}

void TSourceRows::SetTrim(int AIndex, int64_t AStart, int64_t AEnd) {
  if (!Valid(AIndex)) return;
  TAudioFile& f = FRows[static_cast<size_t>(AIndex)];
  f.TimeStart = AStart;
  f.TimeEnd = AEnd;
  f.TrimmedLength = AEnd - AStart;
  Estimate(f);
  emit Changed(AIndex, AIndex);
}

void TSourceRows::SetTitle(int AIndex, const QString& ATitle) {
  if (!Valid(AIndex)) return;
  FRows[static_cast<size_t>(AIndex)].DestinationTitle = ATitle;
  emit Changed(AIndex, AIndex);
}

void TSourceRows::SetProfile(int AIndex, int AProfileInd) {
  if (!Valid(AIndex)) return;
  TAudioFile& f = FRows[static_cast<size_t>(AIndex)];
  f.ProfileInd = AProfileInd;
  Estimate(f);
  emit Changed(AIndex, AIndex);
}

void TSourceRows::SetProfileOfAll(int AProfileInd) {
  if (FRows.empty()) return;
  for (TAudioFile& f : FRows) {
    f.ProfileInd = AProfileInd;
    Estimate(f);
  }
  emit Changed(0, Count() - 1);
}

void TSourceRows::SetStatus(int AIndex, const TRowStatus& AStatus) {
  if (!Valid(AIndex)) return;
  FRows[static_cast<size_t>(AIndex)].Conversion = AStatus;
  emit Changed(AIndex, AIndex);
}

int TSourceRows::IndexOfId(uint64_t AId) const {
  // Ids are given in one place and never twice: a lookup by 0, or an id two
  // rows share, would silently follow the wrong row.
  if (AId == 0) throw std::logic_error("source rows: lookup of row id 0 (a row without an id)");
  int found = -1;
  for (int i = 0; i < Count(); ++i) {
    if (FRows[static_cast<size_t>(i)].Id != AId) continue;
    if (found >= 0) throw std::logic_error("source rows: id " + std::to_string(AId) + " is held by two rows");
    found = i;
  }
  return found;
}

void TSourceRows::Exchange(int A, int B) {
  if (!Valid(A) || !Valid(B)) return;
  std::swap(FRows[static_cast<size_t>(A)], FRows[static_cast<size_t>(B)]);
  emit Changed(std::min(A, B), std::max(A, B));
}

void TSourceRows::Reorder(const std::vector<int>& AOrder) {
  if (static_cast<int>(AOrder.size()) != Count()) return;
  std::vector<bool> seen(AOrder.size(), false);
  for (const int i : AOrder) {
    if (!Valid(i) || seen[static_cast<size_t>(i)]) return;
    seen[static_cast<size_t>(i)] = true;
  }
  std::vector<TAudioFile> rows;
  rows.reserve(FRows.size());
  for (const int i : AOrder) rows.push_back(std::move(FRows[static_cast<size_t>(i)]));
  FRows = std::move(rows);
  emit Changed(0, Count() - 1);
}

void TSourceRows::RemoveAt(int AIndex) {
  if (!Valid(AIndex)) return;
  FRows.erase(FRows.begin() + AIndex);
  emit Changed(AIndex, Count() - 1);
}

void TSourceRows::RemoveAddedSince(uint64_t AFirstId) {
  // Ids only grow, but rows may have moved since: each row is judged by its own.
  const auto added = [AFirstId](const TAudioFile& f) { return f.Id >= AFirstId; };
  const auto first = std::find_if(FRows.begin(), FRows.end(), added);
  if (first == FRows.end()) return;
  const int from = static_cast<int>(first - FRows.begin());
  FRows.erase(std::remove_if(first, FRows.end(), added), FRows.end());
  emit Changed(from, Count() - 1);
}

void TSourceRows::Clear() {
  FRows.clear();
  emit Changed(0, -1);
}

void TSourceRows::UpdateEstimate(int AIndex) {
  if (!Valid(AIndex)) return;
  Estimate(FRows[static_cast<size_t>(AIndex)]);
  emit Changed(AIndex, AIndex);
}

void TSourceRows::UpdateAllEstimates() {
  if (FRows.empty()) return;
  for (TAudioFile& f : FRows) Estimate(f);
  emit Changed(0, Count() - 1);
}

}  // namespace quorvel
