/* A plain C host of the flat interface: opens the first instrument (or the
 * stand-in driver library when it is found first), sets channel A to a 2 MHz
 * sine and reads the values back. Every call reports its result code. */
#include <stdio.h>

#include "zugen4/Zugenwrapper.h"

static int check(const char* what, unsigned char rc) {
  if (rc != ZUGEN_OK) printf("%s: result %u %s\n", what, rc, ZuGen_LastError());
  return rc == ZUGEN_OK;
}

int main(void) {
  if (!check("init", ZuGenInit())) return 1;
  if (ZuGen_SetActivity(1) != 1) {
    printf("no instrument: the driver library is missing or found no device\n");
    ZuGenRelease();
    return 2;
  }
  printf("mode A: %u\n", ZuGen_SetChMode(0, 1));
  printf("frequency A: %.3f kHz\n", ZuGen_SetFreq(0, 2000.0));
  printf("amplitude A: %.2f %%\n", ZuGen_SetAmpl(0, 50.0));
  printf("phase A: %.2f deg\n", ZuGen_SetPhase(0, 90.0));

  unsigned char useExt = 0;
  double refFreq = 0.0;
  int freqScale = 0;
  if (check("reference", ZuGen_SetExtFrequency(2, &useExt, &refFreq, &freqScale)))
    printf("reference: %s %.3f MHz x %d\n", useExt ? "external" : "internal", refFreq, freqScale);
  ZuGenRelease(); /* resets the instrument and closes it */
  return 0;
}
