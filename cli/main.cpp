// quorvel-convert: the batch converter for the terminal. The work is done by
// the classes beside this file; main only wires them up.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "cli/BatchRun.h"
#include "cli/CliOptions.h"
#include "cli/LoudnessReport.h"
#include "cli/ProfileChoice.h"
#include "cli/ProgressDisplay.h"
#include "media/runtime/FFLoad.h"
#include "media/runtime/FFLog.h"
#include "media/runtime/MediaRuntime.h"
#include "profiles/ShippedFiles.h"

namespace {

// The folder of the shipped files: beside the program, or the
// installation's "share/quorvel".
std::string ProgramFolder() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::string folder = error ? std::string(".") : self.parent_path().string();
  std::string shipped = quorvel::ShippedFilesFolder(QString::fromStdString(folder)).toStdString();
  if (shipped.size() > 1 && shipped.back() == '/') shipped.pop_back();
  return shipped;
}

int Main(int argc, char** argv) {
  using namespace quorvel;
  using namespace quorvel::cli;
  TCliOptions options;
  try {
    options = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsage& e) {
    std::fprintf(stderr, "quorvel-convert: %s\n(see quorvel-convert --help)\n", e.what());
    return kExitUsage;
  }
  if (options.Help) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  const std::string folder = ProgramFolder();
  if (options.Analyse) {
    // Measuring needs the decoders only, not the profile set.
    MediaRuntime runtime;
    FFLogger().SetTriggerEventInMainThread(false);
    FFLogger().SetLogLevel(llQuiet);
    std::string error;
    if (!LoadAVLib(kDecoderLibraries, folder + "/LibAV", error)) {
      std::fprintf(stderr, "quorvel-convert: cannot load the media libraries: %s\n", error.c_str());
      return kExitUsage;
    }
    return RunAnalysis(options, stdout, stderr);
  }
  TConversionSettings settings;
  try {
    const TProfiles profiles = LoadProfileSet(ProfileSetPath(folder));
    if (options.ListProfiles) {
      std::fputs(ProfileListText(profiles).c_str(), stdout);
      return kExitOk;
    }
    settings = ResolveSettings(FindProfile(profiles, options.Profile), options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-convert: %s\n", e.what());
    return kExitUsage;
  }

  MediaRuntime runtime;
  // The reasons reach the user through each task's error text; the
  // libraries' own chatter would only break the progress line.
  FFLogger().SetTriggerEventInMainThread(false);
  FFLogger().SetLogLevel(llQuiet);
  std::string error;
  if (!LoadAVLib(kEncoderLibraries, folder + "/LibAV", error)) {
    std::fprintf(stderr, "quorvel-convert: cannot load the media libraries: %s\n", error.c_str());
    return kExitUsage;
  }
  // With --json the standard output carries only the objects; what people
  // read goes to the standard error.
  TProgressDisplay display(options.Json ? stderr : stdout, stderr,
                           !options.Json && ::isatty(STDOUT_FILENO) == 1);
  return TBatchRun(options, settings, display).Run();
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv); }
