// What the handle C interface keeps for one generator, and the one barrier
// every C entry point goes through. The flat interface's thirteen functions
// work on a default handle through the same pieces.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "flat/FlatGuard.h"
#include "zugen4/ZuRecording.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"
#include "zugen4/zugen4.h"

struct zg_gen {
  std::unique_ptr<Zu::TZuGen4> Gen;
  // Set when the generator talks to a simulated instrument of its own; the
  // clock and timers only when that instrument runs on virtual time.
  std::shared_ptr<Zu::Sim::TSimDriver> SimDriver;
  std::shared_ptr<Zu::Sim::TVirtualClock> SimClock;
  std::shared_ptr<Zu::Sim::TSimTimers> SimTimers;
  std::thread::id Owner;
  // The flat interface's generator may be called from any thread: that
  // interface serialises its callers itself.
  bool AnyThread = false;

  unsigned Mask = 0;
  zg_event_fn Handler = nullptr;
  void* User = nullptr;
  int InCallback = 0;
  // OnErrorFile fired during the current call: the file was refused without
  // an exception.
  bool FileRefused = false;

  // Copies whose strings the C caller reads (see zg_prop_at, zg_sim_trace_at).
  std::vector<Zu::TPropInfo> Props;
  std::vector<std::string> PropRanges;
  std::vector<Zu::Sim::TTraceEntry> Trace;
  std::vector<std::string> TraceLines;
  // Goes before the generator (declared after it).
  std::unique_ptr<Zu::TZuGen4Recorder> Recorder;
};

namespace Zu::Flat {

// Makes a generator as zg_create does; throws on failure.
// The flat interface's default generator may be called from any thread and
// runs its timers under that interface's lock.
std::unique_ptr<zg_gen> CreateHandle(int instrument, int device, bool flatDefault = false);
// Destroys it (never throws).
void DestroyHandle(std::unique_ptr<zg_gen> gen) noexcept;
// Destroys every generator still alive, as zg_destroy would: for a library
// that is being unloaded while its host still holds handles.
void DestroyAllHandles() noexcept;

// Runs f (returning a result code) and turns whatever it throws into a result
// code and the calling thread's last error. gen may be null.
int Guard(zg_gen* gen, const std::function<int()>& f) noexcept;
// Records a failure found before anything ran.
int Fail(int result, const std::string& message);
// Forgets the calling thread's last error (every call starts with this).
void ClearError();

}  // namespace Zu::Flat
