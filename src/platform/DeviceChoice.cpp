// Choosing a device by serial number: the generator and its link know device
// indexes only, so a serial number is turned into the index the driver's own
// list gives it at the moment of opening.
#include <cctype>
#include <string>

#include "zugen4/extend/Platform.h"

namespace Zu {

namespace {

constexpr const char* kSerialPrefix = "serial:";

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

class TSerialDriver final : public TFtDriverFilter {
 public:
  TSerialDriver(std::shared_ptr<TFtDriver> inner, std::string serial)
      : TFtDriverFilter(std::move(inner)), FSerial(std::move(serial)) {}

  FT_STATUS Open(int, FT_HANDLE* handle) override {
    FFailure.clear();
    const TFtDeviceList list = Inner().ListDevices();
    std::string seen;
    for (const TFtDeviceInfo& d : list.Devices) {
      if (d.Serial == FSerial) {
        const FT_STATUS st = Inner().Open(d.Index, handle);
        if (st != FT_OK && Inner().LastFailure().empty())
          FFailure = "device " + std::to_string(d.Index) + " (serial number " + FSerial + ") did not open";
        return st;
      }
      seen += (seen.empty() ? "" : ", ") + (d.Serial.empty() ? std::string("(unreadable)") : d.Serial);
    }
    FFailure = "no device with serial number " + FSerial + " (found: " + (seen.empty() ? "none" : seen) + ")";
    for (const std::string& p : list.Problems) FFailure += "; " + p;
    return FT_DEVICE_NOT_FOUND;
  }
  std::string LastFailure() const override { return FFailure.empty() ? Inner().LastFailure() : FFailure; }
  FT_STATUS Close(FT_HANDLE handle) override {
    FFailure.clear();
    return Inner().Close(handle);
  }
  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override {
    FFailure.clear();
    return Inner().Read(handle, buf, wanted, got);
  }
  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override {
    FFailure.clear();
    return Inner().Write(handle, buf, count, written);
  }

 private:
  std::string FSerial;
  std::string FFailure;
};

}  // namespace

bool ParseDeviceChoice(const std::string& text, TFtDeviceChoice& choice, std::string& why) {
  choice = TFtDeviceChoice();
  if (text.rfind(kSerialPrefix, 0) == 0) {
    choice.Serial = text.substr(std::string(kSerialPrefix).size());
    if (choice.Serial.empty()) {
      why = "device \"" + text + "\": no serial number after \"serial:\"";
      return false;
    }
    return true;
  }
  if (AllDigits(text)) {
    if (text.size() > 9) {
      why = "device " + text + ": an index runs from 0 to the number of devices less one";
      return false;
    }
    choice.Index = std::stoi(text);
    return true;
  }
  if (text.empty() || (text[0] == '-' && AllDigits(text.substr(1)))) {
    why = "device \"" + text + "\": give an index of 0 or more, or a serial number";
    return false;
  }
  choice.Serial = text;
  return true;
}

std::string DeviceChoiceText(const TFtDeviceChoice& choice) {
  if (choice.Serial.empty()) return std::to_string(choice.Index);
  return AllDigits(choice.Serial) ? kSerialPrefix + choice.Serial : choice.Serial;
}

std::shared_ptr<TFtDriver> DriverForSerial(std::shared_ptr<TFtDriver> inner, std::string serial) {
  return std::make_shared<TSerialDriver>(std::move(inner), std::move(serial));
}

std::shared_ptr<TFtDriver> DriverForChoice(std::shared_ptr<TFtDriver> inner, const TFtDeviceChoice& choice) {
  return choice.Serial.empty() ? inner : DriverForSerial(std::move(inner), choice.Serial);
}

}  // namespace Zu
