// Text forms: the whole setup as text people read and edit.
//
//   object ZuGen4: TZuGen4
//     UseExtRefFreq = false
//     ChA.Mode = ZGMdC_IntModulation
//     ChA.IntModulation.Fm = 500
//     ...
//   end
//
// One `Path = value` line per stored property, in registry order, dotted
// paths for the sub-objects; enumerators by name, doubles so that they read
// back exactly. Lines starting with `#` are comments.
#pragma once

#include <string>
#include <string_view>

#include "zugen4/Classes.h"
#include "zugen4/ZuExport.h"

namespace Zu {

class TZuGen4;

// A form that cannot be applied: what() reads "line 7: ChA.Frequency: 250000
// refused (range 400 to 200000 kHz)".
class ZUGEN_API ETextFormError : public Exception {
 public:
  ETextFormError(int line, const std::string& message);
  ~ETextFormError() override;
  // The line of the form, from 1.
  int Line() const { return FLine; }
  // The message without the line number.
  const std::string& Reason() const { return FReason; }

 private:
  int FLine;
  std::string FReason;
};

// The setup as a text form.
ZUGEN_API std::string WriteTextForm(const TZuGen4& gen, const std::string& name = "ZuGen4");

// Reads a form into the generator. Everything is checked first: a malformed
// line, an unknown or read-only property, a malformed value, a property given
// twice, or a value its setter refuses raises ETextFormError with its line and
// changes nothing. Then, as a form is read: csLoading is set, every value goes
// through its setter with automatic update held, the generator's Loaded runs,
// and the generator updates once (when its automatic update is on and it is
// active).
ZUGEN_API void ReadTextForm(TZuGen4& gen, std::string_view text);

// True when the text starts like a text form (after blanks and comments).
ZUGEN_API bool LooksLikeTextForm(std::string_view text);

}  // namespace Zu
