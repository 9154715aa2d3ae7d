// The panel's page, style and script, compiled into the program from web/
// (the build generates their bytes), so that nothing is read or fetched at
// run time.
#pragma once

#include <cstddef>
#include <string_view>

namespace Zu::Serve {

struct TWebAsset {
  const char* Path;  // "/index.html"
  const char* ContentType;
  const unsigned char* Data;
  size_t Size;
};

// Null when the panel has no such file.
const TWebAsset* FindWebAsset(std::string_view path);

}  // namespace Zu::Serve
