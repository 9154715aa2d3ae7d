#include "ToolContext.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <thread>

#include "Trace.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/ZuSettingsFile.h"

namespace Zu::Tool {

namespace fs = std::filesystem;

std::string DefaultStatePath(const TToolOptions& options) {
  fs::path dir;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
    dir = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    dir = fs::path(home) / ".local" / "state";
  else
    dir = ".";
  std::string serial = options.Serial;
  for (char& c : serial)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
  const std::string file = options.Sim               ? "sim.zg4"
                           : !options.Serial.empty() ? "serial-" + serial + ".zg4"
                                                     : "device" + std::to_string(options.Device) + ".zg4";
  return (dir / "zugen4" / file).string();
}

// The driver the generator talks through: prints what is sent when tracing
// is on.
class TToolContext::TToolDriver final : public TFtDriverFilter {
 public:
  TToolDriver(std::shared_ptr<TFtDriver> inner, std::shared_ptr<TClock> clock, std::ostream& out)
      : TFtDriverFilter(std::move(inner)), FTracer(std::move(clock), out) {}

  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override {
    const FT_STATUS st = Inner().Write(handle, buf, count, written);
    FTracer.Sent(static_cast<const uint8_t*>(buf), count, st, FTracing);
    return st;
  }
  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override {
    const FT_STATUS st = Inner().Read(handle, buf, wanted, got);
    FTracer.Received(static_cast<const uint8_t*>(buf), *got, st, FTracing);
    return st;
  }
  void SetTracing(bool on) { FTracing = on; }

 private:
  TFrameTracer FTracer;
  bool FTracing = false;
};

TToolContext::TToolContext(std::ostream& out, std::ostream& err) : FOut(out), FErr(err) {}

TToolContext::~TToolContext() {
  try {
    // The instrument keeps the setup it was sent; closing normally would reset it.
    if (FGen && FGen->Active()) FGen->Detach();
  } catch (...) {
    // A link that fails now has nothing left to lose.
  }
  if (FLockFd >= 0) {
    // The holder's pid goes with the lock; the file stays for the next one.
    if (::ftruncate(FLockFd, 0) != 0) {
      // A stale pid only names a process that no longer holds the lock.
    }
    ::close(FLockFd);
  }
}

namespace {

std::string Kind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISSOCK(mode)) return "a socket";
  return "no regular file";
}

// The process named in the lock file; its holder writes it right after
// taking the lock, so an empty file is read again for a moment.
std::string Holder(int fd) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    if (pid > 0) return "process " + std::to_string(pid);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return "another process";
}

}  // namespace

void TToolContext::Lock() {
  const std::string lockPath = FStatePath + ".lock";
  const fs::path parent = fs::path(FStatePath).parent_path();
  std::error_code ec;
  if (!parent.empty()) fs::create_directories(parent, ec);
  // Never through a link planted at the name: the pid is written into it.
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0)
    throw EToolError(ExitFile, "cannot lock the state file " + FStatePath + ": cannot open " + lockPath + ": " +
                                   std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EToolError(ExitFile,
                     "cannot lock the state file " + FStatePath + ": " + lockPath + " is " + Kind(st.st_mode));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error != EWOULDBLOCK) {
      ::close(fd);
      throw EToolError(ExitFile, "cannot lock the state file " + FStatePath + ": " + std::strerror(error));
    }
    const std::string holder = Holder(fd);
    if (!FOptions.Wait) {
      ::close(fd);
      throw EToolError(ExitNoDevice, "the state file " + FStatePath + " is in use by " + holder +
                                         " (a zugen4 command, shell or serve); --wait waits until it is free");
    }
    FErr << "zugen4: waiting for " << holder << ", which holds the state file " << FStatePath << '\n';
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        const int e = errno;
        ::close(fd);
        throw EToolError(ExitFile, "cannot lock the state file " + FStatePath + ": " + std::strerror(e));
      }
    }
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // The lock holds all the same; others then say "another process".
  }
  FLockFd = fd;
}

TZuGen4& TToolContext::View() {
  if (FGen) return *FGen;
  return Load();
}

