// The generator component: the USB command link, the update cycle, the value
// conversions and the reference clock. It owns both channels and the options.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "zugen4/ZuChannel.h"
#include "zugen4/ZuFileError.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/ZuPlan.h"
#include "zugen4/ZuTypes.h"
#include "zugen4/extend/ZuLink.h"

namespace Zu {

// An engine that downloads no table in the state asked about; what() says why.
class ZUGEN_API ENoTable : public Exception {
 public:
  ENoTable(const std::string& path, const std::string& why);
  ~ENoTable() override;
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Single-threaded by contract: a generator, its channels and engines are used
// from one thread at a time, the one its timers were started on (the timers
// call back there). The flat C interface serialises calls from many threads.
class ZUGEN_API TZuGen4 : public TComponent, public TZuGen4ChannelHost {
 public:
  static constexpr double REFFREQ_DEF = 25.0;
  static constexpr int FREQSCALE_DEF = 16;
  // The reference multiplier's range: larger values are cut to the top, and
  // smaller ones raised to the bottom so the system clock never becomes zero.
  static constexpr int FREQSCALE_MIN = 4;
  static constexpr int FREQSCALE_MAX = 20;
  // How long the instrument needs after each command.
  static constexpr uint32_t CMD_WAIT_MS = TZuGen4Link::CMD_WAIT_MS;

  // The settings file's signature and version. Files of every version from
  // 1 on are read; a version's record is the one before it with the parts of
  // the engines that came with it (TZuGen4Engine::RecordSince).
  static constexpr char FIOMetrics[5] = "ZuG4";
  static constexpr int FIOMetricsVer = 1;
  static constexpr const char* MSG_FILE_OPEN_ERROR = "Ошибка при открытии файла";
  static constexpr const char* MSG_FILE_WRITE_ERROR = "Ошибка при записи файла";

  static constexpr const char* MSG_CMD_WRITE_ERROR = TZuGen4Link::MSG_CMD_WRITE_ERROR;
  static constexpr const char* MSG_DATA_WRITE_ERROR = TZuGen4Link::MSG_DATA_WRITE_ERROR;
  static constexpr const char* MSG_DATA_READ_ERROR = TZuGen4Link::MSG_DATA_READ_ERROR;

  explicit TZuGen4(TComponent* AOwner = nullptr);
  // Resets the instrument and closes the device when it is open; never throws
  // (a failing link has been reported through OnFTError).
  ~TZuGen4() override;

  // Leaves csLoading in place, so a generator read from a stream keeps
  // updating the instrument automatically.
  void Loaded() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  // Platform of this generator (driver, clock, timers); defaults to the
  // process-wide one. Change it only while the generator is inactive.
  void SetPlatform(TPlatform platform);
  const TPlatform& Platform() const override { return FPlatform; }

  // --- USB command link ---
  // The link itself; the members below forward to it. Failures raise
  // OnFTError, and OnGenResponseWait runs during the wait after a command.
  TZuGen4Link& Link() override { return FLink; }
  const TZuGen4Link& Link() const { return FLink; }
  // Which USB device activation opens: 0, the first, by default. A change
  // takes effect at the next activation.
  void SetDevice(int index) { FLink.SetDevice(index); }
  int Device() const { return FLink.Device(); }
  bool OpenFTPort() { return FLink.Open(); }
  bool CloseFTPort() { return FLink.Close(); }
  bool WriteCmdFTPort(TZuGen4Cmd frame) { return FLink.WriteCmd(frame); }
  bool WriteBytesToFTPort(const unsigned char* buffer, unsigned int count) { return FLink.WriteBytes(buffer, count); }
  unsigned int ReadBytesFromFTPort(unsigned char* buffer, unsigned int count) { return FLink.ReadBytes(buffer, count); }

