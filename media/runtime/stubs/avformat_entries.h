// Entry points of avFormat, in resolution order.
// FN: a required function, OPT: a function that may be missing (its slot stays
// null), VAR: a data export (its slot holds the export's address).
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_AVFORMAT_ENTRIES(FN, OPT, VAR) \
  FN(av_codec_get_id) \
  FN(av_codec_get_tag) \
  FN(av_demuxer_iterate) \
  FN(av_dump_format) \
  FN(av_filename_number_test) \
  FN(av_find_best_stream) \
  FN(av_find_input_format) \
  FN(av_find_program_from_stream) \
  FN(av_get_packet) \
  FN(av_guess_codec) \
  FN(av_guess_format) \
  FN(av_guess_frame_rate) \
  FN(av_guess_sample_aspect_ratio) \
  FN(av_interleaved_write_frame) \
  FN(av_muxer_iterate) \
  FN(av_pkt_dump_log2) \
  FN(av_probe_input_format) \
  FN(av_read_frame) \
  FN(av_read_pause) \
  FN(av_read_play) \
  FN(av_sdp_create) \
  FN(av_seek_frame) \
  FN(av_write_frame) \
  FN(av_write_trailer) \
  FN(avformat_alloc_context) \
  FN(avformat_alloc_output_context2) \
  FN(avformat_close_input) \
  FN(avformat_find_stream_info) \
  FN(avformat_flush) \
  FN(avformat_free_context) \
  FN(avformat_get_class) \
  FN(avformat_init_output) \
  FN(avformat_match_stream_specifier) \
  FN(avformat_network_deinit) \
  FN(avformat_network_init) \
  FN(avformat_new_stream) \
  FN(avformat_open_input) \
  FN(avformat_query_codec) \
  FN(avformat_seek_file) \
  FN(avformat_version) \
  FN(avformat_write_header) \
  FN(avio_alloc_context) \
  FN(avio_closep) \
  FN(avio_context_free) \
  FN(avio_enum_protocols) \
  FN(avio_feof) \
  FN(avio_find_protocol_name) \
  FN(avio_flush) \
  FN(avio_open2) \
  FN(avio_read) \
  FN(avio_seek) \
  FN(avio_size) \
  FN(avio_skip) \
  FN(avio_write) \
  VAR(av_format_ffversion)
