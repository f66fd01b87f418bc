// Entry points of avDevice, in resolution order.
// FN: a required function, OPT: a function that may be missing (its slot stays
// null), VAR: a data export (its slot holds the export's address).
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_AVDEVICE_ENTRIES(FN, OPT, VAR) \
  FN(avdevice_register_all) \
  FN(avdevice_version) \
  VAR(av_device_ffversion)