  // --- published properties ---
  // True while the link is open (and not on its way to closing).
  bool GetActive() const { return Active(); }
  bool Active() const override { return FLink.IsOpen() && !FClosing; }
  void SetActive(bool value);
  // Lets go of the instrument without the reset that SetActive(false) sends:
  // the instrument keeps running what it was given, and another program (or
  // this generator, activated again) can take over. Tuner polling stops, the
  // link closes, Active becomes false and OnChangeActiveState fires. A close
  // the driver refuses is reported through OnFTError; the handle is let go
  // all the same. Does nothing while inactive.
  void Detach();
  FT_STATUS Status() const { return FLink.Status(); }
  // A readable account of the last link failure (see TZuGen4Link::LastFailure).
  std::string LastLinkFailure() const { return FLink.LastFailure(); }
  TZuGen4ChannelA* ChA() const override { return FChA.get(); }
  TZuGen4ChannelB* ChB() const override { return FChB.get(); }
  TZuGen4Options* Options() const override { return FOptions.get(); }
  bool AutoUpdate() const { return FAutoUpdate; }
  void SetAutoUpdate(bool value);
  bool UseExtRefFreq() const { return FUseExtRefFreq; }
  void SetUseExtRefFreq(bool value);
  double RefFreq() const { return FRefFreq; }
  // Ignored unless the reference is external; zero, negative and non-finite
  // values are refused and leave the reference as it was.
  void SetRefFreq(double value);
  int FreqScale() const { return FFreqScale; }
  void SetFreqScale(int value);
  // System clock in MHz: FreqScale × RefFreq.
  double GenFreq() const override { return FGenFreq; }

  // --- update cycle ---
  void TryUpdateMode() override;
  void UpdateMode();
  void UpdateDependentTimers();
  void ResetGen();
  void UpdateDDSs(bool value);
  void SetModeIntModulation(TZuGen4Channel* first, TZuGen4Channel* second);
  void SetModeExtModulation(TZuGen4Channel* first, TZuGen4Channel* second);
  void SetModeLFM(TZuGen4Channel* first, TZuGen4Channel* second);
  bool CompareIntModForDuplex() const;

  // --- planning ---
  // Every update is planned whole, then sent: UpdateMode first plans the
  // present setup on a copy (so a setup no engine can send raises its
  // engine's exception before anything changes or goes out), then lets the
  // engines write their frames into a plan and sends it.
  //
  // The update the present setup asks for, planned on a copy of it: nothing
  // is sent, nothing changes, no event fires, active or not. Each step has
  // its meaning in realised values; each table it downloads is described.
  // EUnsendableSetup (an ERefusedValue) names the channel, the engine, the
  // value and why when an engine cannot send the setup.
  TZuGen4Plan PlanUpdate() const;
  // The table the engine at `path` ("ChA.IntModulation") downloads when its
  // channel enters the engine's mode with the present values (the other
  // channel switched off where the mode rules ask for it), planned on a copy.
  // EUnknownProperty for a path that is no engine, ENoTable when the engine
  // plays no table as it is set, EUnsendableSetup as PlanUpdate.
  TZuGen4PlanTable PlanTable(std::string_view path) const;
  // Sends a plan as the update cycle does (the link's Send), telling
  // OnPlanSent how it ended.
  void SendPlan(const TZuGen4Plan& plan);
  // Called after each plan sent, failed ones included (before their
  // exception leaves): recording hooks in here. Not an event of the
  // component's: a host's recorder, which must not throw.
  std::function<void(const TZuGen4Plan&, const TZuGen4SendOutcome&)> OnPlanSent;

  // The last mode set through a channel's SetMode, refused ones included:
  // what it did to the other channel and, in words, the rule that decided.
  const TZuGen4ModeChange& LastModeChange() const { return FLastModeChange; }
  void NoteModeChange(const TZuGen4ModeChange& change) override { FLastModeChange = change; }
  TZuGen4* HostGenerator() const override { return const_cast<TZuGen4*>(this); }

  // --- reference clock ---
  void CalcGenFreq();
  void WriteExtFreqScale();

