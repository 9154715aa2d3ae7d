// The settings file: its exact bytes, the storage rule for 0x0A, the header
// check, partial files, and a save/load round trip of every property.
#if defined(_WIN32)
#include <process.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "SimFixture.h"
#include "platform/ZuFileStream.h"
#include "zugen4/ZuSettingsFile.h"

namespace {

using namespace Zu;
using Bytes = std::vector<uint8_t>;

int ProcessId() {
#if defined(_WIN32)
  return _getpid();
#else
  return ::getpid();
#endif
}

// A UTF-8 name as the UTF-8 entry points take it.
std::string Utf8(const std::filesystem::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

class Settings : public ZuTest::SimGenerator {
 protected:
  void SetUp() override {
    SimGenerator::SetUp();
    dir = std::filesystem::temp_directory_path() / ("zugen_settings_" + std::to_string(ProcessId()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string Path(const char* name) const { return (dir / name).string(); }
  static Bytes Read(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
  }
  static void Write(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  }
  // A saved file of a fresh generator, to compare whole setups.
  Bytes SavedBytes(TZuGen4& g) {
    g.SaveToFile(Path("compare.zg4"));
    return Read(Path("compare.zg4"));
  }

  // Moves every stored property of g away from its initial value.
  static void ChangeEverything(TZuGen4& g) {
    g.SetAutoUpdate(false);
    g.SetUseExtRefFreq(true);
    g.SetFreqScale(12);
    g.SetRefFreq(24.5);
    int k = 0;
    for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(g.ChA()), static_cast<TZuGen4Channel*>(g.ChB())}) {
      ++k;
      ch->SetMode(k == 1 ? ZGMdC_LFM : ZGMdC_DDSMod);
      ch->Set_sinFrequency(1500.0 + k);
      ch->Set_sinAmplitude(60.0 + k);
      ch->SetPhase(30.0 + k);
      ch->Tuner()->SetType(ZGAFPms_phase);
      ch->Tuner()->SetScale(9 + k);
      ch->Tuner()->SetADCTimerEnabled(true);
      ch->Tuner()->SetADCTimerInterval(250 + k);
      ch->ExtModulation()->SetType(ZGAFPms_ampl);
      ch->ExtModulation()->SetScale(11 + k);
      ch->LFM()->SetFreqTop(3000 + k);
      ch->LFM()->SetTinc0(100 + k);
      ch->LFM()->SetTinc1(200 + k);
      ch->LFM()->SetTdec0(300 + k);
      ch->LFM()->SetTdec1(400 + k);
      ChangeModulations(ch, k);
    }
    g.Options()->SetEnableDuplexIntMod(true);
    g.Options()->SetOverModulationNotify(false);
  }
  static void ChangeModulations(TZuGen4Channel* ch, int k);

  // A whole settings file of the given version, as stored.
  static Bytes RecordOf(TZuGen4& g, int version) {
    TZuGen4FileStream s;
    s.OpenMemoryForWriting();
    s.SetRecordVersion(version);
    s.WriteBytes(TZuGen4::FIOMetrics, 4).WriteInt(version);
    g.WriteDataToFile(s);
    return s.MemoryBytes();
  }
  // The record parts of the engines that came after the version, on both channels.
  static Bytes LaterParts(TZuGen4& g, int version) {
    TZuGen4FileStream s;
    s.OpenMemoryForWriting();
    for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(g.ChA()), static_cast<TZuGen4Channel*>(g.ChB())})
      for (const auto& engine : ch->Engines())
        if (engine->RecordSince() > version) engine->WriteDataToFile(s);
    return s.MemoryBytes();
  }
  // The engine a property path lies in ("ChB.LFM.Tinc0"), or nullptr.
  static const TZuGen4Engine* EngineAt(TZuGen4& g, const std::string& path) {
    for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(g.ChA()), static_cast<TZuGen4Channel*>(g.ChB())})
      for (const auto& engine : ch->Engines())
        if (path.rfind(std::string(ch->IsChannelA() ? "ChA." : "ChB.") + engine->EngineName() + ".", 0) == 0)
          return engine.get();
    return nullptr;
  }

  std::filesystem::path dir;
};

