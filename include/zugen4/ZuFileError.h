// What a host meets of the settings files: the exception a failed save or
// load raises, and how a file name's bytes are meant.
#pragma once

#include <cstdint>
#include <string>

#include "zugen4/Classes.h"
#include "zugen4/ZuExport.h"

namespace Zu {

// A file that could not be read or written. what() is the whole message (the
// component's fixed text, if any, then the file and the reason); Detail() says
// the same in English alone: "cannot read setup.zg4: No such file or directory".
class ZUGEN_API EFileError : public EInOutError {
 public:
  EFileError(const std::string& message, std::string detail, std::string fileName, int errorNumber, std::string reason);
  ~EFileError() override;
  const std::string& Detail() const { return FDetail; }
  const std::string& FileName() const { return FFileName; }
  // The system's error number (errno); 0 when the fault is the file's content
  // or kind, which no error number describes.
  int ErrorNumber() const { return FErrorNumber; }
  // The system's text for ErrorNumber, or what is wrong with the file.
  const std::string& Reason() const { return FReason; }

 private:
  std::string FDetail;
  std::string FFileName;
  int FErrorNumber;
  std::string FReason;
};

// How a file name's bytes are meant. On POSIX both are the bytes as given; on
// Windows System is the ANSI code page, Utf8 is UTF-8.
enum class TFileNameEncoding : uint8_t { System, Utf8 };

}  // namespace Zu
