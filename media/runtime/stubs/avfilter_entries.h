// Entry points of avFilter, in resolution order.
// FN: a required function, OPT: a function that may be missing (its slot stays
// null), VAR: a data export (its slot holds the export's address).
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_AVFILTER_ENTRIES(FN, OPT, VAR) \
  FN(av_buffersink_get_ch_layout) \
  FN(av_buffersink_get_format) \
  FN(av_buffersink_get_frame) \
  FN(av_buffersink_get_frame_flags) \
  FN(av_buffersink_get_h) \
  FN(av_buffersink_get_sample_rate) \
  FN(av_buffersink_get_samples) \
  FN(av_buffersink_get_time_base) \
  FN(av_buffersink_get_w) \
  FN(av_buffersink_set_frame_size) \
  FN(av_buffersrc_add_frame_flags) \
  FN(av_buffersrc_get_nb_failed_requests) \
  FN(av_buffersrc_parameters_alloc) \
  FN(av_buffersrc_parameters_set) \
  FN(av_buffersrc_write_frame) \
  FN(av_filter_iterate) \
  FN(avfilter_get_by_name) \
  FN(avfilter_graph_alloc) \
  FN(avfilter_graph_alloc_filter) \
  FN(avfilter_graph_config) \
  FN(avfilter_graph_create_filter) \
  FN(avfilter_graph_free) \
  FN(avfilter_graph_parse_ptr) \
  FN(avfilter_init_dict) \
  FN(avfilter_init_str) \
  FN(avfilter_inout_alloc) \
  FN(avfilter_inout_free) \
  FN(avfilter_link) \
  FN(avfilter_version) \
  VAR(av_filter_ffversion)
