#include "zugen4/ZuCommands.h"

namespace Zu {

uint8_t TranslateCommand(TZuGen4ChNames channel, uint8_t code) {
  if (channel != ZGCN_B) return code;
  // Channel B's registers sit at fixed offsets from channel A's; each code
  // belongs to exactly one group, so the first match decides.
  switch (code) {
    case 0x00:
    case 0x02:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x40: return static_cast<uint8_t>(code + 0x10);
    case 0x20:
    case 0x29:
    case 0x30: return static_cast<uint8_t>(code + 0x01);
    case 0x87:
    case 0x88:
    case 0x8B:
    case 0x97: return static_cast<uint8_t>(code + 0x02);
    case 0xF1:
    case 0xF2: return static_cast<uint8_t>(code + 0x08);
    case 0x81:
    case 0x82:
    case 0x84: return static_cast<uint8_t>(code + 0x60);
    default: return code;
  }
}

TZuGen4Cmd::TZuGen4Cmd(TZuGen4ChNames channel, uint8_t code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5,
                       int32_t count)
    : Bytes{TranslateCommand(channel, code), b1, b2, b3, b4, b5}, Count(count), Channel(channel) {}

TZuGen4Cmd TZuGen4Cmd::With32(TZuGen4ChNames channel, uint8_t code, uint32_t value) {
  return TZuGen4Cmd(channel, code, static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                    static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value));
}

TZuGen4Cmd TZuGen4Cmd::With16(TZuGen4ChNames channel, uint8_t code, uint32_t value) {
  return TZuGen4Cmd(channel, code, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value));
}

}  // namespace Zu
