// The settings file of the whole generator: a signature, a version and one
// fixed-layout record, every class writing and reading its own part in order.
// Reading stores values as found, without the setters' rules, so that a
// loaded setup is exactly the saved one; only values that would break the
// system clock (a reference or multiplier no generator can hold) or that are
// not numbers at all are refused, and the property keeps its value.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/RecordFields.h"
#include "zugen4/ZuSettingsFile.h"
#include "zugen4/Zugen4.hpp"

namespace Zu {

namespace {

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

bool KnownVersion(int32_t version) { return version >= 1 && version <= TZuGen4::FIOMetricsVer; }

// Bytes of a whole settings file of a version this library reads (header and
// record; a stored 0x0D 0x0A is one). The layout is fixed: any generator gives it.
size_t WholeRecordSize(int32_t version = TZuGen4::FIOMetricsVer) {
  static const std::vector<size_t> sizes = [] {
    std::vector<size_t> out(TZuGen4::FIOMetricsVer + 1);
    TZuGen4 gen;
    for (int32_t v = 1; v <= TZuGen4::FIOMetricsVer; ++v) {
      TZuGen4FileStream s;
      s.OpenMemoryForWriting();
      s.SetRecordVersion(v);
      s.WriteBytes(TZuGen4::FIOMetrics, 4).WriteInt(v);
      gen.WriteDataToFile(s);
      out[v] = s.Position();
    }
    return out;
  }();
  return sizes[KnownVersion(version) ? version : TZuGen4::FIOMetricsVer];
}

// The versions this library reads, in words.
std::string KnownVersions() {
  return TZuGen4::FIOMetricsVer == 1 ? "version 1" : "versions 1 to " + std::to_string(TZuGen4::FIOMetricsVer);
}

struct TRecordFault {
  std::string Text;     // empty: one whole record of a version this library reads
  bool Header = false;  // the signature or the version is at fault
  int32_t Version = 0;  // the version its header gives
};

TRecordFault RecordFault(const std::vector<uint8_t>& stored) {
  TZuGen4FileStream s;
  s.OpenMemoryForReading(stored);
  const size_t signatureThere = std::min<size_t>(stored.size(), 4);
  if (signatureThere > 0 && std::memcmp(stored.data(), TZuGen4::FIOMetrics, signatureThere) != 0)
    return {"it does not start with the signature ZuG4 of a settings file", true};
  char signature[4] = {};
  int32_t version = 0;
  const bool headerThere = s.ReadBytes(signature, 4) && s.ReadInt(version);
  if (headerThere && !KnownVersion(version))
    return {"it is a settings file of version " + std::to_string(version) + "; this library reads " + KnownVersions(),
            true};
  const size_t whole = WholeRecordSize(headerThere ? version : TZuGen4::FIOMetricsVer);
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
  return {{}, false, version};
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
  record.SetRecordVersion(fault.Version);
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
  if (!FStream->ReadInt(version) || !KnownVersion(version)) return true;
  FStream->SetRecordVersion(version);
  return false;
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
  for (const auto& engine : FEngines)
    if (engine->RecordSince() <= stream.RecordVersion()) engine->WriteDataToFile(stream);
  return stream;
}

TZuGen4FileStream& TZuGen4Channel::ReadDataFromFile(TZuGen4FileStream& stream) {
  uint8_t spare = 0;
  if (ReadField(stream, FMode) && ReadField(stream, FLoaded) && ReadField(stream, FOpened) && stream.ReadByte(spare) &&
      ReadField(stream, FFrequency) && ReadField(stream, FAmplitude) && ReadField(stream, FPhase)) {
    for (size_t i = 0; i < FEngines.size(); ++i) {
      if (FEngines[i]->RecordSince() <= stream.RecordVersion()) {
        FEngines[i]->ReadDataFromFile(stream);
      } else {
        // A record from before the engine came: the setup it describes had
        // the engine's defaults, which a new generator's engine holds.
        const TZuGen4 fresh;
        const TZuGen4Channel* same = IsChannelA() ? static_cast<TZuGen4Channel*>(fresh.ChA()) : fresh.ChB();
        TZuGen4FileStream part;
        part.OpenMemoryForWriting();
        same->Engines()[i]->WriteDataToFile(part);
        TZuGen4FileStream defaults;
        defaults.OpenMemoryForReading(part.MemoryBytes());
        FEngines[i]->ReadDataFromFile(defaults);
      }
    }
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

}  // namespace Zu
