// The settings file of the whole generator: a signature, a version and one
// fixed-layout record, every class writing and reading its own part in order.
// Reading stores values as found, without the setters' rules, so that a
// loaded setup is exactly the saved one; only values that would break the
// system clock (a reference or multiplier no generator can hold) or that are
// not numbers at all are refused, and the property keeps its value.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/ZuFileStream.h"
#include "zugen4/ZuSettingsFile.h"
#include "zugen4/Zugen4.hpp"

namespace Zu {

namespace {

// Applies a read value only when it was read completely.
template <typename T, typename Apply>
bool ReadInto(TZuGen4FileStream& s, Apply apply) {
  T v{};
  bool ok = false;
  if constexpr (std::is_same_v<T, bool>)
    ok = s.ReadBool(v);
  else if constexpr (std::is_same_v<T, uint8_t>)
    ok = s.ReadByte(v);
  else if constexpr (std::is_same_v<T, int32_t>)
    ok = s.ReadInt(v);
  else
    ok = s.ReadDouble(v);
  if (ok) apply(v);
  return ok;
}

bool ReadField(TZuGen4FileStream& s, bool& field) {
  return ReadInto<bool>(s, [&](bool v) { field = v; });
}
bool ReadField(TZuGen4FileStream& s, int& field) {
  return ReadInto<int32_t>(s, [&](int32_t v) { field = v; });
}
template <typename E>
requires std::is_enum_v<E>
bool ReadField(TZuGen4FileStream& s, E& field) {
  return ReadInto<uint8_t>(s, [&](uint8_t v) { field = static_cast<E>(v); });
}
// Not-a-number and infinities are nothing any property can hold.
bool ReadField(TZuGen4FileStream& s, double& field) {
  return ReadInto<double>(s, [&](double v) {
    if (std::isfinite(v)) field = v;
  });
}

// Keeps a restore of the generator's automatic update, also on an exception.
class TAutoUpdatePause {
 public:
  explicit TAutoUpdatePause(TZuGen4& gen) : FGen(gen), FWas(gen.AutoUpdate()) { gen.SetAutoUpdate(false); }
  ~TAutoUpdatePause() noexcept(false) {
    // The restore may run an update, whose link failure must still reach the
    // caller, unless another exception is already on its way.
    if (std::uncaught_exceptions() > FUncaught) {
      try {
        FGen.SetAutoUpdate(FWas);
      } catch (...) {
      }
    } else {
      FGen.SetAutoUpdate(FWas);
    }
  }

