// The generator's road to the instrument: open, close, command frames, data
// blocks and the one read the instrument answers.
#include <algorithm>

#include "zugen4/Zugen4.hpp"

namespace Zu {

bool TZuGen4::OpenFTPort() {
  FT_HANDLE handle = nullptr;
  const FT_STATUS st = FPlatform.Driver->Open(0, &handle);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK) {
    FHandle = handle;
    FActive = true;
    return true;
  }
  FActive = false;
  Fire(OnFTError);
  return false;
}

bool TZuGen4::CloseFTPort() {
  const FT_STATUS st = FPlatform.Driver->Close(FHandle);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK) {
    FHandle = nullptr;
    FActive = false;
    return true;
  }
  Fire(OnFTError);
  return false;
}

void TZuGen4::WaitForInstrument() {
  TClock& clock = *FPlatform.Clock;
  const uint32_t t0 = clock.GetTickCount();
  // The tick count has whole milliseconds: t0 may have been read late in its
  // millisecond, so 20 ticks can be only 19 ms and a bit. One tick more keeps
  // the real wait at 20 ms or longer.
  if (OnGenResponseWait) {
    // The host's chance to keep its user interface alive during the wait.
    do {
      OnGenResponseWait(this);
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

bool TZuGen4::WriteCmdFTPort(TZuGen4Cmd frame) {
  if (!FActive) return false;
  // A frame never sends more than it holds, whatever Count says.
  const uint32_t count =
      frame.Count < 0 ? 0u : std::min<uint32_t>(static_cast<uint32_t>(frame.Count), frame.Bytes.size());
  uint32_t written = 0;
  const FT_STATUS st = FPlatform.Driver->Write(FHandle, frame.Bytes.data(), count, &written);
  WaitForInstrument();
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK && written == static_cast<uint32_t>(frame.Count)) return true;
  Fire(OnFTError);
  throw Exception(MSG_CMD_WRITE_ERROR);
}

bool TZuGen4::WriteBytesToFTPort(const unsigned char* buffer, unsigned int count) {
  if (!FActive) return false;
  uint32_t written = 0;
  const FT_STATUS st = FPlatform.Driver->Write(FHandle, buffer, count, &written);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK && written == count) return true;
  Fire(OnFTError);
  throw Exception(MSG_DATA_WRITE_ERROR);
}

unsigned int TZuGen4::ReadBytesFromFTPort(unsigned char* buffer, unsigned int count) {
  if (!FActive) return 0;
  uint32_t got = 0;
  const FT_STATUS st = FPlatform.Driver->Read(FHandle, buffer, count, &got);
  FStatus = static_cast<uint8_t>(st);
  if (st == FT_OK && got == count) return got;
  Fire(OnFTError);
  throw Exception(MSG_DATA_READ_ERROR);
}

}  // namespace Zu
