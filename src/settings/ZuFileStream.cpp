#include "zugen4/ZuFileStream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first
#include <aclapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace Zu {

namespace fs = std::filesystem;

namespace {

std::mutex gHookLock;
std::function<int(TSaveStep)>& Hook() {
  static std::function<int(TSaveStep)> hook;
  return hook;
}

// The failure a test asked for at this step, 0 for none.
int InjectedFault(TSaveStep step) {
  std::lock_guard<std::mutex> lock(gHookLock);
  return Hook() ? Hook()(step) : 0;
}

// The name as the system's file functions take it; empty when the bytes are
// no valid name in their encoding.
fs::path NativePath(const std::string& name, TFileNameEncoding encoding) {
  if (name.empty()) return {};
#if defined(_WIN32)
  const UINT codePage = encoding == TFileNameEncoding::Utf8 ? CP_UTF8 : CP_ACP;
  const DWORD flags = encoding == TFileNameEncoding::Utf8 ? MB_ERR_INVALID_CHARS : 0;
  const int n = MultiByteToWideChar(codePage, flags, name.data(), static_cast<int>(name.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, name.data(), static_cast<int>(name.size()), wide.data(), n);
  if (wide.find(L'\0') != std::wstring::npos) return {};
  return fs::path(wide);
#else
  (void)encoding;
  if (name.find('\0') != std::string::npos) return {};
  return fs::path(name);
#endif
}

// The file a chain of symbolic links ends at (which need not exist yet), so a
// save replaces that file and keeps the links; empty for a loop of links.
fs::path FollowLinks(fs::path p) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return p;
    const fs::path next = fs::read_symlink(p, ec);
    if (ec) return {};
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return {};
}

// A name beside the target no other save picks at the same time.
fs::path TempNameFor(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  const auto now = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
#if defined(_WIN32)
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".%lx.%x.%llx.tmp", pid, counter.fetch_add(1), now & 0xFFFFFFu);
  fs::path name = target.filename();
  name = fs::path(".").concat(name.native()).concat(suffix);
  return target.parent_path() / name;
}

}  // namespace

// One save in progress: the record collects in memory and goes out at Close,
// so nothing reaches the disk before the whole of it is known.
struct TZuGen4FileStream::TSave {
  fs::path Target;
  fs::path Temp;  // empty when the target is written in place
  std::string Bytes;
  bool TargetExists = false;
#if defined(_WIN32)
  HANDLE File = INVALID_HANDLE_VALUE;
  DWORD TargetAttributes = 0;

