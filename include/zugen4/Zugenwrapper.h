/* The flat interface: thirteen plain functions that drive one global
 * generator, for hosts that cannot use the component classes.
 *
 * Result codes of the functions that return one:
 *   0  done
 *   1  ZuGenInit could not create the generator
 *   2  no generator: call ZuGenInit first (nothing was touched)
 *   3  the operation failed: the instrument link reported an error, or the
 *      system refused a resource; ZuGen_LastError() tells what happened. Where
 *      the call reads back a value, the value in force is still written.
 *   4  a pointer argument needed by the flags is null (nothing was touched)
 *
 * Flags of the get/set functions: bit 0 sets from *value first, bit 1 then
 * reads the value in force into *value; other bits are ignored. The channel
 * byte 0 selects channel A, any other value channel B.
 *
 * The Set shorthands set and return the value in force afterwards; without a
 * generator they return their argument. No C++ exception leaves any of these
 * functions.
 *
 * Threads: the functions may be called from any thread. They take turns on
 * one lock (so one call's frames never mix with another's), and the timers of
 * the generator run under that lock too; ZuGen_LastError is kept per thread.
 */
#ifndef ZUGENWRAPPER_H
#define ZUGENWRAPPER_H

#include "zugen4/ZuExport.h"

#if defined(_WIN32) && !defined(_WIN64)
#define ZUGEN_CALL __stdcall
#else
#define ZUGEN_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { ZUGEN_OK = 0, ZUGEN_INIT_FAILED = 1, ZUGEN_NO_INSTANCE = 2, ZUGEN_FAILED = 3, ZUGEN_NULL_POINTER = 4 };

ZUGEN_API unsigned char ZUGEN_CALL ZuGenInit(void);
ZUGEN_API unsigned char ZUGEN_CALL ZuGenRelease(void);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_Freq(unsigned char flags, unsigned char channel, double* value);
ZUGEN_API double ZUGEN_CALL ZuGen_SetFreq(unsigned char channel, double value);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_Ampl(unsigned char flags, unsigned char channel, double* value);
ZUGEN_API double ZUGEN_CALL ZuGen_SetAmpl(unsigned char channel, double value);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_Phase(unsigned char flags, unsigned char channel, double* value);
ZUGEN_API double ZUGEN_CALL ZuGen_SetPhase(unsigned char channel, double value);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_Activity(unsigned char flags, unsigned char* active);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_SetActivity(unsigned char active);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_SetExtFrequency(unsigned char flags, unsigned char* useExt, double* refFreq,
                                                         int* freqScale);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_ChMode(unsigned char flags, unsigned char channel, unsigned char* mode);
ZUGEN_API unsigned char ZUGEN_CALL ZuGen_SetChMode(unsigned char channel, unsigned char mode);

/* The UTF-8 message of the calling thread's most recent failure that
 * returned 3 (or made ZuGenInit return 1), or the account of why the device
 * could not be opened after ZuGen_Activity found it refused; an empty string
 * when there was none. The text stays valid until the thread's next call of this interface. */
ZUGEN_API const char* ZUGEN_CALL ZuGen_LastError(void);

#ifdef __cplusplus
}
#endif

#endif
