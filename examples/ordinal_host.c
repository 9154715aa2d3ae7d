/* A host that takes the flat functions by ordinal, as a host in another
 * language does, with the stand-in driver library beside the DLL. Around
 * every call it reads the stack pointer: on 32-bit Windows a function that
 * did not remove its arguments the __stdcall way would leave it moved. It
 * also checks the DLL's version resource, and that unloading the library
 * without ZuGenRelease still resets and closes the instrument. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "zugen4/Zugenwrapper.h"

typedef unsigned char(ZUGEN_CALL* TNoArgs)(void);
typedef unsigned char(ZUGEN_CALL* TValue)(unsigned char, unsigned char, double*);
typedef double(ZUGEN_CALL* TSetValue)(unsigned char, double);
typedef unsigned char(ZUGEN_CALL* TActivity)(unsigned char, unsigned char*);
typedef unsigned char(ZUGEN_CALL* TSetActivity)(unsigned char);
typedef unsigned char(ZUGEN_CALL* TExtFrequency)(unsigned char, unsigned char*, double*, int*);
typedef unsigned char(ZUGEN_CALL* TMode)(unsigned char, unsigned char, unsigned char*);
typedef unsigned char(ZUGEN_CALL* TSetMode)(unsigned char, unsigned char);
typedef const char*(ZUGEN_CALL* TLastError)(void);
/* The stand-in's own controls are plain cdecl functions. */
typedef int (*TSimIsOpen)(void);
typedef uint32_t (*TSimFrameCount)(void);
typedef uint32_t (*TSimFrame)(uint32_t, uint8_t*);

static int failures = 0;

static void expect(int ok, const char* what) {
  printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  if (!ok) ++failures;
}

#if defined(__i386__)
#define READ_SP(v) __asm__ volatile("movl %%esp, %0" : "=r"(v)::"memory")
#elif defined(__x86_64__)
#define READ_SP(v) __asm__ volatile("movq %%rsp, %0" : "=r"(v)::"memory")
#endif