 private:
  TZuGen4& FGen;
  bool FWas;
  int FUncaught = std::uncaught_exceptions();
};

// The file and the system's reason after the component's fixed text; in
// English alone as the detail.
[[noreturn]] void ThrowFileError(const char* fixedText, const std::string& fileName, bool writing,
                                 const TZuGen4FileStream& stream) {
  const std::string where = (fileName.empty() ? std::string("\"\"") : fileName) + ": " + stream.FailureReason();
  throw EFileError(std::string(fixedText) + " " + where, (writing ? "cannot write " : "cannot read ") + where, fileName,
                   stream.ErrorNumber(), stream.FailureReason());
}

// Bytes of a whole settings file of this version as read (header and record;
// a stored 0x0D 0x0A is one). The layout is fixed: any generator gives it.
size_t WholeRecordSize() {
  static const size_t size = [] {
    TZuGen4 gen;
    TZuGen4FileStream s;
    s.OpenMemoryForWriting();
    s.WriteBytes(TZuGen4::FIOMetrics, 4).WriteInt(TZuGen4::FIOMetricsVer);
    gen.WriteDataToFile(s);
    return s.Position();
  }();
  return size;
}

struct TRecordFault {
  std::string Text;     // empty: one whole record of this version
  bool Header = false;  // the signature or the version is at fault
};

TRecordFault RecordFault(const std::vector<uint8_t>& stored) {
  const size_t whole = WholeRecordSize();
  TZuGen4FileStream s;
  s.OpenMemoryForReading(stored);
  const size_t signatureThere = std::min<size_t>(stored.size(), 4);
  if (signatureThere > 0 && std::memcmp(stored.data(), TZuGen4::FIOMetrics, signatureThere) != 0)
    return {"it does not start with the signature ZuG4 of a settings file", true};
  char signature[4] = {};
  int32_t version = 0;
  const bool headerThere = s.ReadBytes(signature, 4) && s.ReadInt(version);
  if (headerThere && version != TZuGen4::FIOMetricsVer)
    return {"it is a settings file of version " + std::to_string(version) + "; this library reads version " +
                std::to_string(TZuGen4::FIOMetricsVer),
            true};
  uint8_t b = 0;
  while (s.Position() < whole && s.ReadByte(b)) {
  }
  if (s.Position() < whole)
    return {"it ends at byte " + std::to_string(stored.size()) +
                ", inside the settings record (a whole settings file is " +
                std::to_string(stored.size() + whole - s.Position()) + " bytes)",
            !headerThere};
  if (s.Offset() < stored.size())
    return {"it goes on after the settings record, which ends at byte " + std::to_string(s.Offset())};
  return {};
}

}  // namespace

// --- strict reads ---

std::string SettingsRecordFault(std::string_view bytes) {
  return RecordFault(std::vector<uint8_t>(bytes.begin(), bytes.end())).Text;
}

void LoadSettingsStrict(TZuGen4& gen, const std::string& fileName, TFileNameEncoding encoding) {
  std::vector<uint8_t> stored;
  {
    TZuGen4FileStream file;
    // Every byte could be a stored 0x0D 0x0A: more than twice the record is no settings file.
    if (!file.OpenForReading(fileName, encoding) || !file.ReadStored(stored, 2 * WholeRecordSize()))
      ThrowFileError(TZuGen4::MSG_FILE_OPEN_ERROR, fileName, false, file);
  }
  const TRecordFault fault = RecordFault(stored);
  if (!fault.Text.empty()) {
    if (fault.Header && gen.OnErrorFile) gen.OnErrorFile(&gen);
    const std::string detail = "cannot read " + fileName + ": " + fault.Text;
    throw EFileError(detail, detail, fileName, 0, fault.Text);
  }
  TZuGen4FileStream record;
  record.OpenMemoryForReading(std::move(stored));
  uint8_t header[8];
  record.ReadBytes(header, sizeof header);
  gen.ReadDataFromFile(record);
}

// --- generator ---

void TZuGen4::SaveToFile(const std::string& FileName) { SaveTo(FileName, TFileNameEncoding::System); }
void TZuGen4::SaveToFileUtf8(const std::string& FileName) { SaveTo(FileName, TFileNameEncoding::Utf8); }
void TZuGen4::LoadFromFile(const std::string& FileName) { LoadFrom(FileName, TFileNameEncoding::System); }
void TZuGen4::LoadFromFileUtf8(const std::string& FileName) { LoadFrom(FileName, TFileNameEncoding::Utf8); }

void TZuGen4::SaveTo(const std::string& FileName, TFileNameEncoding encoding) {
  if (!FStream->OpenForWriting(FileName, encoding)) ThrowFileError(MSG_FILE_OPEN_ERROR, FileName, true, *FStream);
  try {
    FStream->WriteBytes(FIOMetrics, 4);
    FStream->WriteInt(FIOMetricsVer);
    WriteDataToFile(*FStream);
  } catch (...) {
    FStream->Discard();
    throw;
  }
  // Only a new file that reached the disk whole takes the old one's place.
  if (!FStream->Close()) ThrowFileError(MSG_FILE_WRITE_ERROR, FileName, true, *FStream);
}

void TZuGen4::LoadFrom(const std::string& FileName, TFileNameEncoding encoding) {
  if (!FStream->OpenForReading(FileName, encoding)) ThrowFileError(MSG_FILE_OPEN_ERROR, FileName, false, *FStream);
  try {
    if (CheckIOMetrics()) {
      Fire(OnErrorFile);
    } else {
      ReadDataFromFile(*FStream);
    }
  } catch (...) {
    FStream->Close();
    throw;
  }
  FStream->Close();
}

bool TZuGen4::CheckIOMetrics() {
  for (int i = 0; i < 4; ++i) {
    uint8_t b = 0;
    if (!FStream->ReadByte(b) || b != static_cast<uint8_t>(FIOMetrics[i])) return true;
  }
  int32_t version = 0;
  return !FStream->ReadInt(version) || version != FIOMetricsVer;
}

TZuGen4FileStream& TZuGen4::WriteDataToFile(TZuGen4FileStream& stream) {
  stream.WriteBool(FUseExtRefFreq).WriteInt(FFreqScale).WriteDouble(FRefFreq);
  FChA->WriteDataToFile(stream);
  FChB->WriteDataToFile(stream);
  FOptions->WriteDataToFile(stream);
  return stream;
}

TZuGen4FileStream& TZuGen4::ReadDataFromFile(TZuGen4FileStream& stream) {
  const TAutoUpdatePause pause(*this);
  const bool complete = ReadField(stream, FUseExtRefFreq) &&
                        ReadInto<int32_t>(stream,
                                          [&](int32_t v) {
                                            // The multiplier and the reference must leave a usable system clock.
                                            if (v >= FREQSCALE_MIN && v <= FREQSCALE_MAX) FFreqScale = v;
                                          }) &&
                        ReadInto<double>(stream, [&](double v) {
                          if (std::isfinite(v) && v > 0.0) FRefFreq = v;
                        });
  CalcGenFreq();
  if (complete) {
    FChA->ReadDataFromFile(stream);
    FChB->ReadDataFromFile(stream);
    FOptions->ReadDataFromFile(stream);
  }
  return stream;
}

// --- channel ---

TZuGen4FileStream& TZuGen4Channel::WriteDataToFile(TZuGen4FileStream& stream) {
  stream.WriteByte(FMode).WriteBool(FLoaded).WriteBool(FOpened).WriteByte(0);
  stream.WriteDouble(FFrequency).WriteDouble(FAmplitude).WriteDouble(FPhase);
  for (const auto& engine : FEngines) engine->WriteDataToFile(stream);
  return stream;
}

TZuGen4FileStream& TZuGen4Channel::ReadDataFromFile(TZuGen4FileStream& stream) {
  uint8_t spare = 0;
  if (ReadField(stream, FMode) && ReadField(stream, FLoaded) && ReadField(stream, FOpened) && stream.ReadByte(spare) &&
      ReadField(stream, FFrequency) && ReadField(stream, FAmplitude) && ReadField(stream, FPhase)) {
    for (const auto& engine : FEngines) engine->ReadDataFromFile(stream);
  }
  return stream;
}

// --- options ---

TZuGen4FileStream& TZuGen4Options::WriteDataToFile(TZuGen4FileStream& stream) {
  return stream.WriteBool(FEnableDuplexIntMod).WriteBool(FOverModulationNotify);
}

TZuGen4FileStream& TZuGen4Options::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FEnableDuplexIntMod) && ReadField(stream, FOverModulationNotify);
  return stream;
}

