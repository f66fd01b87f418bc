// Entry points of myUtil (the C library), in resolution order.
// FN: a required function, OPT: a function that may be missing (its slot stays
// null), VAR: a data export (its slot holds the export's address).
// This file only lists names, so that a test can build a stand-in library from it.
#pragma once

#define QUORVEL_MYUTIL_ENTRIES(FN, OPT, VAR) \
  FN(fclose) \
  FN(fopen) \
  FN(fprintf) \
  FN(fread) \
  FN(fseek) \
  FN(ftell) \
  FN(fwrite) \
  FN(snprintf) \
  FN(strtod) \
  FN(strtok) \
  FN(strtol) \
  FN(vsprintf) \
  FN(vsnprintf)