/* Runs one call between two readings of the stack pointer. */
#define CHECKED(call)                                                                             \
  do {                                                                                            \
    uintptr_t before_, after_;                                                                    \
    READ_SP(before_);                                                                             \
    call;                                                                                         \
    READ_SP(after_);                                                                              \
    ++calls;                                                                                      \
    if (before_ != after_) {                                                                      \
      printf("FAIL: %s moved the stack pointer by %ld bytes\n", #call, (long)(after_ - before_)); \
      ++failures;                                                                                 \
    }                                                                                             \
  } while (0)

static void (*at(HMODULE lib, int ordinal))(void) {
  FARPROC f = GetProcAddress(lib, MAKEINTRESOURCEA(ordinal));
  if (!f) {
    printf("FAIL: no export at ordinal %d\n", ordinal);
    ++failures;
  }
  return (void (*)(void))f;
}

static void checkVersion(const char* path) {
  static char buf[8192];
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  VS_FIXEDFILEINFO* fixed = NULL;
  char* product = NULL;
  UINT len = 0;
  if (size == 0 || size > sizeof buf || !GetFileVersionInfoA(path, 0, size, buf) ||
      !VerQueryValueA(buf, "\\", (void**)&fixed, &len) ||
      !VerQueryValueA(buf, "\\StringFileInfo\\040904B0\\ProductVersion", (void**)&product, &len)) {
    expect(0, "Zugen.dll has a version resource");
    return;
  }
  char text[64];
  snprintf(text, sizeof text, "%u.%u.%u", (unsigned)HIWORD(fixed->dwFileVersionMS),
           (unsigned)LOWORD(fixed->dwFileVersionMS), (unsigned)HIWORD(fixed->dwFileVersionLS));
  printf("Zugen.dll file version %s, product version %s\n", text, product);
  expect(strcmp(text, ZUGEN_VERSION) == 0 && strcmp(product, ZUGEN_VERSION) == 0,
         "the version resource carries the project version " ZUGEN_VERSION);
}

int main(void) {
  HMODULE ft = LoadLibraryA("FTD2XX.dll");
  HMODULE zu = LoadLibraryA("Zugen.dll");
  if (!ft || !zu) {
    printf("FAIL: cannot load FTD2XX.dll or Zugen.dll beside this program\n");
    return 1;
  }
  const TSimIsOpen simIsOpen = (TSimIsOpen)at(ft, 107);
  const TSimFrameCount simFrameCount = (TSimFrameCount)at(ft, 108);
  const TSimFrame simFrame = (TSimFrame)at(ft, 109);
  const TNoArgs init = (TNoArgs)at(zu, 1), release = (TNoArgs)at(zu, 2);
  const TValue freq = (TValue)at(zu, 3), ampl = (TValue)at(zu, 5), phase = (TValue)at(zu, 7);
  const TSetValue setFreq = (TSetValue)at(zu, 4), setAmpl = (TSetValue)at(zu, 6), setPhase = (TSetValue)at(zu, 8);
  const TActivity activity = (TActivity)at(zu, 9);
  const TSetActivity setActivity = (TSetActivity)at(zu, 10);
  const TExtFrequency extFrequency = (TExtFrequency)at(zu, 11);
  const TMode chMode = (TMode)at(zu, 12);
  const TSetMode setChMode = (TSetMode)at(zu, 13);
  const TLastError lastError = (TLastError)at(zu, 14);
  if (failures) return 1;
  checkVersion("Zugen.dll");

  int calls = 0;
  unsigned char rc = 0, b = 0, mode = 0, useExt = 0;
  double d = 0.0, refFreq = 0.0;
  int scale = 0;
  const char* message = NULL;
  CHECKED(rc = init());
  expect(rc == ZUGEN_OK, "ZuGenInit (ordinal 1)");
  CHECKED(b = setActivity(1));
  expect(b == 1, "ZuGen_SetActivity opens the stand-in instrument (10)");
  CHECKED(mode = setChMode(0, 1));
  expect(mode == 1, "ZuGen_SetChMode: channel A in sine generation (13)");
  CHECKED(d = setFreq(0, 2000.0));
  expect(d == 2000.0, "ZuGen_SetFreq 2000 kHz (4)");
  CHECKED(d = setAmpl(1, 50.0));
  expect(d == 50.0, "ZuGen_SetAmpl 50 % on channel B (6)");
  CHECKED(d = setPhase(0, 90.0));
  expect(d == 90.0, "ZuGen_SetPhase 90 degrees (8)");
  CHECKED(rc = freq(2, 0, &d));
  expect(rc == ZUGEN_OK && d == 2000.0, "ZuGen_Freq reads 2000 kHz back (3)");
  CHECKED(rc = ampl(2, 1, &d));
  expect(rc == ZUGEN_OK && d == 50.0, "ZuGen_Ampl reads 50 % back (5)");
  CHECKED(rc = phase(2, 0, &d));
  expect(rc == ZUGEN_OK && d == 90.0, "ZuGen_Phase reads 90 degrees back (7)");
  CHECKED(rc = activity(2, &b));
  expect(rc == ZUGEN_OK && b == 1, "ZuGen_Activity reads active (9)");
  CHECKED(rc = extFrequency(2, &useExt, &refFreq, &scale));
  expect(rc == ZUGEN_OK && useExt == 0 && refFreq == 25.0 && scale == 16,
         "ZuGen_SetExtFrequency reads the internal reference 25 MHz x 16 (11)");
  CHECKED(rc = chMode(2, 0, &mode));
  expect(rc == ZUGEN_OK && mode == 1, "ZuGen_ChMode reads sine generation (12)");
  CHECKED(message = lastError());
  expect(message && message[0] == '\0', "ZuGen_LastError is empty (14)");
  CHECKED(rc = release());
  expect(rc == ZUGEN_OK && !simIsOpen(), "ZuGenRelease closes the instrument (2)");
  printf("%d calls, the stack pointer checked around each; %u frames sent\n", calls, (unsigned)simFrameCount());

  /* A host that forgets ZuGenRelease: unloading the library lets go. */
  CHECKED(rc = init());
  CHECKED(b = setActivity(1));
  const uint32_t before = simFrameCount();
  expect(rc == ZUGEN_OK && b == 1 && simIsOpen(), "opened again");
  FreeLibrary(zu);
  uint8_t frame[6] = {0};
  const uint32_t after = simFrameCount();
  const uint32_t n = after > before ? simFrame(after - 1, frame) : 0;
  expect(!simIsOpen(), "unloading Zugen.dll without ZuGenRelease closed the instrument");
  expect(n > 0 && frame[0] == 0xF0, "and reset it first (frame F0)");

  /* The same for a generator of the handle interface. */
  typedef int(ZUGEN_CALL * TCreate)(int, int, void**);
  typedef int(ZUGEN_CALL * TActivate)(void*);
  zu = LoadLibraryA("Zugen.dll");
  const TCreate create = zu ? (TCreate)(void (*)(void))GetProcAddress(zu, "zg_create") : NULL;
  const TActivate activate = zu ? (TActivate)(void (*)(void))GetProcAddress(zu, "zg_activate") : NULL;
  void* handle = NULL;
  expect(create && activate && create(0, 0, &handle) == 0 && activate(handle) == 0 && simIsOpen(),
         "zg_create and zg_activate open the instrument");
  const uint32_t before2 = simFrameCount();
  FreeLibrary(zu);
  const uint32_t after2 = simFrameCount();
  const uint32_t n2 = after2 > before2 ? simFrame(after2 - 1, frame) : 0;
  expect(!simIsOpen() && n2 > 0 && frame[0] == 0xF0,
         "unloading Zugen.dll without zg_destroy reset and closed the instrument");
  FreeLibrary(ft);
  printf(failures ? "%d FAILED\n" : "all passed\n", failures);
  return failures ? 1 : 0;
}
