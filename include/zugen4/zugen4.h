/* The C interface on handles: any number of generators, each on the system's
 * instrument or on its own simulated one, with every published property
 * reached by its dotted path ("ChA.IntModulation.Fm").
 *
 * Results. Every function returns one of the codes below (never a value: what
 * a function reads goes through its pointer arguments). Any code but ZG_OK
 * leaves a UTF-8 message for zg_last_error().
 *
 *   ZG_OK                    0  done
 *   ZG_ERR_FAILED           -1  an unexpected failure; the message tells which
 *   ZG_ERR_ARGUMENT         -2  a null or stale handle, a null pointer, an
 *                               index or option out of range (nothing touched)
 *   ZG_ERR_LINK             -3  the instrument link failed (open refused,
 *                               write or read failed); zg_link_status gives
 *                               the driver status
 *   ZG_ERR_UNKNOWN_PROPERTY -4  no property has that path
 *   ZG_ERR_BAD_VALUE        -5  the text is no value of the property's kind,
 *                               or the property is read-only
 *   ZG_ERR_REFUSED          -6  the property refused the value; nothing
 *                               changed, and the message gives the range:
 *                               "ChA.Frequency: 250000 refused (range 400 to
 *                               200000 kHz)"
 *   ZG_ERR_FILE             -7  a settings file could not be opened or
 *                               written, or is no settings file
 *   ZG_ERR_TEXT_FORM        -8  a text form could not be read; the message
 *                               names the line
 *   ZG_ERR_RESOURCES        -9  the system refused a resource (a timer)
 *   ZG_ERR_BUFFER          -10  the buffer is too small; *needed tells the size
 *   ZG_ERR_THREAD          -11  called off the thread that owns the generator
 *   ZG_ERR_NOT_SIMULATED   -12  a simulator function on a generator that is
 *                               not simulated (or not on virtual time)
 *   ZG_ERR_BUSY            -13  zg_destroy from inside the generator's own
 *                               event callback
 *   ZG_ERR_UNSUPPORTED     -14  no longer returned (every build has every
 *                              feature); kept so that hosts naming it build
 *
 * Threads. A generator belongs to the thread that created it: only that
 * thread may call the functions that take it (others get ZG_ERR_THREAD and
 * nothing happens), its events are delivered on it, and its tuner's polling
 * timers run on it. Different generators may live on different threads at the
 * same time. zg_last_error keeps one message per thread. Functions without a
 * generator argument may be called from any thread.
 *
 * Strings are UTF-8, file names included. No C++ exception leaves any of these
 * functions, and none of them may be left by a callback through longjmp or an
 * exception.
 */
#ifndef ZUGEN4_H
#define ZUGEN4_H

#include <stddef.h>
#include <stdint.h>

#include "zugen4/ZuExport.h"

#if defined(_WIN32) && !defined(_WIN64)
#define ZUGEN_CALL __stdcall
#define ZUGEN_CALLBACK __stdcall
#else
#define ZUGEN_CALL
#define ZUGEN_CALLBACK
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- results ---- */
enum {
  ZG_OK = 0,
  ZG_ERR_FAILED = -1,
  ZG_ERR_ARGUMENT = -2,
  ZG_ERR_LINK = -3,
  ZG_ERR_UNKNOWN_PROPERTY = -4,
  ZG_ERR_BAD_VALUE = -5,
  ZG_ERR_REFUSED = -6,
  ZG_ERR_FILE = -7,
  ZG_ERR_TEXT_FORM = -8,
  ZG_ERR_RESOURCES = -9,
  ZG_ERR_BUFFER = -10,
  ZG_ERR_THREAD = -11,
  ZG_ERR_NOT_SIMULATED = -12,
  ZG_ERR_BUSY = -13,
  ZG_ERR_UNSUPPORTED = -14
};

/* The calling thread's message of its most recent failed call ("" when its
 * last call succeeded). Valid until the thread's next call of this interface. */
