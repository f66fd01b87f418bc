#include "cli/CliOptions.h"

#include <cctype>
#include <charconv>
#include <cinttypes>
#include <thread>

#include "media/runtime/Format.h"

namespace quorvel::cli {

namespace {

bool ParseInt(const std::string& AText, int64_t& AValue) {
  if (AText.empty()) return false;
  const char* end = AText.data() + AText.size();
  const auto result = std::from_chars(AText.data(), end, AValue);
  return result.ec == std::errc() && result.ptr == end;
}

int ParseRange(const std::string& AOption, const std::string& AText, int AMin, int AMax) {
  int64_t value = 0;
  if (!ParseInt(AText, value) || value < AMin || value > AMax)
    throw EUsage(Format("%s %s: expected a whole number from %d to %d", AOption.c_str(), AText.c_str(), AMin, AMax));
  return static_cast<int>(value);
}

bool AllDigits(const std::string& AText) {
  if (AText.empty()) return false;
  for (const char c : AText)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

double ParseNumber(const std::string& AOption, const std::string& AText, double AMin, double AMax) {
  double value = 0;
  const char* end = AText.data() + AText.size();
  const auto result = std::from_chars(AText.data(), end, value);
  if (AText.empty() || result.ec != std::errc() || result.ptr != end || !(value >= AMin && value <= AMax))
    throw EUsage(Format("%s %s: expected a number from %g to %g", AOption.c_str(), AText.c_str(), AMin, AMax));
  return value;
}

}  // namespace

int64_t ParseClock(const std::string& AOption, const std::string& AText) {
  const EUsage bad(Format("%s %s: expected a time as HH:MM:SS[.mmm]", AOption.c_str(), AText.c_str()));
  std::string whole = AText, fraction;
  if (const size_t dot = AText.find('.'); dot != std::string::npos) {
    whole = AText.substr(0, dot);
    fraction = AText.substr(dot + 1);
    if (!AllDigits(fraction) || fraction.size() > 6) throw bad;
  }
  std::vector<std::string> fields;
  size_t from = 0;
  for (;;) {
    const size_t colon = whole.find(':', from);
    fields.push_back(whole.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  if (fields.size() > 3) throw bad;
  int64_t seconds = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    int64_t value = 0;
    // Hours may be long; minutes and seconds after a larger unit stay below 60.
    if (!AllDigits(fields[i]) || fields[i].size() > 9 || !ParseInt(fields[i], value)) throw bad;
    if (i > 0 && value >= 60) throw bad;
    seconds = seconds * 60 + value;
  }
  fraction.resize(6, '0');
  int64_t micro = 0;
  ParseInt(fraction, micro);
  return seconds * 1000000 + micro;
}

std::string ClockText(int64_t AMicroseconds) {
  if (AMicroseconds < 0) AMicroseconds = 0;
  const int64_t ms = (AMicroseconds + 500) / 1000;
  return Format("%" PRId64 ":%02d:%02d.%03d", ms / 3600000, static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
}

TCliOptions ParseArguments(const std::vector<std::string>& AArgs) {
  TCliOptions o;
  bool filesOnly = false;
  for (size_t i = 0; i < AArgs.size(); ++i) {
    std::string arg = AArgs[i];
    if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
      o.Files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      filesOnly = true;
      continue;
    }
    std::optional<std::string> inlineValue;
    if (const size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto flag = [&] {
      if (inlineValue) throw EUsage(Format("%s takes no value", arg.c_str()));
    };
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= AArgs.size()) throw EUsage(Format("%s needs a value", arg.c_str()));
      return AArgs[++i];
    };
    if (arg == "--help" || arg == "-h") {
      flag();
      o.Help = true;
    } else if (arg == "--list-profiles") {
      flag();
      o.ListProfiles = true;
    } else if (arg == "--merge") {
      flag();
      o.Merge = true;
    } else if (arg == "--verify") {
      flag();
      o.Verify = true;
    } else if (arg == "--overwrite") {
      flag();
      o.Overwrite = true;
      o.Existing = TCliOptions::TExisting::Replace;
    } else if (arg == "--recursive" || arg == "-r") {
      flag();
      o.Recursive = true;
    } else if (arg == "-0" || arg == "--null") {
      flag();
      o.NulSeparated = true;
    } else if (arg == "--files-from") {
      o.FilesFrom = value();
      if (o.FilesFrom.empty()) throw EUsage("--files-from needs a file (or - for the standard input)");
    } else if (arg == "--name") {
      o.NamePattern = value();
    } else if (arg == "--posix-names") {
      flag();
      o.PosixNames = true;
    } else if (arg == "--existing") {
      const std::string policy = value();
      if (policy == "replace")
        o.Existing = TCliOptions::TExisting::Replace;
      else if (policy == "rename")
        o.Existing = TCliOptions::TExisting::Rename;
      else if (policy == "skip")
        o.Existing = TCliOptions::TExisting::Skip;
      else
        throw EUsage(Format("--existing %s: expected replace, rename or skip", policy.c_str()));
    } else if (arg == "--delete-extra") {
      flag();
      o.DeleteExtra = true;
    } else if (arg == "--yes" || arg == "-y") {
      flag();
      o.Yes = true;
    } else if (arg == "--shard") {
      const std::string text = value();
      const size_t slash = text.find('/');
      int64_t k = 0, n = 0;
      if (slash == std::string::npos || !ParseInt(text.substr(0, slash), k) || !ParseInt(text.substr(slash + 1), n) ||
          n < 1 || n > 100000 || k < 1 || k > n)
        throw EUsage(Format("--shard %s: expected K/N with 1 <= K <= N", text.c_str()));
      o.ShardIndex = static_cast<int>(k);
      o.ShardCount = static_cast<int>(n);
    } else if (arg == "--json") {
      flag();
      o.Json = true;
    } else if (arg == "--profile" || arg == "-p") {
      o.Profile = value();
    } else if (arg == "--codec") {
      o.Codec = value();
    } else if (arg == "--bitrate") {
      o.Bitrate = value();
    } else if (arg == "--samplerate") {
      o.SampleRate = value();
    } else if (arg == "--channels") {
      o.Channels = value();
    } else if (arg == "--volume") {
      o.Volume = ParseRange(arg, value(), 1, 5000);
    } else if (arg == "--start") {
      o.Start = ParseClock(arg, value());
    } else if (arg == "--end") {
      o.End = ParseClock(arg, value());
    } else if (arg == "--output-dir" || arg == "-o") {
      o.OutputDir = value();
      if (o.OutputDir.empty()) throw EUsage("--output-dir needs a folder");
    } else if (arg == "--loudness") {
      const std::string mode = value();
      if (mode == "off") {
        o.Loudness = TLoudnessMode::Off;
      } else if (mode == "tags") {
        o.Loudness = TLoudnessMode::Tags;
      } else if (mode == "normalise" || mode.rfind("normalise=", 0) == 0) {
        o.Loudness = TLoudnessMode::Normalise;
        if (mode.size() > 10) o.TargetLufs = ParseNumber(arg, mode.substr(10), -70, 0);
      } else {
        throw EUsage(Format("--loudness %s: expected off, tags or normalise[=LUFS]", mode.c_str()));
      }
    } else if (arg == "--true-peak") {
      o.TruePeak = ParseNumber(arg, value(), -20, 0);
    } else if (arg == "--album") {
      flag();
      o.Album = true;
    } else if (arg == "--analyse" || arg == "--analyze") {
      flag();
      o.Analyse = true;
    } else if (arg == "--jobs" || arg == "-j") {
      o.Jobs = ParseRange(arg, value(), 1, 64);
    } else {
      throw EUsage(Format("unknown option %s", arg.c_str()));
    }
  }
  if (o.Help || o.ListProfiles) return o;
  if (o.Files.empty() && o.FilesFrom.empty()) throw EUsage("no input files");
  if (o.NulSeparated && o.FilesFrom.empty()) throw EUsage("-0 needs --files-from");
  // Another machine's share of the list has no outputs here yet: what looks
  // extra to this one may be another's.
  if (o.DeleteExtra && o.ShardCount > 1) throw EUsage("--delete-extra cannot be used with --shard");
  if (o.DeleteExtra && o.Merge) throw EUsage("--delete-extra cannot be used with --merge");
  if (o.Merge && o.Existing == TCliOptions::TExisting::Skip) throw EUsage("--existing skip cannot be used with --merge");
  if (!o.NamePattern && o.Recursive) o.NamePattern = "{folder}/{name}";
  if (o.Start != kNoTime && o.End != kNoTime && o.End <= o.Start)
    throw EUsage(Format("--end %s is not after --start %s", ClockText(o.End).c_str(), ClockText(o.Start).c_str()));
  // A joined file is made of whole inputs: a trim applied to every part of
  // it would cut holes into the result.
  if (o.Merge && (o.Start != kNoTime || o.End != kNoTime)) throw EUsage("--start and --end cannot be used with --merge");
  if (o.Merge && o.Files.size() > 20) throw EUsage("Cannot merge more than 20 files.");
  if (o.Jobs == 0) o.Jobs = std::max(1u, std::thread::hardware_concurrency());
  return o;
}

std::string HelpText() {
  return R"(Usage: quorvel-convert [options] FILE...

Converts audio files (or the sound of video files) with the profiles of
Quorvel's profile set, with the same results as the Quorvel window program.

Profile and format:
  -p, --profile NAME     profile to use: its title, the start of its title or
                         its extension (mp3, .m4a ...); default: the first
  --list-profiles        list the profiles with their choices and exit
  --codec NAME           audio codec, one of the profile's codecs
  --bitrate RATE         bit rate in bit/s or kbit/s (128000 or 128k), one of
                         the profile's bit rates
  --samplerate HZ        sample rate, one of the profile's sample rates, or
                         "original" (the source's own, or the nearest the
                         codec takes)
  --channels N           channel count (Mono, Stereo or "original": the
                         source's layout, folded down where the codec takes
                         fewer channels), one of the profile's

Sound and time:
  --volume PERCENT       volume, 1 to 5000 (default 100: unchanged)
  --start HH:MM:SS[.mmm] start each file here (MM:SS and SS work too); a file
                         that ends before that is an error
  --end HH:MM:SS[.mmm]   end each file here (a file shorter than that ends
                         at its own end)

Loudness (EBU R128):
  --loudness off|tags|normalise[=LUFS]
                         off (default); tags: measure each output while it
                         is converted and write ReplayGain 2.0 tags (Opus:
                         R128_TRACK_GAIN), the audio untouched; normalise:
                         one constant gain per file that brings it to LUFS
                         (default -18; e.g. -14, -16, -23), replacing
                         --volume
  --true-peak DBTP       normalised outputs' true-peak ceiling (default -1);
                         a peak the gain would push past it is limited on
                         its own, and the file's line says so
  --album                the files of one source folder form an album: one
                         gain for all of them (normalise), album tags too
                         (tags); with --merge the joined file is one track
  --analyse              convert nothing: print each file's integrated
                         loudness (LUFS), loudness range (LU), sample peak
                         (dBFS) and true peak (dBTP), and each folder's album
                         line
  --json                 with --analyse: one JSON object a line instead
                         (keys source, integrated, range, sample_peak,
                         true_peak; album lines have "album": true)

Output:
  -o, --output-dir DIR   folder of the outputs (default: the current folder),
                         created with its parents when it does not exist;
                         each output is named after its input with the
                         profile's extension
  --merge                join all inputs (up to 20, in the order given) into
                         one file "Joined" + the profile's extension; the
                         inputs are used whole (no --start/--end)
  --verify               decode each lossless output (FLAC, ALAC, WAV, AIFF)
                         and compare it with its source; a difference fails
                         the file (naming where) and removes its output
  --overwrite            replace existing files. Without it an existing file
                         is never replaced: a free name "NAME (2).EXT" is
                         taken instead, and the result line says so. Even
                         with it, an input is never written over and no two
                         outputs share one path.

Folders and lists:
  -r, --recursive        convert the files beneath folders given as FILE
                         (hidden files and folders left out, in natural
                         order: "2 ..." before "10 ..."); without it a folder
                         is refused. Outputs keep the tree: the default name
                         is then {folder}/{name}
  --files-from LIST      read further sources from LIST, one a line ("-":
                         the standard input)
  -0, --null             the LIST is separated by NUL characters (find -print0)
  --shard K/N            convert only the K-th of N parts of the list (a
                         stable split by each file's path beneath its folder):
                         N machines with K = 1 ... N convert all of it once

Names and earlier outputs:
  --name PATTERN         the outputs' names beneath the output folder, "/"
                         making folders. Fields: {artist} {albumartist}
                         {album} {track} {track:02} (padded) {disc} {title}
                         {genre} {year} {name} (the source's name without
                         extension) {folder} (its folder beneath the folder
                         given) {ext}; {artist|Unknown} falls back to a text
                         (itself a pattern: {title|{name}}). Names are made
                         safe for FAT/NTFS (\ : * ? " < > | replaced,
                         trailing dots and spaces dropped, 255 bytes per
                         name, CON, NUL ... altered)
  --posix-names          keep every character Linux takes in the names
  --existing POLICY      an output that exists already: "rename" (default:
                         a free name "NAME (2).EXT"), "replace", or "skip"
                         when it is newer than its source (a mirror: a second
                         run converts only what changed)
  --delete-extra         list the files of the profile's type under the
                         output folder that no source maps to; with --yes
                         (or when answered on a terminal) remove them
  -y, --yes              remove without asking

Running:
  --json                 one JSON object a file on the standard output
                         (source, output, status done|skipped|failed,
                         seconds, reason); other lines go to the standard error
  -j, --jobs N           files converted at once (default: one per processor
                         core)
  -h, --help             this text

While converting, a terminal shows a progress bar (the whole batch and each
running file, time spent and time left); other outputs get plain lines. Each
file gets a result line; errors name the file and the reason and go to the
standard error. A file that fails leaves no output behind.

Ctrl-C stops the batch: no further file starts, running conversions stop and
their unfinished outputs are removed; files already converted are kept, and
files never started are listed as such. A second Ctrl-C ends the program at
once and may leave unfinished files.

A file that ends long before the length its header states (cut short) is
converted as far as it goes, with a warning naming both lengths.

Exit status: 0 when every file converted (or was skipped as up to date), 1
when any file failed or a folder could not be read, 2 for a wrong command
line or a missing profile set or media library, 130 when stopped.
)";
}

}  // namespace quorvel::cli
