#include "ToolContext.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "Trace.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/ZuRegistry.h"

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
  if (!FGen) return;
  try {
    // The instrument keeps the setup it was sent; closing normally would reset it.
    if (FGen->Active()) FGen->Detach();
  } catch (...) {
    // A link that fails now has nothing left to lose.
  }
}

TZuGen4& TToolContext::Generator() {
  if (FGen) return *FGen;
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
    bool wrong = false;
    gen->OnErrorFile = [&wrong](TObject*) { wrong = true; };
    try {
      gen->LoadFromFile(FStatePath);
    } catch (const EInOutError&) {
      throw EToolError(ExitFile, "cannot read the state file " + FStatePath);
    }
    gen->OnErrorFile = nullptr;
    if (wrong)
      throw EToolError(ExitFile, "the state file " + FStatePath +
                                     " is no settings file; remove it to start from the defaults, or name "
                                     "another one with --state");
  }
  FForced.clear();
  FGen = std::move(gen);
  return *FGen;
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
  } else {
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
  TZuGen4& gen = Device();
  gen.UpdateMode();
  SaveState();
}

void TToolContext::SaveState() {
  TZuGen4& gen = Generator();
  const fs::path path(FStatePath);
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  // Written aside and renamed, so that a failed save never leaves half a state.
  const std::string tmp = FStatePath + ".new";
  try {
    gen.SaveToFile(tmp);
  } catch (const EInOutError&) {
    std::remove(tmp.c_str());
    throw EToolError(ExitFile, "cannot write the state file " + FStatePath);
  }
  fs::rename(tmp, path, ec);
  if (ec) {
    std::remove(tmp.c_str());
    throw EToolError(ExitFile, "cannot write the state file " + FStatePath + ": " + ec.message());
  }
}

std::vector<std::string> TToolContext::TakeForcedModes() {
  std::vector<std::string> out;
  out.swap(FForced);
  return out;
}

}  // namespace Zu::Tool
