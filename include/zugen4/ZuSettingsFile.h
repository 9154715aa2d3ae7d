// Strict reads of a settings file, for the faces that must not take half a
// setup: the tool, the front panel, the Python module and the handle
// interface. The component's own LoadFromFile keeps its quiet partial load
// of a file cut short (applying the values that are completely there), which
// hosts rely on.
#pragma once

#include <string>
#include <string_view>

#include "zugen4/ZuFileError.h"
#include "zugen4/ZuGenerator.h"

namespace Zu {

// Reads the settings file into gen only when it holds one whole record of
// this version: signature, version, and exactly the record, no byte short
// and none more. Otherwise raises EFileError naming the file and the fault
// ("setup.zg4 is cut short: it ends at byte 200, inside the settings record
// (a whole settings file is 475 bytes)") and changes nothing; a wrong
// signature or version raises OnErrorFile first, as LoadFromFile does. A file
// that cannot be opened raises EFileError as LoadFromFile does, and so does a
// pipe or a device, which is not opened at all.
ZUGEN_API void LoadSettingsStrict(TZuGen4& gen, const std::string& fileName,
                                  TFileNameEncoding encoding = TFileNameEncoding::System);

// What is wrong with bytes meant as a settings file (an upload) in the same
// words, without a file name ("it ends at byte 200, inside the settings record
// (a whole settings file is 475 bytes)"); empty when they are one whole
// record of this version.
ZUGEN_API std::string SettingsRecordFault(std::string_view bytes);

}  // namespace Zu
