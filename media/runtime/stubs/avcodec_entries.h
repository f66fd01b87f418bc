// Entry points of avCodec, in resolution order.
// FN: a required function, OPT: a function that may be missing (its slot stays
// null), VAR: a data export (its slot holds the export's address).
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_AVCODEC_ENTRIES(FN, OPT, VAR) \
  FN(av_codec_is_decoder) \
  FN(av_codec_is_encoder) \
  FN(av_codec_iterate) \
  FN(av_get_audio_frame_duration) \
  FN(av_get_bits_per_sample) \
  FN(av_get_exact_bits_per_sample) \
  FN(av_grow_packet) \
  FN(av_new_packet) \
  FN(av_packet_alloc) \
  FN(av_packet_clone) \
  FN(av_packet_free) \
  FN(av_packet_make_writable) \
  FN(av_packet_ref) \
  FN(av_packet_rescale_ts) \
  FN(av_packet_unref) \
  FN(av_parser_close) \
  FN(av_parser_init) \
  FN(av_parser_parse2) \
  FN(av_bsf_alloc) \
  FN(av_bsf_free) \
  FN(av_bsf_get_by_name) \
  FN(av_bsf_init) \
  FN(av_bsf_receive_packet) \
  FN(av_bsf_send_packet) \
  FN(avcodec_align_dimensions2) \
  FN(avcodec_alloc_context3) \
  FN(avcodec_close) \
  FN(avcodec_decode_subtitle2) \
  FN(avcodec_descriptor_get) \
  FN(avcodec_encode_subtitle) \
  FN(avcodec_find_decoder) \
  FN(avcodec_find_decoder_by_name) \
  FN(avcodec_find_encoder) \
  FN(avcodec_find_encoder_by_name) \
  FN(avcodec_flush_buffers) \
  FN(avcodec_free_context) \
  FN(avcodec_get_class) \
  FN(avcodec_get_name) \
  FN(avcodec_open2) \
  FN(avcodec_parameters_alloc) \
  FN(avcodec_parameters_copy) \
  FN(avcodec_parameters_free) \
  FN(avcodec_parameters_from_context) \
  FN(avcodec_parameters_to_context) \
  FN(avcodec_profile_name) \
  FN(avcodec_receive_frame) \
  FN(avcodec_receive_packet) \
  FN(avcodec_send_frame) \
  FN(avcodec_send_packet) \
  FN(avcodec_string) \
  FN(avcodec_version) \
  FN(avsubtitle_free) \
  VAR(av_codec_ffversion)