// --- engines ---

TZuGen4FileStream& TZuGen4Tuner::WriteDataToFile(TZuGen4FileStream& stream) {
  return stream.WriteByte(FType).WriteInt(FScale).WriteBool(FADCTimerEnabled).WriteInt(FADCTimerInterval);
}

TZuGen4FileStream& TZuGen4Tuner::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FType) && ReadField(stream, FScale) && ReadField(stream, FADCTimerEnabled) &&
      ReadField(stream, FADCTimerInterval);
  return stream;
}

TZuGen4FileStream& TZuGen4ExtModulation::WriteDataToFile(TZuGen4FileStream& stream) {
  return stream.WriteByte(FType).WriteInt(FScale);
}

TZuGen4FileStream& TZuGen4ExtModulation::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FType) && ReadField(stream, FScale);
  return stream;
}

TZuGen4FileStream& TZuGen4LFM::WriteDataToFile(TZuGen4FileStream& stream) {
  return stream.WriteInt(FFreqTop).WriteInt(FTinc0).WriteInt(FTinc1).WriteInt(FTdec0).WriteInt(FTdec1);
}

TZuGen4FileStream& TZuGen4LFM::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FFreqTop) && ReadField(stream, FTinc0) && ReadField(stream, FTinc1) && ReadField(stream, FTdec0) &&
      ReadField(stream, FTdec1);
  return stream;
}

TZuGen4FileStream& TZuGen4IntModulation::WriteDataToFile(TZuGen4FileStream& stream) {
  stream.WriteByte(FType).WriteInt(FFm).WriteInt(FdA).WriteInt(FdF).WriteInt(FdPh);
  return stream.WriteByte(GetMathFuncType()).WriteDouble(GetCC());
}

// The shape and CC live in the table object and go through their setters; the
// update they ask for waits, automatic update being off while loading.
TZuGen4FileStream& TZuGen4IntModulation::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FType) && ReadField(stream, FFm) && ReadField(stream, FdA) && ReadField(stream, FdF) &&
      ReadField(stream, FdPh) &&
      ReadInto<uint8_t>(stream, [&](uint8_t v) { SetMathFuncType(static_cast<TMathFuncsTypes>(v)); }) &&
      ReadInto<double>(stream, [&](double v) { SetCC(v); });
  return stream;
}

TZuGen4FileStream& TZuGen4DDSMod::WriteDataToFile(TZuGen4FileStream& stream) {
  for (double v : {FF1, FF2, FF3, FF4, FdF, FFm, FPh1, FPh2, FPh3, FPh4, FdPh, FT1, FT2, FT3, FT4})
    stream.WriteDouble(v);
  stream.WriteByte(FMode).WriteByte(FType).WriteBool(FUseExtTimes).WriteBool(FContBidiRamp);
  return stream.WriteInt(FReadingsCntMin).WriteDouble(GetCC()).WriteByte(GetMathFuncType());
}

// Note the order: CC comes before the shape here.
TZuGen4FileStream& TZuGen4DDSMod::ReadDataFromFile(TZuGen4FileStream& stream) {
  bool ok = true;
  for (double* f : {&FF1, &FF2, &FF3, &FF4, &FdF, &FFm, &FPh1, &FPh2, &FPh3, &FPh4, &FdPh, &FT1, &FT2, &FT3, &FT4})
    ok = ok && ReadField(stream, *f);
  ok&& ReadField(stream, FMode) && ReadField(stream, FType) && ReadField(stream, FUseExtTimes) &&
      ReadField(stream, FContBidiRamp) && ReadField(stream, FReadingsCntMin) &&
      ReadInto<double>(stream, [&](double v) { SetCC(v); }) &&
      ReadInto<uint8_t>(stream, [&](uint8_t v) { SetMathFuncType(static_cast<TMathFuncsTypes>(v)); });
  return stream;
}

}  // namespace Zu
