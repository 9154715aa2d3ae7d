// A C++ host on Windows, built with the library's toolchain against its
// static library: it catches the library's exceptions, and takes tuner
// readings through its own message loop from the driver library found beside
// it (the stand-in answers the ADC with the value set here).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "zugen4/Zugen4.hpp"

namespace {

int failures = 0;

void Expect(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  if (!ok) ++failures;
}

void CatchesTheLibrarysExceptions() {
  Zu::TZuGen4 gen;
  try {
    gen.SaveToFile("C:\\no such directory\\setup.zg4");
    Expect(false, "saving into a missing directory throws Zu::EInOutError");
  } catch (const Zu::EInOutError& e) {
    std::printf("caught Zu::EInOutError: %s\n", e.what());
    Expect(true, "saving into a missing directory throws Zu::EInOutError");
  }
}

void PollsTheTunerFromTheMessageLoop() {
  using TSetADCValue = void (*)(uint32_t);
  HMODULE driver = LoadLibraryA("FTD2XX.dll");
  const FARPROC proc = driver ? GetProcAddress(driver, MAKEINTRESOURCEA(102)) : nullptr;
  if (!proc) return Expect(false, "the stand-in driver library is beside this program");
  const auto setADCValue = reinterpret_cast<TSetADCValue>(reinterpret_cast<void (*)()>(proc));

  Zu::TZuGen4 gen;
  gen.IncludeState(Zu::csLoading);
  Zu::TZuGen4Channel* a = gen.ChA();
  a->SetMode(Zu::ZGMdC_tuning);
  a->Tuner()->SetADCTimerInterval(50);
  a->Tuner()->SetADCTimerEnabled(true);
  std::vector<uint32_t> readings;
  gen.OnADCTimer = [&](Zu::TZuGen4Channel* ch) {
    readings.push_back(ch->Tuner()->ADCValue());
    setADCValue(0x01020304u * static_cast<uint32_t>(readings.size() + 1));
    if (readings.size() == 3) PostQuitMessage(0);
  };
  setADCValue(0x01020304u);
  gen.SetActive(true);
  Expect(gen.GetActive(), "opened the stand-in instrument");
  // A thread timer of our own ends the loop if the readings never come.
  const UINT_PTR watchdog = SetTimer(nullptr, 0, 10000, nullptr);
  MSG msg;
  bool timedOut = false;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == watchdog) {
      timedOut = true;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, watchdog);
  for (const uint32_t r : readings) std::printf("ADC reading %08X\n", static_cast<unsigned>(r));
  Expect(!timedOut && readings == std::vector<uint32_t>{0x01020304u, 0x02040608u, 0x0306090Cu},
         "three tuner readings arrived through GetMessage/DispatchMessage");
  gen.SetActive(false);
  FreeLibrary(driver);
}

}  // namespace

int main() {
  CatchesTheLibrarysExceptions();
  PollsTheTunerFromTheMessageLoop();
  std::printf(failures ? "%d FAILED\n" : "all passed\n", failures);
  return failures ? 1 : 0;
}
