#include "platform/ZuFileStream.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
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
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
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

unsigned long ProcessId() {
#if defined(_WIN32)
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(::getpid());
#endif
}

// 64 bits nobody can guess, so that nothing can be planted at a temporary
// file's name before it is made.
uint64_t Unpredictable() {
  static std::atomic<uint64_t> counter{0};
  uint64_t v = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  try {
    std::random_device rd;
    v ^= (static_cast<uint64_t>(rd()) << 32) ^ rd();
  } catch (...) {
    // No source of randomness: the clock alone, still refused when taken.
  }
  return v;
}

// ".<target>." before the writer's process id, ".<16 hex digits>.tmp" after it.
fs::path::string_type TempPrefix(const fs::path& target) {
  return fs::path(".").concat(target.filename().native()).concat(".").native();
}

fs::path TempNameFor(const fs::path& target) {
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, "%lu.%016llx.tmp", ProcessId(),
                static_cast<unsigned long long>(Unpredictable()));
  return target.parent_path() / fs::path(TempPrefix(target)).concat(suffix);
}

// The writer's process id when name is one of our temporary files beside
// target, 0 otherwise.
unsigned long TempWriter(const fs::path::string_type& name, const fs::path& target) {
  const fs::path::string_type prefix = TempPrefix(target);
  const fs::path::string_type tail = fs::path(".tmp").native();
  // The prefix, the pid's digits, '.', 16 hex digits, ".tmp".
  if (name.size() < prefix.size() + 2 + 16 + tail.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
    return 0;
  const size_t hexAt = name.size() - tail.size() - 16;
  if (name[hexAt - 1] != '.') return 0;
  for (size_t i = hexAt; i < hexAt + 16; ++i) {
    const auto c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
  }
  unsigned long pid = 0;
  for (size_t i = prefix.size(); i + 1 < hexAt; ++i) {
    const auto c = name[i];
    if (c < '0' || c > '9' || pid > 100000000ul) return 0;
    pid = pid * 10 + static_cast<unsigned long>(c - '0');
  }
  return pid;
}

// True when no process with this id runs on this system any more.
bool WriterGone(unsigned long pid) {
#if defined(_WIN32)
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!p) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool exited = GetExitCodeProcess(p, &code) && code != STILL_ACTIVE;
  CloseHandle(p);
  return exited;
#else
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
#endif
}

// Removes the temporary files a killed save left beside target. A save in
// progress is never disturbed: its writer still runs. A writer seen gone may
// be one in another pid namespace sharing the directory, which is why an
// old file is also taken, but a young one only when its writer is gone.
void RemoveStaleTemporaries(const fs::path& target) {
  constexpr auto kSafeAge = std::chrono::hours(1);
  std::error_code ec;
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  fs::directory_iterator it(dir, ec), end;
  for (int seen = 0; !ec && it != end && seen < 100000; it.increment(ec), ++seen) {
    const fs::path name = it->path().filename();
    const unsigned long pid = TempWriter(name.native(), target);
    if (pid == 0 || pid == ProcessId()) continue;
    std::error_code e;
    // Only regular files of our own making; a link by that name is left alone.
    if (!fs::is_regular_file(fs::symlink_status(it->path(), e))) continue;
    const auto age = fs::file_time_type::clock::now() - fs::last_write_time(it->path(), e);
    if (e) continue;
    if (WriterGone(pid) || age > kSafeAge) fs::remove(it->path(), e);
  }
}

std::string SystemText(int errorNumber) { return std::generic_category().message(errorNumber); }

}  // namespace

// One save in progress: the record collects in memory and goes out at Close,
// so nothing reaches the disk before the whole of it is known.
struct TZuGen4FileStream::TSave {
  fs::path Target;
  fs::path Temp;  // empty when the target is written in place
  std::string Bytes;
  bool TargetExists = false;
  // Why the save failed: the first failure's error number and text.
  int ErrorNumber = 0;
  std::string Reason;

  bool Failed(int errorNumber, std::string reason = {}) {
    if (ErrorNumber == 0 && Reason.empty()) {
      ErrorNumber = errorNumber;
      Reason = reason.empty() ? SystemText(errorNumber) : std::move(reason);
    }
    return false;
  }
#if defined(_WIN32)
  HANDLE File = INVALID_HANDLE_VALUE;
  DWORD TargetAttributes = 0;

  // The system's last error, as an error number where one corresponds.
  bool FailedNow() {
    const std::error_code ec(static_cast<int>(GetLastError()), std::system_category());
    const std::error_condition cond = ec.default_error_condition();
    return Failed(cond.category() == std::generic_category() ? cond.value() : 0, ec.message());
  }