ZUGEN_API const char* ZUGEN_CALL zg_last_error(void);
/* The code's name, "ZG_ERR_REFUSED"; a static string. */
ZUGEN_API const char* ZUGEN_CALL zg_result_name(int result);

/* ---- generators ---- */
typedef struct zg_gen zg_gen;

enum {
  /* The process-wide platform: the bridge driver, the system clock and the
   * thread's timers, unless a C++ host replaced them. */
  ZG_SYSTEM = 0,
  /* A simulated instrument of its own, on virtual time: the 20 ms wait after
   * each command costs nothing, and polling timers run in zg_sim_advance. */
  ZG_SIMULATED = 1,
  /* A simulated instrument on the system clock and timers: the host's own
   * polling loop (zg_process_messages) drives it as it would the real one. */
  ZG_SIMULATED_REALTIME = 2
};

/* Creates a generator: closed, every value at its default, and every accepted
 * change sent to the instrument while it is active. device is the index of
 * the bridge device that zg_activate opens (0 = the first one). */
ZUGEN_API int ZUGEN_CALL zg_create(int instrument, int device, zg_gen** gen);
/* Resets the instrument when active, closes it and frees the generator.
 * A null generator is fine. */
ZUGEN_API int ZUGEN_CALL zg_destroy(zg_gen* gen);

/* Opens the device and sends the whole setup. ZG_ERR_LINK when the device
 * cannot be opened (the message names the driver status) or the setup fails. */
ZUGEN_API int ZUGEN_CALL zg_activate(zg_gen* gen);
/* Resets the instrument and closes the device. */
ZUGEN_API int ZUGEN_CALL zg_deactivate(zg_gen* gen);
/* Closes the device without the reset: the instrument keeps its output. */
ZUGEN_API int ZUGEN_CALL zg_detach(zg_gen* gen);
ZUGEN_API int ZUGEN_CALL zg_is_active(zg_gen* gen, int* active);
/* The driver status of the last link operation (0 = FT_OK). */
ZUGEN_API int ZUGEN_CALL zg_link_status(zg_gen* gen, unsigned* status);
/* Runs one update cycle now: the whole setup goes to the instrument. */
ZUGEN_API int ZUGEN_CALL zg_update(zg_gen* gen);

/* ---- properties ---- */
/* Reads. A boolean reads as 0/1 and an enumeration as its value through the
 * numeric forms; the text form is what text forms write (enumerators by full
 * name, "true"/"false"). */
ZUGEN_API int ZUGEN_CALL zg_get_double(zg_gen* gen, const char* path, double* value);
ZUGEN_API int ZUGEN_CALL zg_get_int(zg_gen* gen, const char* path, int64_t* value);
ZUGEN_API int ZUGEN_CALL zg_get_bool(zg_gen* gen, const char* path, int* value);
/* Copies the text with its terminating zero into buf; *needed (may be null)
 * gets the size that takes, also when it does not fit (ZG_ERR_BUFFER). */
ZUGEN_API int ZUGEN_CALL zg_get_text(zg_gen* gen, const char* path, char* buf, size_t size, size_t* needed);

/* Writes through the property's own setter, with its events and the update it
 * asks for. A refused value changes nothing and returns ZG_ERR_REFUSED. Text
 * takes numbers in the property's unit, enumerators by full or short name and
 * "true"/"false"/"1"/"0". */
ZUGEN_API int ZUGEN_CALL zg_set_double(zg_gen* gen, const char* path, double value);
ZUGEN_API int ZUGEN_CALL zg_set_int(zg_gen* gen, const char* path, int64_t value);
ZUGEN_API int ZUGEN_CALL zg_set_bool(zg_gen* gen, const char* path, int value);
ZUGEN_API int ZUGEN_CALL zg_set_text(zg_gen* gen, const char* path, const char* text);
/* Sets count values in the order given, then sends one update. All or
 * nothing: on the first unknown path, bad text or refused value everything is
 * put back, nothing is sent, and the message names the assignment. */
