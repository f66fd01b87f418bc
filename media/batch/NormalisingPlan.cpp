#include "media/batch/NormalisingPlan.h"

#include <chrono>
#include <map>

#include "media/batch/LoudnessAnalysis.h"

namespace quorvel {

class TNormalisingPlan::TSourceGain : public TNormalisingGain {
 public:
  TSourceGain(std::shared_ptr<TNormalisingPlan> APlan, size_t AGroup) : FPlan(std::move(APlan)), FGroup(AGroup) {}
  double GainDb(int AChannels, const std::function<bool()>& AStopped) override {
    return FPlan->Gain(FGroup, AChannels, AStopped);
  }

 private:
  std::shared_ptr<TNormalisingPlan> FPlan;
  size_t FGroup;
};

TNormalisingPlan::TNormalisingPlan(std::vector<TSource> ASources, double ATargetLufs, double ACeilingDb)
    : FSources(std::move(ASources)), FTarget(ATargetLufs), FCeiling(ACeilingDb) {
  std::map<std::string, size_t> groups;
  for (size_t i = 0; i < FSources.size(); ++i) {
    const auto [at, added] = groups.emplace(FSources[i].Group, FGroups.size());
    if (added) FGroups.emplace_back();
    FGroups[at->second].Sources.push_back(i);
    FGroupOf.push_back(at->second);
  }
}

std::shared_ptr<TNormalisingGain> TNormalisingPlan::GainFor(size_t ASource) {
  return std::make_shared<TSourceGain>(shared_from_this(), FGroupOf.at(ASource));
}

double TNormalisingPlan::GroupGain(size_t ASource) {
  std::lock_guard<std::mutex> guard(FLock);
  return FGroups.at(FGroupOf.at(ASource)).Gain;
}

std::string TNormalisingPlan::GroupNote(size_t ASource) {
  std::lock_guard<std::mutex> guard(FLock);
  return FGroups.at(FGroupOf.at(ASource)).Note;
}

double TNormalisingPlan::Gain(size_t AGroup, int AChannels, const std::function<bool()>& AStopped) {
  std::vector<size_t> sources;
  {
    std::unique_lock<std::mutex> lock(FLock);
    TGroup& g = FGroups[AGroup];
    // Another output of the album measures it: wait, but not past a stop.
    while (g.Busy && !(AStopped && AStopped())) FMeasured.wait_for(lock, std::chrono::milliseconds(100));
    if (g.Done || g.Busy) return g.Gain;
    g.Busy = true;
    sources = g.Sources;
  }
  const auto stopped = [&] { return AStopped && AStopped(); };
  std::string note;
  // The album's (or file's) sources as the encoder gets them.
  const auto measure = [&](bool ALimit, double AGain) {
    std::vector<std::shared_ptr<TLoudnessMeter>> meters;
    for (const size_t s : sources) {
      TAnalysisOptions o;
      o.Start = FSources[s].Start;
      o.Length = FSources[s].Length;
      o.Channels = AChannels;
      o.Limit = ALimit;
      o.GainDb = AGain;
      o.CeilingDb = FCeiling;
      o.Stopped = AStopped;
      TLoudnessAnalysis a = AnalyseLoudness(FSources[s].File, o);
      if (!a.Meter && !ALimit) note += "the loudness of " + FSources[s].File + " could not be measured: " + a.Error + "; ";
      if (a.Meter) meters.push_back(std::move(a.Meter));
    }
    std::vector<const TLoudnessMeter*> all;
    for (const auto& m : meters) all.push_back(m.get());
    return TLoudnessMeter::Album(all);
  };
  const TLoudness measured = measure(false, 0);
  double gain = NormalisingGainDb(measured, FTarget);
  if (!stopped() && measured.HasIntegrated() && measured.TruePeak + gain > FCeiling) {
    // The limiter will lower the peaks the gain pushes over the ceiling,
    // and with them some loudness: measured through it, made up once.
    const TLoudness limited = measure(true, gain);
    if (limited.HasIntegrated()) gain += FTarget - limited.Integrated;
  }
  std::lock_guard<std::mutex> guard(FLock);
  TGroup& g = FGroups[AGroup];
  g.Busy = false;
  // A measuring cut short by a stop is not kept: another output may still
  // ask (and its job then measures whole).
  if (!stopped()) {
    g.Done = true;
    g.Gain = gain;
    if (!note.empty()) g.Note = note.substr(0, note.size() - 2);
  }
  FMeasured.notify_all();
  return gain;
}

}  // namespace quorvel
