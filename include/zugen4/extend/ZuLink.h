// The command link: the road to the instrument through the USB bridge
// driver. It holds the handle and the driver's last status, sends command
// frames (each followed by the instrument's settle time), data blocks and the
// one read the instrument answers. A failure is reported first (OnFailure),
// then raised as Zu::Exception; opening and closing only report. The
// generator owns one; engines reach the wire through it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "zugen4/Classes.h"
#include "zugen4/ZuPlan.h"
#include "zugen4/extend/Platform.h"
#include "zugen4/extend/ZuCommands.h"

namespace Zu {

class ZUGEN_API TZuGen4Link {
 public:
  // How long the instrument needs after each command.
  static constexpr uint32_t CMD_WAIT_MS = 20;
  static constexpr const char* MSG_CMD_WRITE_ERROR = "Ошибка при записи команды в FTPort";
  static constexpr const char* MSG_DATA_WRITE_ERROR = "Ошибка при записи данных в FTPort";
  static constexpr const char* MSG_DATA_READ_ERROR = "Ошибка при чтении данных из FTPort";

  TZuGen4Link() = default;
  TZuGen4Link(const TZuGen4Link&) = delete;
  TZuGen4Link& operator=(const TZuGen4Link&) = delete;

  // The driver and clock to use; change them only while the link is closed.
  void SetPlatform(const TPlatform& platform);

  // Which of the driver's devices Open takes (0, the first, by default);
  // a change takes effect at the next Open.
  void SetDevice(int index) { FDevice = index; }
  int Device() const { return FDevice; }
  // Opens the chosen device. On failure reports and returns false.
  bool Open();
  // Closes the handle. On failure reports and returns false; the link then
  // stays open (the handle may still be good).
  bool Close();
  // Lets go of the handle without asking the driver (it no longer answers).
  void Forget();
  bool IsOpen() const { return FOpen; }
  FT_HANDLE Handle() const { return FHandle; }
  // The driver's last result, its low byte.
  uint8_t Status() const { return FStatus; }
  // A readable account of the last failure: what was attempted, the driver's
  // status by name, and the loader's message when the driver library could
  // not be loaded. Empty until something failed; kept until the next failure.
  const std::string& LastFailure() const { return FLastFailure; }

  // Each returns false (nothing sent, no wait) while the link is closed, and
  // reports, then throws Zu::Exception when the driver fails or moves fewer
  // bytes than asked.
  bool WriteCmd(const TZuGen4Cmd& frame);
  bool WriteBytes(const unsigned char* buffer, unsigned int count);
  // Returns the count read (0 while closed).
  unsigned int ReadBytes(unsigned char* buffer, unsigned int count);

  // While a plan is given, frames and blocks go into it instead of to the
  // driver, whether the link is open or not, and reads read nothing: an
  // update writes its plan this way. Returns the plan captured before, so
  // that captures nest (pass it back to end this one).
  TZuGen4Plan* Capture(TZuGen4Plan* plan) {
    TZuGen4Plan* was = FCapture;
    FCapture = plan;
    return was;
  }
  bool Capturing() const { return FCapture != nullptr; }
  // Sends a plan's steps in order, each command followed by the wait. While
  // the link is closed nothing is sent and the result is false. A failure is
  // reported and raised as WriteCmd and WriteBytes do; `outcome` (when
  // given) says which step failed and how, before the exception leaves.
  bool Send(const TZuGen4Plan& plan, TZuGen4SendOutcome* outcome = nullptr);
  // Bytes the instrument still awaits from an exchange a failure cut short
  // (a block announced, then not sent). The next frame first sends as many
  // filler bytes, so that the instrument reads it as a frame again.
  uint32_t Owed() const { return FOwed; }

  // The owner's events, looked up at each use, so the host may assign them
  // at any time: onFailure is raised on every failure, before the exception
  // (or the false result of Open/Close), and may throw, the link's own state
  // being consistent by then. onWait, while assigned, is called repeatedly
  // during the wait after a command instead of sleeping.
  void BindEvents(TObject* sender, const TNotifyEvent* onFailure, const TNotifyEvent* onWait);

 private:
  void WaitForInstrument();
  // Completes what the instrument awaits (Owed) before a frame goes out.
  void Resync();
  // Keeps the account of a failed attempt and reports it.
  void Fail(std::string attempt, FT_STATUS status, uint32_t moved = 0, uint32_t wanted = 0);
  void Report() {
    if (FOnFailure && *FOnFailure) (*FOnFailure)(FSender);
  }

  TObject* FSender = nullptr;
  const TNotifyEvent* FOnFailure = nullptr;
  const TNotifyEvent* FOnWait = nullptr;
  std::shared_ptr<TFtDriver> FDriver;
  std::shared_ptr<TClock> FClock;
  FT_HANDLE FHandle = nullptr;
  int FDevice = 0;
  uint8_t FStatus = 0;
  std::string FLastFailure;
  bool FOpen = false;
  TZuGen4Plan* FCapture = nullptr;
  uint32_t FOwed = 0;
};

}  // namespace Zu