void Settings::ChangeModulations(TZuGen4Channel* ch, int k) {
  TZuGen4IntModulation* im = ch->IntModulation();
  im->SetType(ZGAFPms_phase);
  im->SetFm(500 + k);
  im->SetdA(20 + k);
  im->SetdF(3000 + k);
  im->SetdPh(40 + k);
  im->SetMathFuncType(ZMFT_triangle);
  im->SetCC(0.25);
  TZuGen4DDSMod* dm = ch->DDSMod();
  dm->SetF1(2000 + k);
  dm->SetF2(2100 + k);
  dm->SetF3(2200 + k);
  dm->SetF4(2300 + k);
  dm->Set_dF(500 + k);
  dm->SetPh1(10 + k);
  dm->SetPh2(20 + k);
  dm->SetPh3(30 + k);
  dm->SetPh4(40 + k);
  dm->Set_dPh(45 + k);
  dm->SetT1(100 + k);
  dm->SetT2(200 + k);
  dm->SetT3(300 + k);
  dm->SetT4(400 + k);
  dm->SetMode(ZGTMs_QxSK);
  dm->SetType(ZGAFPms_phase);
  dm->SetUseExtTimes(true);
  dm->SetContBidiRamp(true);
  dm->SetFm(5000 + k);
  dm->SetReadingsCntMin(26);  // logical bytes 1A 00 00 00: 0x1A is data
  dm->SetCC(0.75);
  dm->SetMathFuncType(ZMFT_rect);
}

// The first version's record of the initial setup, and the file of the
// present version, whose number is that of the newest engine part.
TEST_F(Settings, InitialSetupIsTheFixedRecord) {
  const Bytes first = RecordOf(*gen, 1);
  ASSERT_EQ(first.size(), 475u);
  const Bytes head{'Z', 'u', 'G', '4', 1, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x39, 0x40};
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 21), head);

  int newest = 1;
  for (const auto& engine : gen->ChA()->Engines()) newest = std::max(newest, engine->RecordSince());
  ASSERT_EQ(TZuGen4::FIOMetricsVer, newest);
  gen->SaveToFile(Path("a.zg4"));
  const Bytes b = Read(Path("a.zg4"));
  ASSERT_EQ(b.size(), ZuTest::WholeSettingsFile());
  EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 8), (Bytes{static_cast<uint8_t>(newest), 0, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + 8, b.begin() + 21), Bytes(head.begin() + 8, head.end()));
  EXPECT_TRUE(Frames().empty());  // saving sends nothing
}

// A file of each earlier version lacks the parts of the engines that came
// later: read loosely or strictly, it sets everything it holds, and those
// engines take their defaults, whatever they held before.
TEST_F(Settings, FilesOfEveryVersionAreReadLeavingLaterPartsAsTheyWere) {
  ChangeEverything(*gen);
  TZuGen4 fresh;
  for (int version = 1; version <= TZuGen4::FIOMetricsVer; ++version) {
    const Bytes file = RecordOf(*gen, version);
    Write(Path("old.zg4"), file);
    for (const bool strict : {false, true}) {
      SCOPED_TRACE(std::to_string(version) + (strict ? " strict" : " loose"));
      TZuGen4 target;
      // Every property of the later engines away from its initial value.
      for (const TPropInfo& p : ListProperties(target)) {
        const TZuGen4Engine* engine = EngineAt(target, p.Path);
        const std::vector<std::string> values = ZuTest::Candidates(p, GetPropDouble(target, p.Path));
        if (engine && engine->RecordSince() > version && !p.ReadOnly && !values.empty())
          SetPropText(target, p.Path, values.front());
      }
      if (strict)
        LoadSettingsStrict(target, Path("old.zg4"));
      else
        target.LoadFromFile(Path("old.zg4"));
      EXPECT_EQ(RecordOf(target, version), file);
      EXPECT_EQ(LaterParts(target, version), LaterParts(fresh, version));
    }
  }
}

TEST_F(Settings, LineFeedBytesAreStoredWithACarriageReturnAndReadBack) {
  gen->SetUseExtRefFreq(true);
  gen->SetFreqScale(10);  // logical bytes 0A 00 00 00 at offset 9
  gen->SaveToFile(Path("a.zg4"));
  const Bytes b = Read(Path("a.zg4"));
  ASSERT_EQ(b.size(), ZuTest::WholeSettingsFile() + 1);
  EXPECT_EQ(Bytes(b.begin() + 9, b.begin() + 14), (Bytes{0x0D, 0x0A, 0, 0, 0}));

  Make(true);
  gen->LoadFromFile(Path("a.zg4"));
  EXPECT_TRUE(gen->UseExtRefFreq());
  EXPECT_EQ(gen->FreqScale(), 10);
  EXPECT_EQ(gen->GenFreq(), 250.0);
}

