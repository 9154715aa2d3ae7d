// The small component framework the generator is built on: objects, persistent
// objects, components with an owner, a name, a tag and a state set, and the
// exceptions the library raises.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "zugen4/ZuExport.h"

namespace Zu {

// A class's published properties (see ZuRegistry.h); each class that has
// some declares `static const TPropTable& Published();`.
class TPropTable;

class ZUGEN_API TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();
};

// Base of every object whose published properties are streamed (form data,
// settings files). The published-property registry attaches here.
class ZUGEN_API TPersistent : public TObject {
 public:
  ~TPersistent() override;
};

enum TComponentStateItem : uint8_t {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
};

// A set of component-state members.
class ZUGEN_API TComponentState {
 public:
  constexpr TComponentState() = default;
  constexpr bool Contains(TComponentStateItem item) const { return (FBits & Bit(item)) != 0; }
  constexpr void Include(TComponentStateItem item) { FBits |= Bit(item); }
  constexpr void Exclude(TComponentStateItem item) { FBits &= static_cast<uint8_t>(~Bit(item)); }
  constexpr bool Empty() const { return FBits == 0; }

 private:
  static constexpr uint8_t Bit(TComponentStateItem item) { return static_cast<uint8_t>(1u << item); }
  uint8_t FBits = 0;
};

// A component owns the components created with it as owner and destroys those
// still alive when it is destroyed itself.
class ZUGEN_API TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& value) { FName = value; }
  intptr_t Tag() const { return FTag; }
  void SetTag(intptr_t value) { FTag = value; }
  const std::vector<TComponent*>& Components() const { return FComponents; }

  TComponentState ComponentState() const { return FComponentState; }
  // What a streaming system or a host that wants form-like behaviour uses to
  // mark the component (csLoading switches on automatic updates).
  void IncludeState(TComponentStateItem item) { FComponentState.Include(item); }
  void ExcludeState(TComponentStateItem item) { FComponentState.Exclude(item); }

  // Called once the component's properties have been read from a stream.
  virtual void Loaded();

 private:
  TComponent* FOwner;
  std::string FName;
  intptr_t FTag = 0;
  TComponentState FComponentState;
  std::vector<TComponent*> FComponents;
};

// The general exception of the library; what() is the UTF-8 message.
class ZUGEN_API Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message);
  ~Exception() override;
  const std::string& Message() const { return FMessage; }

 private:
  std::string FMessage;
};

class ZUGEN_API EOutOfResources : public Exception {
 public:
  using Exception::Exception;
  ~EOutOfResources() override;
};

class ZUGEN_API EInOutError : public Exception {
 public:
  using Exception::Exception;
  ~EInOutError() override;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

}  // namespace Zu
