/* A C host that finds the installed library through pkg-config: both channels
 * of a simulated instrument into sine generation with one update; fails on
 * any error or protocol fault. */
#include <stdio.h>

#include "zugen4/zugen4.h"

int main(void) {
  zg_gen* gen = NULL;
  const char* paths[] = {"ChA.Mode", "ChA.Amplitude", "ChB.Mode", "ChB.Amplitude"};
  const char* values[] = {"gen", "50", "gen", "50"};
  char faults[256] = "";
  size_t frames = 0;
  int rc = zg_create(ZG_SIMULATED, 0, &gen);
  if (rc == ZG_OK) rc = zg_activate(gen);
  if (rc == ZG_OK) rc = zg_set_many(gen, paths, values, 4);
  if (rc == ZG_OK) rc = zg_sim_trace_count(gen, &frames);
  if (rc == ZG_OK) rc = zg_sim_violations(gen, faults, sizeof faults, NULL);
  if (rc != ZG_OK) printf("consumer: %s: %s\n", zg_result_name(rc), zg_last_error());
  zg_destroy(gen);
  if (rc != ZG_OK || frames == 0 || faults[0] != '\0') return 1;
  printf("consumer: %zu trace entries, ok\n", frames);
  return 0;
}