TEST_F(Settings, RoundTripRestoresEveryStoredProperty) {
  ChangeEverything(*gen);
  gen->SaveToFile(Path("saved.zg4"));
  const Bytes saved = Read(Path("saved.zg4"));
  ASSERT_GE(saved.size(), ZuTest::WholeSettingsFile());
  auto fresh = std::make_unique<TZuGen4>();
  ASSERT_NE(SavedBytes(*fresh), saved);
  fresh->LoadFromFile(Path("saved.zg4"));
  EXPECT_EQ(SavedBytes(*fresh), saved);
  // A few of them by name, so that a writer and reader that agree on nothing
  // cannot pass.
  EXPECT_EQ(fresh->RefFreq(), 24.5);
  EXPECT_EQ(fresh->ChA()->Mode(), ZGMdC_LFM);
  EXPECT_EQ(fresh->ChB()->Phase(), 32.0);
  EXPECT_EQ(fresh->ChB()->LFM()->Tdec1(), 402);
  EXPECT_FALSE(fresh->Options()->OverModulationNotify());
  EXPECT_EQ(fresh->ChA()->IntModulation()->MathFuncType(), ZMFT_triangle);
  EXPECT_EQ(fresh->ChB()->DDSMod()->ReadingsCntMin(), 26);
  EXPECT_EQ(fresh->ChB()->DDSMod()->CC(), 0.75);
  EXPECT_EQ(fresh->ChB()->DDSMod()->T4(), 402.0);
}

TEST_F(Settings, WrongHeaderRaisesTheEventAndChangesNothing) {
  gen->SaveToFile(Path("good.zg4"));
  Bytes unknown = Read(Path("good.zg4"));
  unknown[4] = TZuGen4::FIOMetricsVer + 1;
  Bytes zero = unknown;
  zero[4] = 0;
  const Bytes cases[] = {
      unknown, zero, Bytes(unknown.begin(), unknown.begin() + 7), {}, {'Z', 'u', 'G', '5', 1, 0, 0, 0}};
  ChangeEverything(*gen);
  const Bytes before = SavedBytes(*gen);
  int events = 0;
  gen->OnErrorFile = [&](TObject* s) { events += s == gen.get(); };
  for (const Bytes& c : cases) {
    Write(Path("bad.zg4"), c);
    EXPECT_NO_THROW(gen->LoadFromFile(Path("bad.zg4")));
  }
  EXPECT_EQ(events, 5);
  EXPECT_EQ(SavedBytes(*gen), before);
}

// The component's fixed text, then the file and the system's reason; the
// same in English alone as the detail.
TEST_F(Settings, FilesThatCannotBeUsedRaiseAnInputOutputErrorNamingFileAndReason) {
  const std::pair<std::string, int> cases[] = {
      {Path("missing.zg4"), ENOENT}, {"", ENOENT}, {dir.string(), EISDIR}, {Path("no/such/dir/a.zg4"), ENOENT}};
  for (const auto& [name, error] : cases) {
    SCOPED_TRACE(name);
    const std::string reason = std::generic_category().message(error);
    try {
      gen->LoadFromFile(name);
      ADD_FAILURE() << "no exception";
    } catch (const EFileError& e) {
      const std::string shown = name.empty() ? "\"\"" : name;
      EXPECT_EQ(std::string(e.what()), "Ошибка при открытии файла " + shown + ": " + reason);
      EXPECT_EQ(e.Detail(), "cannot read " + shown + ": " + reason);
      EXPECT_EQ(e.ErrorNumber(), error);
      EXPECT_EQ(e.FileName(), name);
    }
    if (name != Path("missing.zg4")) {
      EXPECT_THROW(gen->SaveToFile(name), EInOutError);
    }
  }
  // A save whose bytes do not reach the disk is no success either.
  if (std::filesystem::exists("/dev/full")) {
    try {
      gen->SaveToFile("/dev/full");
      ADD_FAILURE() << "no exception";
    } catch (const EFileError& e) {
      EXPECT_EQ(std::string(e.what()), "Ошибка при записи файла /dev/full: No space left on device");
      EXPECT_EQ(e.ErrorNumber(), ENOSPC);
    }
  }
  // The generator is still usable afterwards.
  gen->SaveToFile(Path("a.zg4"));
  EXPECT_NO_THROW(gen->LoadFromFile(Path("a.zg4")));
}

