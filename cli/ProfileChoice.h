// The profile set as quorvel-convert uses it: where it lives, which profile
// the user means, and the output settings after the command line's
// overrides, each checked against the profile's own choices.
#pragma once

#include <string>

#include "profiles/Profile.h"
#include "cli/CliOptions.h"

namespace quorvel::cli {

// What one output gets, read the way the window program reads a profile.
struct TConversionSettings {
  std::string Title;
  std::string Ext;  // with its leading dot
  std::string Codec;
  int Bitrate = 0;  // bit/s
  int SampleRate = 0;  // 0: the source's own (the profile's "Original")
  int Channels = 0;    // 0: the source's own
  // The container, when the profile names one ("format=NAME" among its
  // extra parameters): an extension like ".m4r" that the libraries do not
  // know still gets its format.
  std::string Format;
};

// "mp3-converter-profiles/formats.dat" in the program's folder.
std::string ProfileSetPath(const std::string& AProgramFolder);
// Reads and parses the profile set; throws Exception naming the file.
TProfiles LoadProfileSet(const std::string& APath);

// The profile ANAME names: its title, else the one title that starts with
// it, else the one profile with that extension (letter case ignored; empty:
// the first profile). Throws EUsage listing the titles.
const TProfile& FindProfile(const TProfiles& AProfiles, const std::string& AName);

// The profile's chosen values with the overrides of AOptions. An override
// must be one of the profile's choices (its value or caption, letter case
// ignored; a bit rate also as "128k"); otherwise EUsage names the allowed
// values. A profile value that is not a number throws EUsage too.
TConversionSettings ResolveSettings(const TProfile& AProfile, const TCliOptions& AOptions);

// The --list-profiles text.
std::string ProfileListText(const TProfiles& AProfiles);

}  // namespace quorvel::cli
