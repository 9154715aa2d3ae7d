// The settings file stream: fixed-layout little-endian fields, where every
// 0x0A byte of the record is stored as 0x0D 0x0A (and read back the other way).
//
// A save never cuts the file it replaces: the record goes to a temporary file
// beside the target, reaches the disk, and then takes the target's place in
// one step. Until then, and after any failure, the old file is untouched.
//
// The temporary file is made only where nothing exists yet (never through a
// link planted at its name) and has an unpredictable name,
// ".<target>.<pid>.<16 hex digits>.tmp". One a killed saver left behind is
// removed by the next save beside the same target once its writer is gone (or
// after an hour). A symbolic link at the target itself is followed on
// purpose: the file it names is replaced and the link stays.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zugen4/Classes.h"
#include "zugen4/ZuExport.h"
#include "zugen4/ZuFileError.h"

namespace Zu {

// The system steps of a save, in order.
enum class TSaveStep : uint8_t { Create, Permissions, Write, Sync, Close, Replace };

class TZuGen4FileStream {
 public:
  TZuGen4FileStream();
  TZuGen4FileStream(const TZuGen4FileStream&) = delete;
  TZuGen4FileStream& operator=(const TZuGen4FileStream&) = delete;
  // Drops an unfinished save: the target stays as it was.
  ~TZuGen4FileStream();

  // Each opening starts with a clean state. OpenForWriting makes the
  // temporary file beside the target (following a symbolic link to the file
  // it names); false when that cannot be done, when the target is a directory
  // or a file this process may not write or that is read-only. A device is
  // written in place, and so is a pipe that has a reader (none: refused, never
  // waited for). OpenForReading takes regular files only: a pipe or a device
  // is refused without being opened, so that nothing waits for a writer.
  // After a false, ErrorNumber() and FailureReason() say why.
  bool OpenForWriting(const std::string& fileName, TFileNameEncoding encoding = TFileNameEncoding::System);
  bool OpenForReading(const std::string& fileName, TFileNameEncoding encoding = TFileNameEncoding::System);
  // Why the last opening or save failed: the system's error number (0 when
  // none applies) and its text, or what is wrong with the file.
  int ErrorNumber() const { return FErrorNumber; }
  const std::string& FailureReason() const { return FFailureReason; }
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
  // The settings-file version of the record being written or read: each
  // class leaves out its parts that came with a later version. Every opening
  // starts with the latest, which leaves out nothing.
  static constexpr int32_t LatestRecord = INT32_MAX;
  void SetRecordVersion(int32_t version) { FRecordVersion = version; }
  int32_t RecordVersion() const { return FRecordVersion; }
  // Bytes of the record read or written so far (a stored 0x0D 0x0A counts as
  // one), and bytes of the file or memory consumed while reading.
  size_t Position() const { return FPosition; }
  size_t Offset() const { return FOffset; }
  // The rest of an opened file as stored, at most limit + 1 bytes (more than
  // limit: the file is longer). False when reading failed.
  bool ReadStored(std::vector<uint8_t>& out, size_t limit);

  // For tests only: called before each system step of every save in the
  // process; a non-zero result makes that step fail as the system would (a
  // failing write leaves a partly written temporary file). Null restores.
  static void SetSaveFaultHook(std::function<int(TSaveStep)> hook);

 private:
  struct TSave;
  int GetLogicalByte();
  int GetByte();
  void UngetByte(int c);
  void Reset();
  void Fail(int errorNumber, std::string reason = {});

  std::FILE* FFile = nullptr;
  bool FInMemory = false;
  std::vector<uint8_t> FMemory;
  size_t FMemoryPos = 0;
  std::unique_ptr<TSave> FSave;
  bool FWriteFailed = false;
  bool FEnded = false;
  size_t FPosition = 0;
  size_t FOffset = 0;
  int32_t FRecordVersion = LatestRecord;
  int FErrorNumber = 0;
  std::string FFailureReason;
};

}  // namespace Zu