TEST_F(Settings, ATruncatedFileAppliesWhatIsCompletelyThere) {
  ChangeEverything(*gen);
  const Bytes full = SavedBytes(*gen);
  // 100 bytes end inside channel A's sweep record: Tinc0 is whole, Tinc1 not.
  Write(Path("cut.zg4"), Bytes(full.begin(), full.begin() + 100));
  Make(true);
  gen->LoadFromFile(Path("cut.zg4"));
  EXPECT_EQ(gen->FreqScale(), 12);
  EXPECT_EQ(gen->ChA()->Frequency(), 1501.0);
  EXPECT_EQ(gen->ChA()->LFM()->FreqTop(), 3001);
  EXPECT_EQ(gen->ChA()->LFM()->Tinc0(), 101);
  EXPECT_EQ(gen->ChA()->LFM()->Tinc1(), 0);
  EXPECT_EQ(gen->ChB()->Frequency(), 1000.0);
  EXPECT_TRUE(gen->Options()->OverModulationNotify());
  EXPECT_TRUE(gen->AutoUpdate());
}

TEST_F(Settings, ValuesThatWouldBreakTheSystemClockAreRefused) {
  gen->SaveToFile(Path("a.zg4"));
  Bytes b = Read(Path("a.zg4"));
  b[8] = 1;                                                                  // external reference
  b[9] = 0;                                                                  // multiplier 0
  for (int i = 13; i < 21; ++i) b[i] = 0xFF;                                 // reference NaN
  for (int i = 25; i < 33; ++i) b[i] = i == 32 ? 0x7F : i == 31 ? 0xF0 : 0;  // channel A frequency +inf
  Write(Path("a.zg4"), b);
  gen->LoadFromFile(Path("a.zg4"));
  EXPECT_TRUE(gen->UseExtRefFreq());
  EXPECT_EQ(gen->FreqScale(), 16);
  EXPECT_EQ(gen->RefFreq(), 25.0);
  EXPECT_EQ(gen->GenFreq(), 400.0);
  EXPECT_EQ(gen->ChA()->Frequency(), 1000.0);
}

TEST_F(Settings, LoadingUpdatesOnceAtTheEndOnlyWhenAutomaticUpdateIsOn) {
  for (bool autoUpdate : {true, false}) {
    SCOPED_TRACE(autoUpdate);
    Make(true);
    ChangeEverything(*gen);
    gen->ChA()->SetMode(ZGMdC_gen);
    gen->SaveToFile(Path("a.zg4"));
    Make(true);
    gen->SetAutoUpdate(autoUpdate);
    Activate();
    int updates = 0;
    gen->AfterUpdate = [&](TObject*) { ++updates; };
    gen->LoadFromFile(Path("a.zg4"));
    EXPECT_EQ(gen->AutoUpdate(), autoUpdate);
    EXPECT_EQ(updates, autoUpdate ? 1 : 0);
    EXPECT_EQ(Frames().empty(), !autoUpdate);
  }
}

// Whatever step of a save fails, the old file keeps every byte and no
// temporary file stays behind; the failure is an EInOutError.
TEST_F(Settings, ASaveFailingAtAnyStepLeavesTheOldFileAndNoTemporaryFile) {
  const std::string target = Path("a.zg4");
  gen->SaveToFile(target);
  const Bytes old = Read(target);
  ChangeEverything(*gen);
  const TSaveStep steps[] = {TSaveStep::Create, TSaveStep::Permissions, TSaveStep::Write,
                             TSaveStep::Sync,   TSaveStep::Close,       TSaveStep::Replace};
  for (const TSaveStep failing : steps) {
    SCOPED_TRACE(int(failing));
    TZuGen4FileStream::SetSaveFaultHook([&](TSaveStep s) { return s == failing ? ENOSPC : 0; });
    try {
      gen->SaveToFile(target);
      ADD_FAILURE() << "no exception";
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string(failing == TSaveStep::Create ? "Ошибка при открытии файла " : "Ошибка при записи файла ") +
                    target + ": No space left on device");
    }
    TZuGen4FileStream::SetSaveFaultHook(nullptr);
    EXPECT_EQ(Read(target), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  }
  gen->SaveToFile(target);
  EXPECT_NE(Read(target), old);
}

