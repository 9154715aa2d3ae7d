// What a `zugen4` subcommand works with: the options of the command line, the
// generator as the state file remembers it, the simulated instrument when
// --sim is given, and the streams to print to.
//
// The instrument cannot be read back and closing the generator would reset
// it, so a command never starts from the library's defaults: the context
// loads the setup last sent to the device (the state file), opens the link
// only when the command needs the instrument, and after a change sends one
// update and saves the setup again. At the end the link is let go without the
// reset, so the instrument keeps running.
//
// A command that may change the setup holds an exclusive lock on the state
// file (flock on "STATE.lock" beside it, which holds the holder's pid) from
// loading to the end, so that two commands never interleave their
// read-modify-write; `serve` and the shell hold it while they run. Meanwhile
// another such command fails naming the process that holds it, or waits with
// --wait. A command that only looks (get, show, ...) takes no lock: a save
// replaces the file in one step, so it always reads one whole setup.
//
// A subcommand from another directory (tools/serve/) registers itself in
// tools/Tool.cpp, in kExtensionCommands (one line), and adds its sources to
// the zugen_tool library from its own CMakeLists.txt (target_sources).
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "zugen4/ZuRecording.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace Zu::Tool {

// A failure the tool reports with its own exit code.
class EToolError : public Exception {
 public:
  EToolError(int code, const std::string& message) : Exception(message), FCode(code) {}
  int Code() const { return FCode; }

 private:
  int FCode;
};

// Exit codes of the tool (also listed by `zugen4 --help`).
enum TExitCode : int {
  ExitOk = 0,
  ExitFailure = 1,    // anything else that went wrong
  ExitUsage = 2,      // unknown command or option, missing or malformed argument
  ExitRefused = 3,    // unknown property, malformed value, value refused by its setter
  ExitFile = 4,       // a file could not be read or written, or is no settings file / text form
  ExitNoDevice = 5,   // no instrument, no driver library, or the device is busy
  ExitLinkFailed = 6  // the link failed while talking to the instrument
};

struct TToolOptions {
  bool Sim = false;          // the simulated instrument instead of a USB device
  int Device = 0;            // which USB device
  std::string Serial;        // when set, the USB device with this serial number (Device is then unused)
  bool Trace = false;        // print every frame and block as it is sent
  std::string StateFile;     // empty: the default one for the device (see DefaultStatePath)
  bool Wait = false;         // wait for the state file's lock instead of failing
  std::string Record;        // append every plan sent to this file (ZuRecording.h)
  bool DeviceGiven = false;  // --device was given (replay then sends to the instrument)
};

// $XDG_STATE_HOME/zugen4/ or ~/.local/state/zugen4/, then "sim.zg4",
// "serial-<SERIAL>.zg4" for a device chosen by serial number (the setup
// follows the instrument from port to port), or "device<N>.zg4".
std::string DefaultStatePath(const TToolOptions& options);

class TToolContext {
 public:
  // The options are filled in while the command line is parsed; nothing is
  // loaded or opened before a command asks for it.
  TToolContext(std::ostream& out, std::ostream& err);
  // Lets go of the instrument without resetting it.
  ~TToolContext();
  TToolContext(const TToolContext&) = delete;
  TToolContext& operator=(const TToolContext&) = delete;

  TToolOptions& Options() { return FOptions; }
  std::ostream& Out() { return FOut; }
  std::ostream& Err() { return FErr; }

  // The generator with the remembered setup (the state file when there is
  // one, the defaults otherwise), the state file locked for this context's
  // lifetime. Its automatic update is off: nothing is sent until Commit. The
  // link is not open yet.
  TZuGen4& Generator();
  // The remembered setup for a command that does not change it: no lock. A
  // later Generator() reads the state again under the lock.
  TZuGen4& View();
  // The same generator with the link open. With --sim the simulated
  // instrument is first brought to the remembered setup (unseen, untraced),
  // so that separate invocations behave like one session. Throws
  // Zu::Exception with a readable message when there is no instrument.
  TZuGen4& Device();
  bool DeviceOpen() const { return FGen && FGen->Active(); }
  // The link's account of its last failure (what was tried, the driver's own
  // words); empty when there is none.
  std::string LinkFailure() const { return FGen ? FGen->LastLinkFailure() : std::string(); }

  // After the setup changed: one update to the instrument (opening it first),
  // then the setup is saved to the state file.
  void Commit();
  // Saves the setup without sending anything.
  void SaveState();
  const std::string& StatePath() const { return FStatePath; }

  // The simulated instrument; nullptr without --sim.
  Sim::TSimPlatform* Sim() { return FSim.get(); }

  // Mode changes of one channel forced by a mode set on the other one, as
  // readable lines, collected since the last call.
  std::vector<std::string> TakeForcedModes();

 private:
  class TToolDriver;
  TZuGen4& Load();
  void Lock();

  TToolOptions FOptions;
  std::ostream& FOut;
  std::ostream& FErr;
  std::string FStatePath;
  std::unique_ptr<Sim::TSimPlatform> FSim;
  std::shared_ptr<TToolDriver> FDriver;
  std::unique_ptr<TZuGen4> FGen;
  // Attached once the link is open (after --sim's unseen catch-up).
  void StartRecording();
  std::unique_ptr<TZuGen4Recorder> FRecorder;  // before FGen goes, it goes
  std::vector<std::string> FForced;
  int FLockFd = -1;  // the state file's lock, held once taken
};

// A subcommand added from another directory: called once while the command
// line is being set up; it adds its CLI11 subcommand to `app` and runs later
// with the context (see kExtensionCommands in tools/Tool.cpp).
using TRegisterCommand = void (*)(CLI::App& app, TToolContext& ctx);

}  // namespace Zu::Tool
