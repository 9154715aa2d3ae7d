// The settings file stream: fixed-layout little-endian fields, where every
// 0x0A byte of the record is stored as 0x0D 0x0A (and read back the other way).
//
// A save never cuts the file it replaces: the record goes to a temporary file
// beside the target, reaches the disk, and then takes the target's place in
// one step. Until then, and after any failure, the old file is untouched.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zugen4/ZuExport.h"

namespace Zu {

// How a file name's bytes are meant. On POSIX both are the bytes as given; on
// Windows System is the ANSI code page, Utf8 is UTF-8.
enum class TFileNameEncoding : uint8_t { System, Utf8 };

// The system steps of a save, in order.
enum class TSaveStep : uint8_t { Create, Permissions, Write, Sync, Close, Replace };

class ZUGEN_API TZuGen4FileStream {
 public:
  TZuGen4FileStream();
  TZuGen4FileStream(const TZuGen4FileStream&) = delete;
  TZuGen4FileStream& operator=(const TZuGen4FileStream&) = delete;
  // Drops an unfinished save: the target stays as it was.
  ~TZuGen4FileStream();

  // Each opening starts with a clean state. OpenForWriting makes the
  // temporary file beside the target (following a symbolic link to the file
  // it names); false when that cannot be done, when the target is a directory
  // or a file this process may not write. A device or pipe is written in place.
  bool OpenForWriting(const std::string& fileName, TFileNameEncoding encoding = TFileNameEncoding::System);
  bool OpenForReading(const std::string& fileName, TFileNameEncoding encoding = TFileNameEncoding::System);
  // Ends a save by putting the new file in the target's place, with the
  // target's permissions. False when anything failed; the temporary file is
  // gone then and the target unchanged.
  bool Close();
  // Ends a save without touching the target.
  void Discard() noexcept;
  bool IsOpen() const;

  // The same record kept in memory instead of a file (a snapshot of the
  // setup): writing collects the bytes a file would hold, reading takes them.
  void OpenMemoryForWriting();
  void OpenMemoryForReading(std::vector<uint8_t> bytes);
  const std::vector<uint8_t>& MemoryBytes() const { return FMemory; }

  TZuGen4FileStream& WriteBytes(const void* data, size_t count);
  TZuGen4FileStream& WriteBool(bool v);
  TZuGen4FileStream& WriteByte(uint8_t v);
  TZuGen4FileStream& WriteInt(int32_t v);
  TZuGen4FileStream& WriteDouble(double v);
  // False when a write failed.
  bool WriteOk() const { return !FWriteFailed; }

  // Each read takes a whole value or nothing: when the file ends inside a
  // value, the target keeps its value, and so does every later read.
  bool ReadBytes(void* data, size_t count);
  bool ReadBool(bool& v);
  bool ReadByte(uint8_t& v);
  bool ReadInt(int32_t& v);
  bool ReadDouble(double& v);
  bool AtEnd() const { return FEnded; }

  // For tests only: called before each system step of every save in the
  // process; a non-zero result makes that step fail as the system would (a
  // failing write leaves a partly written temporary file). Null restores.
  static void SetSaveFaultHook(std::function<int(TSaveStep)> hook);

 private:
  struct TSave;
  int GetLogicalByte();
  int GetByte();
  void UngetByte(int c);

  std::FILE* FFile = nullptr;
  bool FInMemory = false;
  std::vector<uint8_t> FMemory;
  size_t FMemoryPos = 0;
  std::unique_ptr<TSave> FSave;
  bool FWriteFailed = false;
  bool FEnded = false;
};

}  // namespace Zu