ZUGEN_API int ZUGEN_CALL zg_set_many(zg_gen* gen, const char* const* paths, const char* const* texts, size_t count);

enum { ZG_KIND_DOUBLE = 0, ZG_KIND_INT = 1, ZG_KIND_BOOL = 2, ZG_KIND_ENUM = 3 };

typedef struct zg_prop_info {
  const char* path; /* "ChB.IntModulation.Fm" */
  int kind;         /* ZG_KIND_... */
  const char* unit; /* "kHz", "Hz", "%", ... or "" */
  int has_range;    /* min and max apply */
  double min;       /* the range the setter enforces, in unit */
  double max;
  const char* range_text;  /* "400 to 200000 kHz", or "" */
  size_t enumerator_count; /* see zg_prop_enumerator */
  int read_only;
  int stored;              /* part of the settings file */
  const char* description; /* one line */
} zg_prop_info;

/* How many properties there are; also takes a fresh copy of their
 * descriptions (ranges can depend on other values) for zg_prop_at. */
ZUGEN_API int ZUGEN_CALL zg_prop_count(zg_gen* gen, size_t* count);
/* The index-th property, in settings-record order. The strings stay valid
 * until the next zg_prop_count or zg_prop_find on this generator. */
ZUGEN_API int ZUGEN_CALL zg_prop_at(zg_gen* gen, size_t index, zg_prop_info* info);
/* One property by path, described as it stands now. */
ZUGEN_API int ZUGEN_CALL zg_prop_find(zg_gen* gen, const char* path, zg_prop_info* info);
/* The index-th enumerator of an enumeration: its value, full name
 * ("ZGMdC_IntModulation") and short name ("IntModulation"); the strings live
 * as those of zg_prop_at. Any of the pointers may be null. */
ZUGEN_API int ZUGEN_CALL zg_prop_enumerator(zg_gen* gen, const char* path, size_t index, int* value, const char** name,
                                            const char** short_name);

/* ---- settings ---- */
/* The settings file: the whole setup as a fixed binary record. zg_load sends
 * the setup once at the end; a file that is no settings file, one cut short,
 * a pipe or a device changes nothing (ZG_ERR_FILE). zg_last_error names the
 * file and the reason ("... setup.zg4: No such file or directory"). */
ZUGEN_API int ZUGEN_CALL zg_save(zg_gen* gen, const char* file_name);
ZUGEN_API int ZUGEN_CALL zg_load(zg_gen* gen, const char* file_name);
/* Text forms: the setup as readable "path = value" text under a name. */
ZUGEN_API int ZUGEN_CALL zg_write_text_form(zg_gen* gen, const char* name, char* buf, size_t size, size_t* needed);
ZUGEN_API int ZUGEN_CALL zg_read_text_form(zg_gen* gen, const char* text);

/* ---- events ---- */
/* One bit per event of the generator. */
enum {
  ZG_EVENT_FT_ERROR = 0x001,            /* OnFTError: a link operation failed */
  ZG_EVENT_PARAM_VALUE_ERROR = 0x002,   /* OnParamValueError: channel, param, value */
  ZG_EVENT_ADC_TIMER = 0x004,           /* OnADCTimer: channel, value = the reading */
  ZG_EVENT_AFTER_UPDATE = 0x008,        /* AfterUpdate */
  ZG_EVENT_CH_MODE_CHANGE = 0x010,      /* OnChModeChange: channel, flag */
  ZG_EVENT_CHANGE_ACTIVE_STATE = 0x020, /* OnChangeActiveState: flag = active */
  ZG_EVENT_GEN_RESPONSE_WAIT = 0x040,   /* OnGenResponseWait: called over and
                                           over during each 20 ms wait */
  ZG_EVENT_ERROR_FILE = 0x080,          /* OnErrorFile: not a settings file */
  ZG_EVENT_OVER_MODULATION = 0x100,     /* OnOverModulation: channel, value */
  ZG_EVENT_ALL = 0x1BF                  /* all but the response wait */
};

