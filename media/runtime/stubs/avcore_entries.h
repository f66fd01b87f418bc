// Entry points of avCore (libswresample), in resolution order.
// FN: a required function, OPT: a function that may be missing (its slot stays
// null), VAR: a data export (its slot holds the export's address).
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_AVCORE_ENTRIES(FN, OPT, VAR) \
  FN(swr_alloc) \
  FN(swr_alloc_set_opts2) \
  FN(swr_close) \
  FN(swr_config_frame) \
  FN(swr_convert) \
  FN(swr_convert_frame) \
  FN(swr_drop_output) \
  FN(swr_free) \
  FN(swr_get_class) \
  FN(swr_get_delay) \
  FN(swr_get_out_samples) \
  FN(swr_init) \
  FN(swr_inject_silence) \
  FN(swr_is_initialized) \
  FN(swr_next_pts) \
  FN(swr_set_compensation) \
  FN(swr_set_matrix) \
  FN(swresample_version) \
  OPT(swr_alloc_set_opts) \
  VAR(swr_ffversion)
