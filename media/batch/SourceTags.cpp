#include "media/batch/SourceTags.h"

#include <cctype>

#include "media/decoder/FFDecode.h"
#include "media/runtime/Stubs.h"

namespace quorvel {

namespace {

void Collect(const AVDictionary* ADictionary, std::map<std::string, std::string>& ATags) {
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = avutil.av_dict_get(ADictionary, "", entry, AV_DICT_IGNORE_SUFFIX))) {
    std::string key = entry->key;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // The container's tag wins over the stream's of the same name.
    ATags.emplace(key, entry->value ? entry->value : "");
  }
}

}  // namespace

std::map<std::string, std::string> SourceTagsOf(const TCustomDecoder& ADecoder) {
  std::map<std::string, std::string> tags;
  const AVFormatContext* context = ADecoder.FileHandle();
  if (!context) return tags;
  Collect(context->metadata, tags);
  const int audio = ADecoder.FirstAudioStreamIndex();
  if (audio >= 0 && audio < static_cast<int>(context->nb_streams)) Collect(context->streams[audio]->metadata, tags);
  return tags;
}

std::map<std::string, std::string> ReadSourceTags(const std::string& APath) {
  std::map<std::string, std::string> tags;
  try {
    TCustomDecoder probe;
    if (!probe.LoadFile(APath)) return tags;
    tags = SourceTagsOf(probe);
  } catch (const std::exception&) {
    // Without the libraries nothing can be read; the name falls back.
  }
  return tags;
}

}  // namespace quorvel