  // --- conversions ---
  static double Conv_CodeToAmpl(const double code);
  static double Conv_CodeToPhase(const double code);
  static double Conv_AmplTodB(const double ampl);
  static double Conv_AdBToAmpl(const double dB);
  static int Conv_AmplToCode(double ampl);
  static int Conv_PhaseToCode(double phase);
  static double Conv_Value(double value, const double num, const double den);
  static double Conv_Value(double value, const double num, const double den, const signed char digit);
  uint32_t Conv_FreqToCode(double freq) const;
  // The frequency register's code for freq Hz, held within the register: a
  // frequency beyond what the system clock can produce (a low external
  // reference) gives the top code, never the low 32 bits of a larger one.
  uint32_t FreqToRegister(double freq) const;
  // True when the system clock can produce freq Hz: its code fits 32 bits.
  bool FreqFitsClock(double freq) const;
  // The amplitude code as the register takes it, 0 to 16383: the smallest
  // amplitudes convert to -1, which sent as 16 bits would read as full scale.
  static uint32_t AmplToRegister(double ampl);
  double Conv_CodeToFreq(const double code) const;

  // --- settings file ---
  // Writes the whole setup. The new file replaces the old one only once it
  // is complete on the disk: EInOutError when the file cannot be created, or
  // could not be written completely, and the old file is then unchanged. A
  // symbolic link keeps pointing at the file, which keeps its permissions.
  void SaveToFile(const std::string& FileName);
  // Reads it back. EInOutError when the file cannot be opened; a wrong
  // signature or version raises OnErrorFile and changes nothing.
  void LoadFromFile(const std::string& FileName);
  // The same with a UTF-8 file name. On Windows the two above take the ANSI
  // code page, as the system's narrow file functions do; elsewhere all four
  // take the name's bytes as they are.
  void SaveToFileUtf8(const std::string& FileName);
  void LoadFromFileUtf8(const std::string& FileName);
  // Reads the header from the open stream: true when it is wrong (no
  // signature, or a version this library does not know).
  bool CheckIOMetrics();
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream);
  // Gives `to` this generator's whole setup through an in-memory settings
  // record, the one complete and exact picture of a generator.
  void CopySetupTo(TZuGen4& to) const;
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream);

  // --- events ---
  // OnParamValueError, OnADCTimer, OnChModeChange and OnOverModulation come
  // from TZuGen4ChannelHost: the channels and engines raise them.
  TNotifyEvent OnFTError;
  TNotifyEvent AfterUpdate;
  TNotifyEvent OnChangeActiveState;
  TNotifyEvent OnGenResponseWait;
  TNotifyEvent OnErrorFile;

 private:
  void SaveTo(const std::string& FileName, TFileNameEncoding encoding);
  void LoadFrom(const std::string& FileName, TFileNameEncoding encoding);
  void Fire(const TNotifyEvent& event) {
    if (event) event(this);
  }
  void Deactivate();
  // What an update sends after the reset check: the sine channels, then each
  // engine's modes in entry order. Writes through the link, which captures.
  void EnterModes();
  // An engine's refusal met while planning.
  struct TPlanRefusal {
    std::exception_ptr Error;
    std::string Path, Value, Why;
  };
  // Plans on a copy of the setup (prepare may change the copy first). False,
  // with the refusal, when an engine raised Exception.
  bool PlanOnCopy(TZuGen4Plan& plan, TPlanRefusal& refusal,
                  const std::function<void(TZuGen4&)>& prepare = nullptr) const;
  // The engines being entered, for telling who refused.
  TZuGen4Engine* FEnteringA = nullptr;
  TZuGen4Engine* FEnteringB = nullptr;
  // Raises an event while a link failure is on its way out: a handler that
  // throws must not replace the failure the caller is to see.
  void FireKeepingFailure(const TNotifyEvent& event) noexcept {
    try {
      Fire(event);
    } catch (...) {
    }
  }

  TZuGen4ModeChange FLastModeChange;
  TPlatform FPlatform;
  TZuGen4Link FLink;
  // Set while deactivating: the tuners see the generator inactive while the
  // link still sends the reset.
  bool FClosing = false;
  std::unique_ptr<TZuGen4ChannelA> FChA;
  std::unique_ptr<TZuGen4ChannelB> FChB;
  std::unique_ptr<TZuGen4Options> FOptions;
  double FRefFreq = REFFREQ_DEF;
  int FFreqScale = FREQSCALE_DEF;
  double FGenFreq = 0.0;
  std::unique_ptr<TZuGen4FileStream> FStream;
  bool FAutoUpdate = true;
  bool FUseExtRefFreq = false;
};

}  // namespace Zu