typedef struct zg_event {
  int kind;     /* one ZG_EVENT_ bit */
  int channel;  /* 0 = A, 1 = B, -1 = none */
  int param;    /* OnParamValueError: the parameter (2 frequency, 3 phase,
                   11 sweep time, 24 keying time) */
  double value; /* the refused value, the ADC reading, the amplitude */
  int flag;     /* OnChModeChange's flag; the active state */
} zg_event;

typedef void(ZUGEN_CALLBACK* zg_event_fn)(zg_gen* gen, const zg_event* event, void* user);

/* Delivers the events in mask to fn with user, on the owner thread, while the
 * call that raised them runs (or while the polling timers run). A callback
 * may call this interface, except zg_destroy of its own generator. A null fn
 * stops delivery. */
ZUGEN_API int ZUGEN_CALL zg_set_event_handler(zg_gen* gen, unsigned mask, zg_event_fn fn, void* user);

/* ---- tuner polling on the system timers ----
 * The tuner's ADC polls run on the owner thread only while it hands control
 * to its timer queue. On Windows the thread's message loop does that. */
/* Runs the calling thread's timers that are due; *ran (may be null) gets how
 * many ran. A poll that failed on the link returns ZG_ERR_LINK. */
ZUGEN_API int ZUGEN_CALL zg_process_messages(int* ran);
/* Waits until a timer is due or timeout_ms passed (negative: no limit, but
 * returns at once when no timer could fall due); *due gets 1 or 0. */
ZUGEN_API int ZUGEN_CALL zg_wait_messages(int timeout_ms, int* due);
/* A descriptor that is readable while a timer of the calling thread is due,
 * for poll/select; -1 where there is none (Windows). */
ZUGEN_API int ZUGEN_CALL zg_messages_fd(void);

/* ---- the simulated instrument ---- */
enum { ZG_TRACE_OPEN = 0, ZG_TRACE_CLOSE = 1, ZG_TRACE_FRAME = 2, ZG_TRACE_BLOCK = 3, ZG_TRACE_READ = 4 };

typedef struct zg_trace_entry {
  int kind;             /* ZG_TRACE_... */
  uint64_t time_ms;     /* virtual time of the driver call */
  const uint8_t* bytes; /* what was written or read */
  size_t count;
  unsigned status;  /* what the driver answered */
  const char* line; /* readable: "A freq 10737418 (1000.000 kHz)" */
} zg_trace_entry;

/* How many driver calls the trace holds; takes a copy of it for
 * zg_sim_trace_at, whose pointers stay valid until the next zg_sim_trace_count
 * on this generator. */
ZUGEN_API int ZUGEN_CALL zg_sim_trace_count(zg_gen* gen, size_t* count);
ZUGEN_API int ZUGEN_CALL zg_sim_trace_at(zg_gen* gen, size_t index, zg_trace_entry* entry);
ZUGEN_API int ZUGEN_CALL zg_sim_clear_trace(zg_gen* gen);
/* The protocol faults the instrument saw, one per line ("" when none). */
ZUGEN_API int ZUGEN_CALL zg_sim_violations(zg_gen* gen, char* buf, size_t size, size_t* needed);
/* What the ADC read answers. */
ZUGEN_API int ZUGEN_CALL zg_sim_set_adc(zg_gen* gen, uint32_t value);
/* Faults: every open answers status (0 lifts it); the nth write or read
 * from now (1 = the next) answers status, or with short_count >= 0 reports
 * success with only that many bytes. */
ZUGEN_API int ZUGEN_CALL zg_sim_fail_open(zg_gen* gen, unsigned status);
ZUGEN_API int ZUGEN_CALL zg_sim_fail_write(zg_gen* gen, unsigned nth, unsigned status, int short_count);
ZUGEN_API int ZUGEN_CALL zg_sim_fail_read(zg_gen* gen, unsigned nth, unsigned status, int short_count);
/* The instrument goes away (every write and read fails) or comes back; as a
 * new device the old handle is stale and it must be opened again. */
