/* A C host of the handle interface: a generator on its own simulated
 * instrument, internal frequency modulation on channel A, and every frame
 * the instrument received with its meaning. Pass "real" to use the first
 * instrument on the bridge driver instead. */
#include <stdio.h>
#include <string.h>

#include "zugen4/zugen4.h"

static int check(const char* what, int rc) {
  if (rc != ZG_OK) fprintf(stderr, "%s: %s: %s\n", what, zg_result_name(rc), zg_last_error());
  return rc == ZG_OK;
}

int main(int argc, char** argv) {
  const int real = argc > 1 && strcmp(argv[1], "real") == 0;
  zg_gen* gen = NULL;
  if (!check("create", zg_create(real ? ZG_SYSTEM : ZG_SIMULATED, 0, &gen))) return 1;

  const char* paths[] = {"ChA.Frequency", "ChA.IntModulation.Type", "ChA.IntModulation.Fm", "ChA.IntModulation.dF",
                         "ChA.Mode"};
  const char* values[] = {"2000", "freq", "500", "20000", "IntModulation"};
  int ok = check("activate", zg_activate(gen)) && check("setup", zg_set_many(gen, paths, values, 5));
  /* A refused value says why, and changes nothing. */
  if (zg_set_double(gen, "ChA.IntModulation.Fm", 50000.0) == ZG_ERR_REFUSED) printf("%s\n", zg_last_error());

  size_t count = 0;
  if (ok && !real && check("trace", zg_sim_trace_count(gen, &count))) {
    for (size_t i = 0; i < count; ++i) {
      zg_trace_entry e;
      if (zg_sim_trace_at(gen, i, &e) == ZG_OK) printf("%6llu ms  %s\n", (unsigned long long)e.time_ms, e.line);
    }
  }
  zg_destroy(gen); /* resets the instrument and closes it */
  return ok ? 0 : 1;
}