// A save replaces the file a link points at, with that file's permissions,
// and the link stays (POSIX); UTF-8 names reach the same file everywhere (on
// Windows the file has the wide name, whatever the ANSI code page).
TEST_F(Settings, ASaveKeepsTheLinkAndThePermissions) {
  namespace fs = std::filesystem;
  const fs::path target = dir / fs::path(u8"настройки.zg4");
  gen->SaveToFileUtf8(Utf8(target));
#if defined(_WIN32)
  EXPECT_TRUE(fs::exists(target));
  ChangeEverything(*gen);
  gen->SaveToFileUtf8(Utf8(target));
#else
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(target.filename(), dir / "link.zg4");
  ChangeEverything(*gen);
  gen->SaveToFile(Path("link.zg4"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.zg4"));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
  const Bytes saved = Read(target);
  Make(true);
  gen->LoadFromFileUtf8(Utf8(target));
  EXPECT_EQ(SavedBytes(*gen), saved);
}

#if !defined(_WIN32)
// Killed in the middle of saves, a process leaves the old or the new file,
// never a mixture or a cut one.
TEST_F(Settings, AKilledSaverLeavesTheOldOrTheNewFileWhole) {
  const std::string target = Path("a.zg4");
  auto other = std::make_unique<TZuGen4>();
  ChangeEverything(*other);
  const Bytes one = SavedBytes(*gen), two = SavedBytes(*other);
  gen->SaveToFile(target);
  int seenTwo = 0;
  // On a loaded machine a child may not get to save before its kill: the
  // rounds go on until one did.
  for (int round = 0; round < 40 || (seenTwo == 0 && round < 400); ++round) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        other->SaveToFile(target);
        gen->SaveToFile(target);
      }
    }
    ::usleep(static_cast<useconds_t>(200 + 97 * round % 3000));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const Bytes found = Read(target);
    ASSERT_TRUE(found == one || found == two) << "round " << round << ": " << found.size() << " bytes";
    seenTwo += found == two;
  }
  EXPECT_GT(seenTwo, 0);  // the saves did run before the kills
  // The next save takes away what the killed ones left.
  gen->SaveToFile(target);
  for (const auto& e : std::filesystem::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().rfind(".a.zg4.", 0), std::string::npos) << e.path();
}
#endif

// The strict read of the faces: a file ending anywhere inside the record is
// refused, naming the byte and the size a whole file has, and nothing changes.
// The component's LoadFromFile keeps its partial load (see above).
TEST_F(Settings, AStrictLoadRefusesAFileCutAnywhereAndChangesNothing) {
  gen->SaveToFile(Path("whole.zg4"));
  const Bytes whole = Read(Path("whole.zg4"));
  ASSERT_EQ(whole.size(), ZuTest::WholeSettingsFile());
  const std::string wholeSize = std::to_string(whole.size());
  ChangeEverything(*gen);
  const Bytes before = SavedBytes(*gen);
  int events = 0;
  gen->OnErrorFile = [&](TObject*) { ++events; };
  Driver().ClearTrace();
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    Write(Path("cut.zg4"), Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut)));
    try {
      LoadSettingsStrict(*gen, Path("cut.zg4"));
      ADD_FAILURE() << cut << " bytes taken";
    } catch (const EFileError& e) {
      const std::string reason = "it ends at byte " + std::to_string(cut) +
                                 ", inside the settings record (a whole settings file is " + wholeSize + " bytes)";
      ASSERT_EQ(e.Reason(), reason) << cut;
      EXPECT_EQ(e.Detail(), "cannot read " + Path("cut.zg4") + ": " + reason);
      EXPECT_EQ(e.ErrorNumber(), 0);
    }
  }
  EXPECT_EQ(events, 8);  // a cut header is a wrong header too
  Bytes longer = whole;
  longer.push_back(0);
  Write(Path("long.zg4"), longer);
  try {
    LoadSettingsStrict(*gen, Path("long.zg4"));
    ADD_FAILURE() << "a longer file taken";
  } catch (const EFileError& e) {
    EXPECT_EQ(e.Reason(), "it goes on after the settings record, which ends at byte " + wholeSize);
  }
  EXPECT_EQ(SavedBytes(*gen), before);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(SettingsRecordFault(std::string(whole.begin(), whole.begin() + 100)),
            "it ends at byte 100, inside the settings record (a whole settings file is " + wholeSize + " bytes)");
  EXPECT_EQ(SettingsRecordFault(std::string(whole.begin(), whole.end())), "");

  // A whole file is taken, one with a stored 0x0A included.
  LoadSettingsStrict(*gen, Path("whole.zg4"));
  EXPECT_EQ(SavedBytes(*gen), whole);
  ChangeEverything(*gen);
  gen->SetFreqScale(10);
  const Bytes escaped = SavedBytes(*gen);
  Make(true);
  LoadSettingsStrict(*gen, Path("compare.zg4"));
  EXPECT_EQ(SavedBytes(*gen), escaped);
}

