// Entry points of swScale, in resolution order.
// FN: a required function, OPT: a function that may be missing (its slot stays
// null), VAR: a data export (its slot holds the export's address).
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_SWSCALE_ENTRIES(FN, OPT, VAR) \
  FN(sws_alloc_context) \
  FN(sws_freeContext) \
  FN(sws_getCachedContext) \
  FN(sws_getContext) \
  FN(sws_get_class) \
  FN(sws_init_context) \
  FN(sws_isSupportedInput) \
  FN(sws_isSupportedOutput) \
  FN(sws_scale) \
  FN(sws_scale_frame) \
  FN(swscale_version)
