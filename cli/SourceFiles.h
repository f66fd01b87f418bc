// The sources of a command line: the files given, the files of a
// --files-from list, the folders walked with --recursive, and this
// machine's share of them with --shard.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "media/batch/FolderWalk.h"

namespace quorvel::cli {

// The names of a list: one a line (a CR before the LF is dropped, empty
// lines skipped), or separated by NUL characters.
std::vector<std::string> SplitList(const std::string& AText, bool ANulSeparated);

// The part of a source's path that names it on every machine: beneath the
// folder it was found from, or the path as given.
std::string ShardName(const TFoundFile& AFile);
// Which of N shards (1 ... N) a source belongs to: a hash of its ShardName,
// the same on every machine and in every run.
int ShardOf(const TFoundFile& AFile, int ACount);

// Every source in order; folders walked (or refused) and unreadable lists
// reported in Problems. AStdin is read for "--files-from -". Throws EUsage
// when the list cannot be read.
TWalkResult GatherSources(const TCliOptions& AOptions, std::FILE* AStdin);

}  // namespace quorvel::cli
