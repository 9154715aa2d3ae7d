#include "zugen4/sim/SimModel.h"

#include <cstdio>

#include "zugen4/ZuCore.h"
#include "zugen4/extend/ZuCommands.h"
#include "zugen4/sim/SimInstrument.h"

namespace Zu::Sim {

namespace {

std::string Format(const char* fmt, auto... args) {
  char buf[200];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

double AmplPercent(uint32_t code) { return (code + 1.0) * 100.0 / 16384.0; }
double PhaseDeg(uint32_t code) { return code * 360.0 / 16384.0; }

}  // namespace

double TInstrumentModel::FreqKHz(uint32_t code) const { return code * SystemClockMHz() * 1e3 / 4294967296.0; }

std::string TInstrumentModel::Write(const uint8_t* bytes, uint32_t count) {
  if (FPendingBlock != 0) {
    FPendingBlock = 0;
    TSimChannelState& ch = FState.Ch[FPendingChannel];
    (FPendingKeying ? ch.KeyingBytes : ch.TableBytes) = count;
    return Format("%c %s data, %u bytes", FPendingChannel ? 'B' : 'A', FPendingKeying ? "keying" : "table", count);
  }
  return Frame(bytes, count);
}

std::string TInstrumentModel::Frame(const uint8_t* bytes, uint32_t count) {
  FReadAllowed = false;
  if (count == 0) return "empty write";
  TZuGen4ChNames chName = ZGCN_A;
  const TZuGen4CmdInfo* info = DecodeCommand(bytes[0], &chName);
  const std::vector<uint8_t> frame(bytes, bytes + count);
  if (!info) {
    return Format("unknown code %02X", bytes[0]);
  }
  if (count != info->Length) {
    return Format("%s (frame of %u bytes)", info->Name, count);
  }
  const int c = chName == ZGCN_B ? 1 : 0;
  TSimChannelState& ch = FState.Ch[c];
  std::string line = info->PerChannel() ? std::string(c ? "B " : "A ") + info->Name : std::string(info->Name);
  const uint32_t v32 = count >= 5 ? GetBigEndian(bytes + 1, 4) : 0;
  const uint32_t v16 = count >= 3 ? GetBigEndian(bytes + 1, 2) : 0;
  auto raw = [&] { return " " + HexBytes(std::vector<uint8_t>(frame.begin() + 1, frame.end())); };
  switch (info->Code) {
    case ZGCmd_Reset:
      FState.Ch = {};
      FState.SweepRunning = false;
      FState.ExtTimes = false;
      ++FState.Resets;
      break;
    case ZGCmd_OutputOn:
      ch.Output = true;
      if (ch.Mode == "off") ch.Mode = "sine";
      break;
    case ZGCmd_OutputOff:
      ch.Output = false;
      ch.Mode = "off";
      break;
    case ZGCmd_Freq:
      ch.FreqCode = v32;
      line += Format(" 0x%08X = %.3f kHz", v32, FreqKHz(v32));
      break;
    case ZGCmd_Freq1:
      ch.Freq1Code = v32;
      line += Format(" 0x%08X = %.3f kHz", v32, FreqKHz(v32));
      break;
    case ZGCmd_Ampl:
      if (v16 > 0x3FFF) FViolations.push_back(Format("%c ampl code %u above 16383", c ? 'B' : 'A', v16));
      ch.AmplCode = v16;
      line += Format(" 0x%04X = %.2f %%", v16, AmplPercent(v16));
      break;
    case ZGCmd_Phase:
      if (v16 > 0x3FFF) FViolations.push_back(Format("%c phase code %u above 16383", c ? 'B' : 'A', v16));
      ch.PhaseCode = v16;
      line += Format(" 0x%04X = %.2f deg", v16, PhaseDeg(v16));
      break;
    case ZGCmd_ExtFreqScale:
      if (bytes[1] == 0) FViolations.push_back("reference multiplier 0");
      FState.Multiplier = bytes[1];
      line += Format(" %u = %.3f MHz system clock", unsigned{bytes[1]}, SystemClockMHz());
      break;
    case ZGCmd_TuneFreq:
    case ZGCmd_TuneAmpl:
    case ZGCmd_TunePhase:
      ch.TuneScale = bytes[1];
      ch.TuneWhat = info->Code == ZGCmd_TuneFreq ? "frequency" : info->Code == ZGCmd_TuneAmpl ? "amplitude" : "phase";
      ch.Mode = "tuning (" + ch.TuneWhat + ")";
      line += Format(" span scale %u", unsigned{bytes[1]});
      break;
    case ZGCmd_IntModTable:
    case ZGCmd_DDSModData: {
      // Channel A announces the byte count; channel B the start and end offsets.
      const uint32_t first = GetBigEndian(bytes + 1, 2);
      const uint32_t last = GetBigEndian(bytes + 3, 2);
      const bool rangeForm = info->Code == ZGCmd_IntModTable && c == 1;
      if (rangeForm && last < first)
        FViolations.push_back(Format("B table range %u to %u runs backwards", first, last));
      FPendingBlock = rangeForm ? (last >= first ? last - first : 0) : first;
      FPendingChannel = c;
      FPendingKeying = info->Code == ZGCmd_DDSModData;
      if (FPendingBlock == 0) FViolations.push_back(std::string(info->Name) + " announces an empty block");
      line += rangeForm ? Format(" bytes %u to %u", first, last) : Format(" %u bytes follow", first);
      break;
    }
    case ZGCmd_IntModStart:
      if (ch.TableBytes == 0) FViolations.push_back(Format("%c intmod start without a table", c ? 'B' : 'A'));
      ch.Mode = "internal modulation (single)";
      line += raw();
      break;
    case ZGCmd_IntModPrepare:
      ch.Prepared = true;
      line += raw();
      break;
    case ZGCmd_IntModDoubleStart:
      for (TSimChannelState& s : FState.Ch) {
        if (!s.Prepared) FViolations.push_back("intmod double start with a channel not prepared");
        if (s.TableBytes == 0) FViolations.push_back("intmod double start without a table");
        s.Mode = "internal modulation (double)";
      }
      break;
    case ZGCmd_IntModDuplexStart:
      if (FState.Ch[0].TableBytes == 0) FViolations.push_back("intmod duplex start without a table");
      FState.Ch[0].Mode = FState.Ch[1].Mode = "internal modulation (duplex)";
      line += raw();
      break;
    case ZGCmd_IntModStop:
    case ZGCmd_IntModDoubleStop:
      for (TSimChannelState& s : FState.Ch)
        if (info->Code == ZGCmd_IntModDoubleStop || &s == &ch) s.Mode = s.Output ? "sine" : "off";
      break;
    case ZGCmd_ExtModStart:
      ch.Mode = "external modulation";
      line += raw();
      break;
    case ZGCmd_ExtModStartA12:
      FState.Ch[0].Mode = "external modulation (A12)";
      line += raw();
      break;
    case ZGCmd_ExtModDouble:
      FState.Ch[0].Mode = FState.Ch[1].Mode = "external modulation (double)";
      line += raw();
      break;
    case ZGCmd_ExtModDuplexStart:
      FState.Ch[0].Mode = FState.Ch[1].Mode = "external modulation (AB1)";
      line += raw();
      break;
    case ZGCmd_LFMRun:
      FState.SweepRunning = true;
      for (TSimChannelState& s : FState.Ch)
        if (s.Freq1Code && s.Output) s.Mode = "sweep";
      break;
    case ZGCmd_Ramp0:
    case ZGCmd_Ramp1:
    case ZGCmd_Ramp2:
    case ZGCmd_Ramp3:
      ch.Ramps = std::max(ch.Ramps, info->Code - ZGCmd_Ramp0 + 1);
      line += raw();
      break;
    case ZGCmd_Control:
      ch.Mode = "keying";
      line += raw();
      break;
    case ZGCmd_DDSModSelect:
      if (ch.KeyingBytes > 0 || ch.Ramps == 0) ch.Mode = "keying (user table)";
      line += raw();
      break;
    case ZGCmd_DDSModExtTimes: FState.ExtTimes = true; break;
    case ZGCmd_Update:
    case ZGCmd_UpdateSync: ++FState.Updates; break;
    case ZGCmd_ReadADC: FReadAllowed = true; break;
    default:
      if (info->Args != TZuGen4CmdArgs::None) line += raw();
      break;
  }
  return line;
}

std::string TInstrumentModel::Read(const uint8_t* bytes, uint32_t count) {
  FReadAllowed = false;
  const uint32_t v = count > 0 ? GetBigEndian(bytes, count > 4 ? 4 : count) : 0;
  FState.LastADC = v;
  return Format("ADC reading %u (%u bytes)", v, count);
}

std::string TInstrumentModel::StateText() const {
  std::string out = Format("system clock %.3f MHz (multiplier %u x %.0f MHz)%s\n", SystemClockMHz(), FState.Multiplier,
                           kReferenceMHz, FState.SweepRunning ? ", sweep running" : "");
  for (int c = 0; c < 2; ++c) {
    const TSimChannelState& ch = FState.Ch[c];
    out += Format("channel %c: output %s, %s\n", c ? 'B' : 'A', ch.Output ? "on" : "off", ch.Mode.c_str());
    if (!ch.Output && ch.FreqCode == 0 && ch.AmplCode == 0 && ch.PhaseCode == 0) continue;  // told nothing
    out += Format("  frequency %.3f kHz, amplitude %.2f %%, phase %.2f deg\n", FreqKHz(ch.FreqCode),
                  AmplPercent(ch.AmplCode), PhaseDeg(ch.PhaseCode));
    if (ch.Freq1Code) out += Format("  second frequency %.3f kHz\n", FreqKHz(*ch.Freq1Code));
    if (ch.TableBytes) out += Format("  modulation table %u bytes\n", ch.TableBytes);
    if (ch.KeyingBytes) out += Format("  keying table %u bytes\n", ch.KeyingBytes);
    if (ch.Ramps) out += Format("  keying states %d\n", ch.Ramps);
    if (ch.TuneScale) out += Format("  tuning %s, span scale %u\n", ch.TuneWhat.c_str(), *ch.TuneScale);
  }
  return out;
}

}  // namespace Zu::Sim