ZUGEN_API int ZUGEN_CALL zg_sim_unplug(zg_gen* gen);
ZUGEN_API int ZUGEN_CALL zg_sim_replug(zg_gen* gen, int as_new_device);
ZUGEN_API int ZUGEN_CALL zg_sim_clear_faults(zg_gen* gen);
/* Virtual time (ZG_SIMULATED only): moves it by ms, running the polling
 * timers that fall due on the way; *ran (may be null) gets how many ran. */
ZUGEN_API int ZUGEN_CALL zg_sim_advance(zg_gen* gen, uint64_t ms, int* ran);
ZUGEN_API int ZUGEN_CALL zg_sim_now(zg_gen* gen, uint64_t* ms);

/* ---- devices ---- */
typedef struct zg_device_info {
  int index;               /* what zg_create's device takes */
  const char* serial;      /* "" when it cannot be read */
  const char* description; /* the product string */
  int busy;                /* held open by another program */
  const char* backend;     /* the driver library: "D2XX" or "libftdi1" */
} zg_device_info;

/* Lists the devices the system's driver sees; *count gets how many (0 is no
 * failure). *problems (may be null) gets why a driver library could not be
 * asked, one line each ("" when none): a missing library, no permission
 * (then the udev rule to install). The list and its strings belong to the
 * calling thread until its next zg_list_devices. */
ZUGEN_API int ZUGEN_CALL zg_list_devices(size_t* count, const char** problems);
/* The index-th device of the calling thread's last zg_list_devices. */
ZUGEN_API int ZUGEN_CALL zg_device_at(size_t index, zg_device_info* info);
/* As zg_create(ZG_SYSTEM, ...), for the device with this serial number: the
 * serial number is looked up each time zg_activate opens the device, so the
 * instrument is found on whatever port it is plugged into. */
ZUGEN_API int ZUGEN_CALL zg_create_serial(const char* serial, zg_gen** gen);

/* --- plans: what an update sends, worked out before its first frame --- */

/* As zg_set_many, with flags: ZG_SET_FORCE enters a mode even when its
 * engine holds a value outside its own range (a sweep whose times were never
 * set), which is refused (ZG_ERR_REFUSED) otherwise. Values that cannot all
 * be kept (two modes the mode rules exclude, a path given twice) and a setup
 * no engine can send are refused with nothing changed and nothing sent. */
enum { ZG_SET_FORCE = 1 };
ZUGEN_API int ZUGEN_CALL zg_set_many_flags(zg_gen* gen, const char* const* paths, const char* const* texts,
                                           size_t count, unsigned flags);
/* What setting `assignments` would send, as text: one "PATH=VALUE" per line
 * (or separated by ';'); NULL or "" for the present setup. The plan comes one
 * step a line (time, bytes, meaning), then the total time; nothing is sent
 * and nothing changes. Refusals as zg_set_many. */
ZUGEN_API int ZUGEN_CALL zg_preview(zg_gen* gen, const char* assignments, char* buf, size_t size, size_t* needed);
/* The table the engine at `path` ("ChA.IntModulation", "ChB.DDSMod")
 * downloads, as CSV: a first line "# QUANTITY in UNIT, step S s, DIVIDER",
 * then "index,code,value" a reading. ZG_ERR_BAD_VALUE when the engine plays
 * no table as it is set, the message saying why. */
ZUGEN_API int ZUGEN_CALL zg_table(zg_gen* gen, const char* path, char* buf, size_t size, size_t* needed);
/* Appends every update sent from now on to the recording file_name (the
 * format zugen4 replay reads); NULL stops recording. */
ZUGEN_API int ZUGEN_CALL zg_record(zg_gen* gen, const char* file_name);

/* The library's version, "0.3.0" (ZUGEN_VERSION_STRING of zugen4/Version.h
 * at build time); a static string. */
ZUGEN_API const char* ZUGEN_CALL zg_version(void);

#ifdef __cplusplus
}
#endif

#endif