  bool Begin() {
    const DWORD attrs = GetFileAttributesW(Target.c_str());
    TargetExists = attrs != INVALID_FILE_ATTRIBUTES;
    if (TargetExists) {
      // A read-only file is not replaced behind its owner's back.
      if (attrs & FILE_ATTRIBUTE_DIRECTORY) return Failed(EISDIR);
      if (attrs & FILE_ATTRIBUTE_READONLY) return Failed(EACCES, "the file is read-only");
      TargetAttributes = attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    }
    RemoveStaleTemporaries(Target);
    for (int attempt = 0; attempt < 100; ++attempt) {
      Temp = TempNameFor(Target);
      if (const int fault = InjectedFault(TSaveStep::Create)) {
        Failed(fault);
        break;
      }
      // CREATE_NEW takes nothing that exists, a link included.
      File =
          CreateFileW(Temp.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (File != INVALID_HANDLE_VALUE) return true;
      if (GetLastError() != ERROR_FILE_EXISTS) {
        FailedNow();
        break;
      }
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

  bool FailedNow() { return Failed(errno); }

  bool Begin() {
    TargetExists = ::stat(Target.c_str(), &TargetStat) == 0;
    if (!TargetExists && errno != ENOENT) return FailedNow();
    if (TargetExists) {
      // What the user may not write is not replaced behind the owner's back,
      // nor a file its owner made read-only (also not by a privileged user).
      if (S_ISDIR(TargetStat.st_mode)) return Failed(EISDIR);
      if ((TargetStat.st_mode & 0222) == 0) return Failed(EACCES, "the file is read-only");
      if (::access(Target.c_str(), W_OK) != 0) return FailedNow();
      if (!S_ISREG(TargetStat.st_mode)) {
        // A device or a pipe cannot be replaced: it is written in place. A
        // pipe nobody reads is refused at once instead of waited on.
        Fd = ::open(Target.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
        if (Fd < 0)
          return S_ISFIFO(TargetStat.st_mode) && errno == ENXIO ? Failed(ENXIO, "it is a pipe nobody reads")
                                                                : FailedNow();
        const int flags = ::fcntl(Fd, F_GETFL);
        if (flags >= 0) ::fcntl(Fd, F_SETFL, flags & ~O_NONBLOCK);
        return true;
      }
    }
    RemoveStaleTemporaries(Target);
    for (int attempt = 0; attempt < 100; ++attempt) {
      Temp = TempNameFor(Target);
      if (const int fault = InjectedFault(TSaveStep::Create)) {
        Failed(fault);
        break;
      }
      // Created as a new file would be (the umask applies) when there is no
      // target to take the permissions from; never through a link.
      Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (Fd >= 0) return true;
      if (errno != EEXIST) {
        FailedNow();
        break;
      }
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
      if (n == 0) errno = EIO;
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
    if (const int fault = InjectedFault(step)) return Failed(fault);
    return f() || FailedNow();
  }

  bool Commit() {
    const bool inPlace = Temp.empty();
    bool ok = inPlace || Step(TSaveStep::Permissions, [&] { return CopyPermissions(); });
    if (ok) {
      if (const int fault = InjectedFault(TSaveStep::Write)) {
        WriteAll(Bytes.data(), Bytes.size() / 2);
        ok = Failed(fault);
      } else {
        ok = WriteAll(Bytes.data(), Bytes.size()) || FailedNow();
      }
    }
    ok = ok && (inPlace || Step(TSaveStep::Sync, [&] { return Sync(); }));
    ok = Step(TSaveStep::Close, [&] { return CloseFile(); }) && ok;
    ok = ok && (inPlace || Step(TSaveStep::Replace, [&] { return Replace(); }));
    if (!ok) Abandon();
    return ok;
  }
};

EFileError::EFileError(const std::string& message, std::string detail, std::string fileName, int errorNumber,
                       std::string reason)
    : EInOutError(message),
      FDetail(std::move(detail)),
      FFileName(std::move(fileName)),
      FErrorNumber(errorNumber),
      FReason(std::move(reason)) {}
EFileError::~EFileError() = default;

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

void TZuGen4FileStream::Reset() {
  Discard();
  Close();
  FWriteFailed = false;
  FEnded = false;
  FPosition = 0;
  FOffset = 0;
  FRecordVersion = LatestRecord;
  FErrorNumber = 0;
  FFailureReason.clear();
}

void TZuGen4FileStream::Fail(int errorNumber, std::string reason) {
  FErrorNumber = errorNumber;
  FFailureReason = reason.empty() ? SystemText(errorNumber) : std::move(reason);
}

void TZuGen4FileStream::OpenMemoryForWriting() {
  Reset();
  FInMemory = true;
  FMemory.clear();
  FMemoryPos = 0;
}

void TZuGen4FileStream::OpenMemoryForReading(std::vector<uint8_t> bytes) {
  Reset();
  FInMemory = true;
  FMemory = std::move(bytes);
  FMemoryPos = 0;
}

bool TZuGen4FileStream::OpenForWriting(const std::string& fileName, TFileNameEncoding encoding) {
  Reset();
  const fs::path name = NativePath(fileName, encoding);
  if (name.empty()) {
    Fail(fileName.empty() ? ENOENT : EINVAL);
    return false;
  }
  const fs::path target = FollowLinks(name);
  if (target.empty()) {
    Fail(ELOOP);
    return false;
  }
  auto save = std::make_unique<TSave>();
  save->Target = target;
  if (!save->Begin()) {
    save->Abandon();
    Fail(save->ErrorNumber, save->Reason);
    return false;
  }
  FSave = std::move(save);
  return true;
}

namespace {
// What a file that is no regular file is, for the reason of a refusal.
const char* KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo: return "it is a pipe, not a regular file";
    case fs::file_type::character:
    case fs::file_type::block: return "it is a device, not a regular file";
    case fs::file_type::socket: return "it is a socket, not a regular file";
    default: return "it is not a regular file";
  }
}
}  // namespace

bool TZuGen4FileStream::OpenForReading(const std::string& fileName, TFileNameEncoding encoding) {
  Reset();
  const fs::path path = NativePath(fileName, encoding);
  if (path.empty()) {
    Fail(fileName.empty() ? ENOENT : EINVAL);
    return false;
  }
  // The kind is looked at before opening: a pipe would wait for a writer.
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec) {
    const std::error_condition cond = ec.default_error_condition();
    Fail(cond.category() == std::generic_category() ? cond.value() : 0, ec.message());
    return false;
  }
  if (status.type() == fs::file_type::not_found) {
    Fail(ENOENT);
    return false;
  }
  if (status.type() == fs::file_type::directory) {
    Fail(EISDIR);
    return false;
  }
  if (status.type() != fs::file_type::regular) {
    Fail(0, KindOf(status.type()));
    return false;
  }
#if defined(_WIN32)
  FFile = _wfopen(path.c_str(), L"rb");
  if (!FFile) Fail(errno);
#else
  // Whatever was swapped in since is not waited on either, and not read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(0, "it is not a regular file");
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FFile = ::fdopen(fd, "rb");
  if (!FFile) {
    Fail(errno);
    ::close(fd);
  }
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
    if (!save->Commit()) {
      FWriteFailed = true;
      Fail(save->ErrorNumber, save->Reason);
    }
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

bool TZuGen4FileStream::ReadStored(std::vector<uint8_t>& out, size_t limit) {
  out.clear();
  if (FInMemory) {
    const size_t n = std::min(FMemory.size() - FMemoryPos, limit + 1);
    out.assign(FMemory.begin() + static_cast<ptrdiff_t>(FMemoryPos),
               FMemory.begin() + static_cast<ptrdiff_t>(FMemoryPos + n));
    FMemoryPos += n;
    FOffset += n;
    return true;
  }
  if (!FFile) return false;
  uint8_t chunk[4096];
  while (out.size() <= limit) {
    const size_t n = std::fread(chunk, 1, std::min(sizeof chunk, limit + 1 - out.size()), FFile);
    out.insert(out.end(), chunk, chunk + n);
    FOffset += n;
    if (n == 0) break;
  }
  if (std::ferror(FFile)) {
    Fail(errno);
    return false;
  }
  return true;
}

TZuGen4FileStream& TZuGen4FileStream::WriteBytes(const void* data, size_t count) {
  if (FInMemory) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < count; ++i) {
      if (bytes[i] == 0x0A) FMemory.push_back(0x0D);
      FMemory.push_back(bytes[i]);
    }
    FPosition += count;
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
  FPosition += count;
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
  const int c = FInMemory ? (FMemoryPos < FMemory.size() ? FMemory[FMemoryPos++] : EOF) : std::fgetc(FFile);
  if (c != EOF) ++FOffset;
  return c;
}

void TZuGen4FileStream::UngetByte(int c) {
  --FOffset;
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
    ++FPosition;
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