#if !defined(_WIN32)
// Files that are no place for a settings file: refused at once (nothing
// waits for a pipe's other end), with the reason, and left as they were.
TEST_F(Settings, ReadOnlyFilesPipesAndDevicesAreRefusedUntouched) {
  const std::string ro = Path("ro.zg4"), fifo = Path("fifo.zg4");
  gen->SaveToFile(ro);
  const Bytes old = Read(ro);
  ::chmod(ro.c_str(), 0444);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ChangeEverything(*gen);
  const Bytes before = SavedBytes(*gen);
  struct TCase {
    std::string File;
    bool Save;
    std::string Reason;
  };
  const TCase cases[] = {{ro, true, "the file is read-only"},
                         {fifo, true, "it is a pipe nobody reads"},
                         {fifo, false, "it is a pipe, not a regular file"},
                         {"/dev/null", false, "it is a device, not a regular file"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File + (c.Save ? " save" : " load"));
    try {
      if (c.Save)
        gen->SaveToFile(c.File);
      else
        LoadSettingsStrict(*gen, c.File);
      ADD_FAILURE() << "no exception";
    } catch (const EFileError& e) {
      EXPECT_EQ(e.Reason(), c.Reason);
    }
    if (!c.Save) {
      EXPECT_THROW(gen->LoadFromFile(c.File), EFileError);
    }
  }
  EXPECT_EQ(Read(ro), old);
  struct stat st {};
  ASSERT_EQ(::stat(ro.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(SavedBytes(*gen), before);
}

// The temporary file has a name nobody can foresee; those a killed save left
// beside the same target go with the next save once their writer is gone (or
// after an hour); a running save's, other files and links stay.
TEST_F(Settings, TemporaryNamesAreUnforeseeableAndStaleOnesAreRemoved) {
  namespace fs = std::filesystem;
  const std::string target = Path("a.zg4");
  std::vector<std::string> temps;
  TZuGen4FileStream::SetSaveFaultHook([&](TSaveStep s) {
    if (s == TSaveStep::Write)
      for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(".a.zg4.", 0) == 0) temps.push_back(e.path().filename().string());
    return 0;
  });
  gen->SaveToFile(target);
  gen->SaveToFile(target);
  TZuGen4FileStream::SetSaveFaultHook(nullptr);
  ASSERT_EQ(temps.size(), 2u);
  const std::regex form("\\.a\\.zg4\\." + std::to_string(::getpid()) + "\\.[0-9a-f]{16}\\.tmp");
  EXPECT_TRUE(std::regex_match(temps[0], form)) << temps[0];
  EXPECT_NE(temps[0], temps[1]);

  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string dead = std::to_string(gone), live = std::to_string(::getppid());
  const std::string hex = ".0123456789abcdef.tmp";
  const std::pair<std::string, bool> files[] = {
      {".a.zg4." + dead + hex, true},          {".a.zg4." + live + hex, false}, {".a.zg4.old" + hex, false},
      {".a.zg4." + dead + ".0123.tmp", false}, {".b.zg4." + dead + hex, false}, {"a.zg4." + dead + hex, false}};
  for (const auto& [name, _] : files) std::ofstream(dir / name) << "x";
  const std::string aged = ".a.zg4." + live + ".fedcba9876543210.tmp";
  std::ofstream(dir / aged) << "x";
  fs::last_write_time(dir / aged, fs::file_time_type::clock::now() - std::chrono::hours(2));
  const std::string link = ".a.zg4." + dead + ".00000000000000aa.tmp";
  fs::create_symlink("a.zg4", dir / link);
  gen->SaveToFile(target);
  for (const auto& [name, removed] : files) EXPECT_EQ(fs::exists(dir / name), !removed) << name;
  EXPECT_FALSE(fs::exists(dir / aged));
  EXPECT_TRUE(fs::is_symlink(dir / link));
}
#endif

}  // namespace
