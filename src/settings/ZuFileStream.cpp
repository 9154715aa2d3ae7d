#include "zugen4/ZuFileStream.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace Zu {

namespace {

std::FILE* OpenFile(const std::string& fileName, const char* mode) {
  if (fileName.empty()) return nullptr;
  std::error_code ec;
  if (std::filesystem::is_directory(fileName, ec)) return nullptr;
  return std::fopen(fileName.c_str(), mode);
}

}  // namespace

TZuGen4FileStream::~TZuGen4FileStream() { Close(); }

bool TZuGen4FileStream::OpenForWriting(const std::string& fileName) {
  Close();
  FWriteFailed = false;
  FEnded = false;
  FFile = OpenFile(fileName, "wb");
  return FFile != nullptr;
}

bool TZuGen4FileStream::OpenForReading(const std::string& fileName) {
  Close();
  FWriteFailed = false;
  FEnded = false;
  FFile = OpenFile(fileName, "rb");
  return FFile != nullptr;
}

bool TZuGen4FileStream::Close() {
  if (!FFile) return !FWriteFailed;
  if (std::ferror(FFile)) FWriteFailed = true;
  if (std::fclose(FFile) != 0) FWriteFailed = true;
  FFile = nullptr;
  return !FWriteFailed;
}

TZuGen4FileStream& TZuGen4FileStream::WriteBytes(const void* data, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < count && FFile; ++i) {
    if (bytes[i] == 0x0A && std::fputc(0x0D, FFile) == EOF) FWriteFailed = true;
    if (std::fputc(bytes[i], FFile) == EOF) FWriteFailed = true;
  }
  if (!FFile) FWriteFailed = true;
  return *this;
}

TZuGen4FileStream& TZuGen4FileStream::WriteBool(bool v) { return WriteByte(v ? 1 : 0); }
TZuGen4FileStream& TZuGen4FileStream::WriteByte(uint8_t v) { return WriteBytes(&v, 1); }

TZuGen4FileStream& TZuGen4FileStream::WriteInt(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                        static_cast<uint8_t>(u >> 24)};
  return WriteBytes(b, 4);
}

TZuGen4FileStream& TZuGen4FileStream::WriteDouble(double v) {
  uint64_t u = 0;
  std::memcpy(&u, &v, sizeof u);
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(u >> (8 * i));
  return WriteBytes(b, 8);
}

// One byte of the logical record: a 0x0D directly followed by 0x0A is dropped.
int TZuGen4FileStream::GetLogicalByte() {
  const int c = std::fgetc(FFile);
  if (c != 0x0D) return c;
  const int next = std::fgetc(FFile);
  if (next == 0x0A) return 0x0A;
  if (next != EOF) std::ungetc(next, FFile);
  return c;
}

bool TZuGen4FileStream::ReadBytes(void* data, size_t count) {
  if (!FFile || FEnded) return false;
  // Read into a scratch buffer first: a value only partly present changes nothing.
  uint8_t scratch[16];
  if (count > sizeof scratch) return false;
  for (size_t i = 0; i < count; ++i) {
    const int c = GetLogicalByte();
    if (c == EOF) {
      FEnded = true;
      return false;
    }
    scratch[i] = static_cast<uint8_t>(c);
  }
  std::memcpy(data, scratch, count);
  return true;
}

bool TZuGen4FileStream::ReadByte(uint8_t& v) { return ReadBytes(&v, 1); }

bool TZuGen4FileStream::ReadBool(bool& v) {
  uint8_t b = 0;
  if (!ReadByte(b)) return false;
  v = b != 0;
  return true;
}

bool TZuGen4FileStream::ReadInt(int32_t& v) {
  uint8_t b[4];
  if (!ReadBytes(b, 4)) return false;
  const uint32_t u = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
  v = static_cast<int32_t>(u);
  return true;
}

bool TZuGen4FileStream::ReadDouble(double& v) {
  uint8_t b[8];
  if (!ReadBytes(b, 8)) return false;
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= uint64_t{b[i]} << (8 * i);
  std::memcpy(&v, &u, sizeof v);
  return true;
}

}  // namespace Zu
