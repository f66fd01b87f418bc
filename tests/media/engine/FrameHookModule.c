/* A frame-hook module for the engine tests. Configure keeps its words in a
   context that Release frees (a missing Release shows up as a leak); the
   word "fail" makes Configure refuse. Built without Configure when
   NO_CONFIGURE is defined. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

struct HookContext {
  int argc;
};

#ifndef NO_CONFIGURE
int Configure(void** ctxp, int argc, char* argv[]) {
  for (int i = 0; i < argc; ++i)
    if (strcmp(argv[i], "fail") == 0) return -1;
  struct HookContext* ctx = malloc(sizeof(struct HookContext));
  ctx->argc = argc;
  *ctxp = ctx;
  return 0;
}
#endif

void Process(void* ctx, void* picture, int pix_fmt, int width, int height, int64_t pts) {
  (void)ctx, (void)picture, (void)pix_fmt, (void)width, (void)height, (void)pts;
}

void Release(void* ctx) { free(ctx); }
