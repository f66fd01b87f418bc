// The settings block of a conversion job: what the option names set and what
// opening inputs and creating outputs read (and partly reset). The defaults
// are the member initialisers; a job takes them once, when it is created.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "media/engine/EngineTypes.h"
#include "media/engine/FrameHook.h"

namespace quorvel {

struct TEngineSettings {
  std::string Flast_asked_format;
  // Where the next output's bytes go while it is made (empty: under its own
  // name); consumed by open_output_file.
  std::string Fnext_write_path;
  int Fframe_width = 0;
  int Fframe_height = 0;
  float Fframe_aspect_ratio = 0;
  int Fframe_pix_fmt = -1;
  int Faudio_sample_fmt = -1;
  // by media type: video, audio, data, subtitle
  std::array<int, 4> Fmax_frames{INT_MAX, INT_MAX, INT_MAX, INT_MAX};
  AVRational Fframe_rate{25, 0};
  float Fvideo_qscale = 0;
  std::vector<uint16_t> Fintra_matrix;  // 64 coefficients, or empty for none
  std::vector<uint16_t> Finter_matrix;
  std::string Fvideo_rc_override_string;
  bool Fvideo_disable = false;
  int Fvideo_discard = 0;
  std::string Fvideo_codec_name;
  uint32_t Fvideo_codec_tag = 0;
  std::string Fvideo_language;
  bool Fsame_quality = false;
  bool Fdo_deinterlace = false;
  int Ftop_field_first = -1;
  int Fme_threshold = 0;
  int Fintra_dc_precision = 8;
  bool Floop_input = false;
  int Floop_output = -1;
  bool Fqp_hist = false;
  std::string Fvfilters;
  bool Fintra_only = false;
  int Faudio_sample_rate = 44100;
  int64_t Fchannel_layout = 0;
  float Faudio_qscale = -99999.0f;
  bool Faudio_disable = false;
  int Faudio_channels = 2;
  // Bits per sample of the last audio stream opened (SourceBits): the depth
  // of a PCM output whose codec asks for the source's.
  int Faudio_source_bits = 16;
  std::string Faudio_codec_name;
  uint32_t Faudio_codec_tag = 0;
  std::string Faudio_language;
  bool Fsubtitle_disable = false;
  std::string Fsubtitle_codec_name;
  std::string Fsubtitle_language;
  uint32_t Fsubtitle_codec_tag = 0;
  float Fmux_preload = 0.5f;
  float Fmux_max_delay = 0.7f;
  int64_t Frecording_time = INT64_MAX;
  int64_t Fstart_time = 0;
  int64_t Frecording_timestamp = 0;
  int64_t Finput_ts_offset = 0;
  TDictionary Fmetadata;
  bool Fdo_hex_dump = false;
  bool Fdo_pkt_dump = false;
  bool Fdo_psnr = false;
  int Fdo_pass = 0;
  std::string Fpass_logfilename_prefix;
  int Faudio_stream_copy = 0;
  int Fvideo_stream_copy = 0;
  int Fsubtitle_stream_copy = 0;
  int Fvideo_sync_method = -1;
  int Faudio_sync_method = 0;
  float Faudio_drift_threshold = 0.1f;
  bool Fcopy_ts = false;
  bool Fcopy_tb = false;
  bool Fopt_shortest = false;
  int Fvideo_global_header = 0;
  std::string Fvstats_filename;
  int Fopt_programid = 0;
  int Fcopy_initial_nonkeyframes = 0;
  bool Frate_emu = false;
  int Fvideo_channel = 0;
  std::string Fvideo_standard;
  int Faudio_volume = 256;
  bool Fexit_on_error = false;
  bool Fusing_vhook = false;
  int Fverbose = 1;
  int Fthread_count = 1;
  bool Finput_sync = false;
  int64_t Flimit_filesize = 0;
  bool Fforce_fps = false;
  std::string Fforced_key_frames;
  float Fdts_delta_threshold = 10.0f;
  unsigned Fsws_flags = 4;  // bicubic
  std::vector<TAVStreamMap> Fstream_maps;
  std::vector<TAVMetaDataMapPair> Fmeta_data_maps;
  int Fmetadata_global_autocopy = 1;
  int Fmetadata_streams_autocopy = 1;
  int Fmetadata_chapters_autocopy = 1;
  std::vector<TAVChapterMap> Fchapter_maps;
  std::vector<int> Fstreamid_map;
  TBitstreamFilterChain Fvideo_bitstream_filters;
  TBitstreamFilterChain Faudio_bitstream_filters;
  TBitstreamFilterChain Fsubtitle_bitstream_filters;
  TFrameHookChain FFirstHook;
};

}  // namespace quorvel
