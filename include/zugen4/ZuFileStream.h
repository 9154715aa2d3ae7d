// The settings file stream: fixed-layout little-endian fields, where every
// 0x0A byte of the record is stored as 0x0D 0x0A (and read back the other way).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "zugen4/ZuExport.h"

namespace Zu {

class ZUGEN_API TZuGen4FileStream {
 public:
  TZuGen4FileStream() = default;
  TZuGen4FileStream(const TZuGen4FileStream&) = delete;
  TZuGen4FileStream& operator=(const TZuGen4FileStream&) = delete;
  ~TZuGen4FileStream();

  // Each opening starts with a clean state. False when the file cannot be
  // opened (or is a directory); nothing is cut then.
  bool OpenForWriting(const std::string& fileName);
  bool OpenForReading(const std::string& fileName);
  // False when anything written did not reach the file.
  bool Close();
  bool IsOpen() const { return FFile != nullptr; }

  TZuGen4FileStream& WriteBytes(const void* data, size_t count);
  TZuGen4FileStream& WriteBool(bool v);
  TZuGen4FileStream& WriteByte(uint8_t v);
  TZuGen4FileStream& WriteInt(int32_t v);
  TZuGen4FileStream& WriteDouble(double v);
  // False when a write failed (a full disk, for one).
  bool WriteOk() const { return !FWriteFailed; }

  // Each read takes a whole value or nothing: when the file ends inside a
  // value, the target keeps its value, and so does every later read.
  bool ReadBytes(void* data, size_t count);
  bool ReadBool(bool& v);
  bool ReadByte(uint8_t& v);
  bool ReadInt(int32_t& v);
  bool ReadDouble(double& v);
  bool AtEnd() const { return FEnded; }

 private:
  int GetLogicalByte();

  std::FILE* FFile = nullptr;
  bool FWriteFailed = false;
  bool FEnded = false;
};

}  // namespace Zu