TZuGen4& TToolContext::Generator() {
  if (FGen && FLockFd >= 0) return *FGen;
  // Looked at without the lock so far (a shell's `get`): read again under it.
  FRecorder.reset();
  FGen.reset();
  FDriver.reset();
  FSim.reset();
  FStatePath = FOptions.StateFile.empty() ? DefaultStatePath(FOptions) : FOptions.StateFile;
  struct stat st {};
  if (::stat(FStatePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    throw EToolError(ExitFile, "the state file " + FStatePath + " is " + Kind(st.st_mode) +
                                   ", not a regular file; name another one with --state");
  if (FLockFd < 0) Lock();
  if (::stat(FStatePath.c_str(), &st) == 0 && ((st.st_mode & 0222) == 0 || ::access(FStatePath.c_str(), W_OK) != 0))
    throw EToolError(ExitFile, "the state file " + FStatePath +
                                   " is read-only and this command would change it; make it writable, or name "
                                   "another one with --state");
  return Load();
}

TZuGen4& TToolContext::Load() {
  FStatePath = FOptions.StateFile.empty() ? DefaultStatePath(FOptions) : FOptions.StateFile;
  TPlatform platform;
  if (FOptions.Sim) {
    FSim = std::make_unique<Sim::TSimPlatform>();
    platform = FSim->Platform();
  } else {
    platform = SystemPlatform();
    platform.Driver = DriverForChoice(platform.Driver, TFtDeviceChoice{FOptions.Device, FOptions.Serial});
  }
  FDriver = std::make_shared<TToolDriver>(platform.Driver, platform.Clock, FOut);
  platform.Driver = FDriver;
  auto gen = std::make_unique<TZuGen4>();
  gen->SetPlatform(platform);
  if (!FOptions.Sim) gen->SetDevice(FOptions.Device);
  // Updates are sent by Commit only, one per command.
  gen->SetAutoUpdate(false);
  gen->OnChModeChange = [this, g = gen.get()](TZuGen4Channel* ch, bool forced) {
    if (!forced) return;
    const char* own = ch->IsChannelA() ? "ChB" : "ChA";
    const char* other = ch->IsChannelA() ? "ChA" : "ChB";
    const TZuGen4ModeChange& change = g->LastModeChange();
    FForced.push_back(std::string(other) + ".Mode became " + GetPropText(*g, std::string(other) + ".Mode") + " when " +
                      own + ".Mode was set to " + GetPropText(*g, std::string(own) + ".Mode") + ": " + change.Rule);
  };
  std::error_code ec;
  if (fs::exists(FStatePath, ec)) {
    // A pipe or device is refused without being opened; a file cut short or
    // of another kind changes nothing.
    try {
      LoadSettingsStrict(*gen, FStatePath);
    } catch (const EFileError& e) {
      throw EToolError(ExitFile, "cannot read the state file " + FStatePath + ": " + e.Reason() +
                                     (e.ErrorNumber() == 0 ? "; remove it to start from the defaults, or name "
                                                             "another one with --state"
                                                           : ""));
    }
  }
  FForced.clear();
  FRecorder.reset();
  FGen = std::move(gen);
  return *FGen;
}

void TToolContext::StartRecording() {
  if (FOptions.Record.empty() || FRecorder) return;
  try {
    FRecorder = std::make_unique<TZuGen4Recorder>(*FGen, FOptions.Record);
  } catch (const EInOutError& e) {
    throw EToolError(ExitFile, e.what());
  }
}

namespace {
std::string OpenFailure(const TToolOptions& options, FT_STATUS status) {
  const std::string dev = options.Serial.empty() ? "USB device " + std::to_string(options.Device)
                                                 : "the USB device with serial number " + options.Serial;
  switch (status) {
    case FT_DEVICE_NOT_FOUND:
      return dev +
             " not found: no instrument is connected at that index, or the driver library (libftd2xx) is "
             "not installed; --sim uses the simulated instrument";
    case FT_DEVICE_NOT_OPENED: return dev + " could not be opened: another program may be using it";
    default: return dev + " could not be opened (driver status " + std::to_string(status) + ")";
  }
}
}  // namespace

TZuGen4& TToolContext::Device() {
  TZuGen4& gen = Generator();
  if (gen.Active()) return gen;
  if (FSim) {
    // A fresh simulated instrument knows nothing of earlier invocations: it
    // gets the remembered setup first, out of sight.
    FDriver->SetTracing(false);
    gen.SetActive(true);
    gen.UpdateMode();
    FSim->Driver->ClearTrace();
    // The recording holds what the user's commands send, not this.
    StartRecording();
  } else {
    StartRecording();
    gen.SetActive(true);
    if (!gen.Active()) {
      std::string why = OpenFailure(FOptions, gen.Status());
      if (const std::string account = gen.LastLinkFailure(); !account.empty()) why += "\n  " + account;
      throw EToolError(ExitNoDevice, why);
    }
  }
  FDriver->SetTracing(FOptions.Trace);
  return gen;
}

void TToolContext::Commit() {
  // A setup no engine can send is refused before the device is touched.
  CheckSendable(Generator());
  TZuGen4& gen = Device();
  gen.UpdateMode();
  SaveState();
}

void TToolContext::SaveState() {
  TZuGen4& gen = Generator();
  const fs::path path(FStatePath);
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  // The library writes a temporary file of its own beside the state and puts
  // it in the state's place in one step: a failed save leaves the old state.
  try {
    gen.SaveToFile(FStatePath);
  } catch (const EFileError& e) {
    throw EToolError(ExitFile, "cannot write the state file " + FStatePath + ": " + e.Reason());
  }
}

std::vector<std::string> TToolContext::TakeForcedModes() {
  std::vector<std::string> out;
  out.swap(FForced);
  return out;
}

}  // namespace Zu::Tool