  bool Begin() {
    const DWORD attrs = GetFileAttributesW(Target.c_str());
    TargetExists = attrs != INVALID_FILE_ATTRIBUTES;
    if (TargetExists) {
      // A read-only file is not replaced behind its owner's back.
      if (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
      TargetAttributes = attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      Temp = TempNameFor(Target);
      if (InjectedFault(TSaveStep::Create)) return false;
      File =
          CreateFileW(Temp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (File != INVALID_HANDLE_VALUE) return true;
      if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    Temp.clear();
    return false;
  }

  // The target's access rules go with the new file.
  bool CopyPermissions() {
    if (!TargetExists) return true;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(Target.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &sd) != ERROR_SUCCESS)
      return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD rc = SetSecurityInfo(File, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(sd);
    return rc == ERROR_SUCCESS;
  }

  bool WriteAll(const char* data, size_t count) {
    while (count > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count, 1u << 20));
      DWORD written = 0;
      if (!WriteFile(File, data, chunk, &written, nullptr) || written == 0) return false;
      data += written;
      count -= written;
    }
    return true;
  }

  bool Sync() { return FlushFileBuffers(File) != 0; }

  bool CloseFile() {
    const bool ok = CloseHandle(File) != 0;
    File = INVALID_HANDLE_VALUE;
    return ok;
  }

  bool Replace() {
    if (TargetAttributes) SetFileAttributesW(Temp.c_str(), TargetAttributes);
    return MoveFileExW(Temp.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  void Abandon() noexcept {
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
    File = INVALID_HANDLE_VALUE;
    if (!Temp.empty()) DeleteFileW(Temp.c_str());
    Temp.clear();
  }
#else
  int Fd = -1;
  struct stat TargetStat {};

  bool Begin() {
    TargetExists = ::stat(Target.c_str(), &TargetStat) == 0;
    if (!TargetExists && errno != ENOENT) return false;
    if (TargetExists) {
      // What the user may not write is not replaced behind the owner's back.
      if (S_ISDIR(TargetStat.st_mode) || ::access(Target.c_str(), W_OK) != 0) return false;
      if (!S_ISREG(TargetStat.st_mode)) {
        // A device or a pipe cannot be replaced: it is written in place.
        Fd = ::open(Target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return Fd >= 0;
      }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      Temp = TempNameFor(Target);
      if (const int fault = InjectedFault(TSaveStep::Create)) {
        errno = fault;
        break;
      }
      // Created as a new file would be (the umask applies) when there is no
      // target to take the permissions from.
      Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (Fd >= 0) return true;
      if (errno != EEXIST) break;
    }
    Temp.clear();
    return false;
  }

  bool CopyPermissions() {
    if (!TargetExists) return true;
    // The owner can only be kept by a privileged process; the mode always.
    if (::fchown(Fd, TargetStat.st_uid, TargetStat.st_gid) != 0) {
      // Not permitted for others' files: the new file is the saver's own.
    }
    return ::fchmod(Fd, TargetStat.st_mode & 07777) == 0;
  }

  bool WriteAll(const char* data, size_t count) {
    while (count > 0) {
      const ssize_t n = ::write(Fd, data, count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      count -= static_cast<size_t>(n);
    }
    return true;
  }

  bool Sync() { return ::fsync(Fd) == 0; }

  bool CloseFile() {
    const int fd = Fd;
    Fd = -1;
    return ::close(fd) == 0;
  }

  bool Replace() {
    if (::rename(Temp.c_str(), Target.c_str()) != 0) return false;
    Temp.clear();
    // The new name must survive a power loss too; a directory that cannot be
    // synced still holds it in the running system.
    fs::path dir = Target.parent_path();
    if (dir.empty()) dir = ".";
    const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
      ::fsync(d);
      ::close(d);
    }
    return true;
  }

  void Abandon() noexcept {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
    if (!Temp.empty()) ::unlink(Temp.c_str());
    Temp.clear();
  }
#endif

  // Runs one step unless a test makes it fail.
  template <typename F>
  bool Step(TSaveStep step, F&& f) {
    if (const int fault = InjectedFault(step)) {
#if !defined(_WIN32)
      errno = fault;
#else
      (void)fault;
#endif
      return false;
    }
    return f();
  }

  bool Commit() {
    const bool inPlace = Temp.empty();
    bool ok = inPlace || Step(TSaveStep::Permissions, [&] { return CopyPermissions(); });
    ok = ok && (InjectedFault(TSaveStep::Write) ? (WriteAll(Bytes.data(), Bytes.size() / 2), false)
                                                : WriteAll(Bytes.data(), Bytes.size()));
    ok = ok && (inPlace || Step(TSaveStep::Sync, [&] { return Sync(); }));
    ok = Step(TSaveStep::Close, [&] { return CloseFile(); }) && ok;
    ok = ok && (inPlace || Step(TSaveStep::Replace, [&] { return Replace(); }));
    if (!ok) Abandon();
    return ok;
  }
};

void TZuGen4FileStream::SetSaveFaultHook(std::function<int(TSaveStep)> hook) {
  std::lock_guard<std::mutex> lock(gHookLock);
  Hook() = std::move(hook);
}

TZuGen4FileStream::TZuGen4FileStream() = default;

TZuGen4FileStream::~TZuGen4FileStream() {
  Discard();
  Close();
}

bool TZuGen4FileStream::IsOpen() const { return FFile != nullptr || FSave != nullptr || FInMemory; }

void TZuGen4FileStream::OpenMemoryForWriting() {
  Discard();
  Close();
  FWriteFailed = false;
  FEnded = false;
  FInMemory = true;
  FMemory.clear();
  FMemoryPos = 0;
}

void TZuGen4FileStream::OpenMemoryForReading(std::vector<uint8_t> bytes) {
  Discard();
  Close();
  FWriteFailed = false;
  FEnded = false;
  FInMemory = true;
  FMemory = std::move(bytes);
  FMemoryPos = 0;
}

bool TZuGen4FileStream::OpenForWriting(const std::string& fileName, TFileNameEncoding encoding) {
  Discard();
  Close();
  FWriteFailed = false;
  FEnded = false;
  const fs::path target = FollowLinks(NativePath(fileName, encoding));
  if (target.empty()) return false;
  auto save = std::make_unique<TSave>();
  save->Target = target;
  if (!save->Begin()) {
    save->Abandon();
    return false;
  }
  FSave = std::move(save);
  return true;
}

bool TZuGen4FileStream::OpenForReading(const std::string& fileName, TFileNameEncoding encoding) {
  Discard();
  Close();
  FWriteFailed = false;
  FEnded = false;
  const fs::path path = NativePath(fileName, encoding);
  std::error_code ec;
  if (path.empty() || fs::is_directory(path, ec)) return false;
#if defined(_WIN32)
  FFile = _wfopen(path.c_str(), L"rb");
#else
  FFile = std::fopen(path.c_str(), "rb");
#endif
  return FFile != nullptr;
}

bool TZuGen4FileStream::Close() {
  FInMemory = false;
  if (FSave) {
    const std::unique_ptr<TSave> save = std::move(FSave);
    if (FWriteFailed) {
      save->Abandon();
      return false;
    }
    if (!save->Commit()) FWriteFailed = true;
    return !FWriteFailed;
  }
  if (!FFile) return !FWriteFailed;
  if (std::fclose(FFile) != 0) FWriteFailed = true;
  FFile = nullptr;
  return !FWriteFailed;
}

void TZuGen4FileStream::Discard() noexcept {
  if (!FSave) return;
  FSave->Abandon();
  FSave.reset();
}

TZuGen4FileStream& TZuGen4FileStream::WriteBytes(const void* data, size_t count) {
  if (FInMemory) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < count; ++i) {
      if (bytes[i] == 0x0A) FMemory.push_back(0x0D);
      FMemory.push_back(bytes[i]);
    }
    return *this;
  }
  if (!FSave) {
    FWriteFailed = true;
    return *this;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] == 0x0A) FSave->Bytes.push_back('\x0D');
    FSave->Bytes.push_back(static_cast<char>(bytes[i]));
  }
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

int TZuGen4FileStream::GetByte() {
  if (FInMemory) return FMemoryPos < FMemory.size() ? FMemory[FMemoryPos++] : EOF;
  return std::fgetc(FFile);
}

void TZuGen4FileStream::UngetByte(int c) {
  if (FInMemory)
    --FMemoryPos;
  else
    std::ungetc(c, FFile);
}

// One byte of the logical record: a 0x0D directly followed by 0x0A is dropped.
int TZuGen4FileStream::GetLogicalByte() {
  const int c = GetByte();
  if (c != 0x0D) return c;
  const int next = GetByte();
  if (next == 0x0A) return 0x0A;
  if (next != EOF) UngetByte(next);
  return c;
}

bool TZuGen4FileStream::ReadBytes(void* data, size_t count) {
  if ((!FFile && !FInMemory) || FEnded) return false;
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
