#include "zugen4/extend/ZuLink.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Zu {

void TZuGen4Link::BindEvents(TObject* sender, const TNotifyEvent* onFailure, const TNotifyEvent* onWait) {
  FSender = sender;
  FOnFailure = onFailure;
  FOnWait = onWait;
}

void TZuGen4Link::SetPlatform(const TPlatform& platform) {
  FDriver = platform.Driver;
  FClock = platform.Clock;
}

void TZuGen4Link::Fail(std::string attempt, FT_STATUS status, uint32_t moved, uint32_t wanted) {
  std::string text = std::move(attempt) + " failed: ";
  if (status == FT_OK) {
    text += "the driver moved " + std::to_string(moved) + " of " + std::to_string(wanted) + " bytes";
  } else {
    text += "the driver answered " + FtStatusName(status) + " (" + std::to_string(status) + ")";
  }
  const std::string load = FDriver->LoadFailure();
  const std::string driver = FDriver->LastFailure();
  if (!load.empty()) {
    text += "; the driver library could not be loaded: " + load;
  } else if (!driver.empty()) {
    text += "; " + driver;  // the driver's own words: no device, busy, no permission
  } else if (status == FT_DEVICE_NOT_FOUND) {
    text += "; the driver is loaded but finds no instrument: is it connected and powered?";
  }
  FLastFailure = std::move(text);
  Report();
}

bool TZuGen4Link::Open() {
  FT_HANDLE handle = nullptr;
  const FT_STATUS st = FDriver->Open(FDevice, &handle);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK) {
    FHandle = handle;
    FOpen = true;
    return true;
  }
  FOpen = false;
  Fail("opening the instrument (USB device " + std::to_string(FDevice) + ")", st);
  return false;
}

bool TZuGen4Link::Close() {
  const FT_STATUS st = FDriver->Close(FHandle);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK) {
    Forget();
    return true;
  }
  Fail("closing the instrument's device", st);
  return false;
}

void TZuGen4Link::Forget() {
  FHandle = nullptr;
  FOpen = false;
  // Whatever comes up next starts its framing afresh.
  FOwed = 0;
}

void TZuGen4Link::WaitForInstrument() {
  TClock& clock = *FClock;
  const uint32_t t0 = clock.GetTickCount();
  // The tick count has whole milliseconds: t0 may have been read late in its
  // millisecond, so 20 ticks can be only 19 ms and a bit. One tick more keeps
  // the real wait at 20 ms or longer.
  if (FOnWait && *FOnWait) {
    // The host's chance to keep its user interface alive during the wait.
    do {
      (*FOnWait)(FSender);
    } while (clock.GetTickCount() - t0 <= CMD_WAIT_MS);
    return;
  }
  // A full wait from now, whatever the tick phase; the loop covers a sleep
  // that came back early.
  clock.Sleep(CMD_WAIT_MS);
  for (;;) {
    const uint32_t elapsed = clock.GetTickCount() - t0;
    if (elapsed >= CMD_WAIT_MS) return;
    clock.Sleep(CMD_WAIT_MS - elapsed);
  }
}

void TZuGen4Link::Resync() {
  // The instrument takes the awaited block whatever it holds; the update that
  // follows starts with a reset, which makes the filler harmless.
  const std::vector<uint8_t> filler(FOwed, 0);
  const uint32_t count = FOwed;
  FOwed = 0;
  uint32_t written = 0;
  const FT_STATUS st = FDriver->Write(FHandle, filler.data(), count, &written);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK && written == count) return;
  Fail("completing a data block of " + std::to_string(count) + " bytes that an earlier failure cut short", st, written,
       count);
  throw Exception(MSG_DATA_WRITE_ERROR);
}

bool TZuGen4Link::WriteCmd(const TZuGen4Cmd& frame) {
  // A frame never sends more than it holds, whatever Count says.
  const uint32_t count =
      frame.Count < 0 ? 0u : std::min<uint32_t>(static_cast<uint32_t>(frame.Count), frame.Bytes.size());
  if (FCapture) {
    FCapture->AddCommand(frame.Bytes.data(), count);
    return true;
  }
  if (!FOpen) return false;
  if (FOwed) Resync();
  uint32_t written = 0;
  const FT_STATUS st = FDriver->Write(FHandle, frame.Bytes.data(), count, &written);
  // The instrument takes a frame as one transfer: once the driver took it (if
  // only in part), an announced block is awaited.
  if (st == FT_OK) FOwed = AnnouncedBlockSize(frame.Bytes.data(), count);
  WaitForInstrument();
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK && written == static_cast<uint32_t>(frame.Count)) return true;
  std::string hex;
  for (uint32_t i = 0; i < count; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", frame.Bytes[i]);
    hex += b;
  }
  Fail("sending the command frame " + hex, st, written, static_cast<uint32_t>(frame.Count));
  throw Exception(MSG_CMD_WRITE_ERROR);
}

bool TZuGen4Link::WriteBytes(const unsigned char* buffer, unsigned int count) {
  if (FCapture) {
    FCapture->AddBlock(buffer, count);
    return true;
  }
  if (!FOpen) return false;
  uint32_t written = 0;
  const FT_STATUS st = FDriver->Write(FHandle, buffer, count, &written);
  // A block ends the wait for it, taken whole or not.
  FOwed = 0;
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK && written == count) return true;
  Fail("sending a data block of " + std::to_string(count) + " bytes", st, written, count);
  throw Exception(MSG_DATA_WRITE_ERROR);
}

unsigned int TZuGen4Link::ReadBytes(unsigned char* buffer, unsigned int count) {
  if (!FOpen || FCapture) return 0;
  uint32_t got = 0;
  const FT_STATUS st = FDriver->Read(FHandle, buffer, count, &got);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK && got == count) return got;
  Fail("reading " + std::to_string(count) + " bytes from the instrument", st, got, count);
  throw Exception(MSG_DATA_READ_ERROR);
}

}  // namespace Zu

namespace Zu {

bool TZuGen4Link::Send(const TZuGen4Plan& plan, TZuGen4SendOutcome* outcome) {
  if (outcome) *outcome = {};
  if (!FOpen) {
    if (outcome) outcome->Sent = false;
    return false;
  }
  TZuGen4Plan* const captured = Capture(nullptr);  // a plan always goes to the driver
  size_t k = 0;
  try {
    for (; k < plan.Steps.size(); ++k) {
      const TZuGen4PlanStep& step = plan.Steps[k];
      if (step.Kind == TZuGen4StepKind::Block) {
        WriteBytes(step.Bytes.data(), static_cast<unsigned>(step.Bytes.size()));
        continue;
      }
      TZuGen4Cmd frame;
      const size_t n = std::min(step.Bytes.size(), frame.Bytes.size());
      std::copy_n(step.Bytes.begin(), n, frame.Bytes.begin());
      frame.Count = static_cast<int32_t>(n);
      WriteCmd(frame);
    }
  } catch (...) {
    Capture(captured);
    if (outcome) *outcome = {false, k, FStatus, FLastFailure};
    throw;
  }
  Capture(captured);
  return true;
}

}  // namespace Zu
