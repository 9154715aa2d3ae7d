// The handle C interface: generators behind opaque handles, their properties
// through the registry, their events as C callbacks.
#include "flat/Handles.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <unordered_set>

#include "zugen4/Timers.h"
#include "zugen4/Version.h"
#include "zugen4/ZuSettingsFile.h"
#include "zugen4/ZuTextForm.h"

namespace Zu::Flat {

namespace {

// Set by a generator's OnFTError during the call that runs: the exception
// that follows is a link failure.
thread_local bool tLinkFailed = false;

// The live handles, so that a stale or made-up pointer is refused instead of
// followed.
std::mutex gLiveLock;
std::unordered_set<const zg_gen*>& Live() {
  static std::unordered_set<const zg_gen*> live;
  return live;
}

bool IsLive(const zg_gen* gen) {
  std::lock_guard<std::mutex> lock(gLiveLock);
  return Live().count(gen) != 0;
}

int ChannelIndex(const TZuGen4Channel* ch) { return ch ? (ch->IsChannelA() ? 0 : 1) : -1; }

void Deliver(zg_gen* h, zg_event ev) {
  if (!h->Handler || !(h->Mask & static_cast<unsigned>(ev.kind))) return;
  ++h->InCallback;
  h->Handler(h, &ev, h->User);
  --h->InCallback;
}

zg_event Event(int kind, const TZuGen4Channel* ch = nullptr, double value = 0.0, int flag = 0) {
  return zg_event{kind, ChannelIndex(ch), 0, value, flag};
}

// Every event of the generator goes to the handle; the response wait only
// while asked for, since a handler there turns the wait into a polling loop.
void Hook(zg_gen* h) {
  TZuGen4& g = *h->Gen;
  g.OnFTError = [h](TObject*) {
    Deliver(h, Event(ZG_EVENT_FT_ERROR));
    tLinkFailed = true;
  };
  g.OnErrorFile = [h](TObject*) {
    h->FileRefused = true;
    Deliver(h, Event(ZG_EVENT_ERROR_FILE));
  };
  g.OnParamValueError = [h](TZuGen4Channel* ch, TZuGen4Parameters param, void* value) {
    zg_event ev = Event(ZG_EVENT_PARAM_VALUE_ERROR, ch, value ? *static_cast<double*>(value) : 0.0);
    ev.param = param;
    Deliver(h, ev);
  };
  g.OnADCTimer = [h](TZuGen4Channel* ch) {
    Deliver(h, Event(ZG_EVENT_ADC_TIMER, ch, static_cast<double>(ch->Tuner()->ADCValue())));
  };
  g.AfterUpdate = [h](TObject*) { Deliver(h, Event(ZG_EVENT_AFTER_UPDATE)); };
  g.OnChModeChange = [h](TZuGen4Channel* ch, bool val) { Deliver(h, Event(ZG_EVENT_CH_MODE_CHANGE, ch, 0.0, val)); };
  // The sender, not h->Gen: this also fires while the generator is destroyed.
  g.OnChangeActiveState = [h](TObject* sender) {
    const bool active = static_cast<TZuGen4*>(sender)->Active();
    Deliver(h, Event(ZG_EVENT_CHANGE_ACTIVE_STATE, nullptr, 0.0, active ? 1 : 0));
  };
  g.OnOverModulation = [h](TZuGen4Channel* ch, double val) { Deliver(h, Event(ZG_EVENT_OVER_MODULATION, ch, val)); };
  if (h->Mask & ZG_EVENT_GEN_RESPONSE_WAIT)
    g.OnGenResponseWait = [h](TObject*) { Deliver(h, Event(ZG_EVENT_GEN_RESPONSE_WAIT)); };
  else
    g.OnGenResponseWait = nullptr;
}

int Record(int result, std::string message) {
  LastError() = std::move(message);
  return result;
}

}  // namespace

void ClearError() { LastError().clear(); }
int Fail(int result, const std::string& message) { return Record(result, message); }

int Guard(zg_gen* gen, const std::function<int()>& f) noexcept {
  // A call made from inside an event callback must not lose the outer call's
  // knowledge of a link failure.
  const bool outerLinkFailed = tLinkFailed;
  tLinkFailed = false;
  int rc = ZG_ERR_FAILED;
  try {
    try {
      rc = f();
    } catch (const ERefusedValue& e) {
      rc = Record(ZG_ERR_REFUSED, e.what());
    } catch (const EUnknownProperty& e) {
      rc = Record(ZG_ERR_UNKNOWN_PROPERTY, e.what());
    } catch (const EBadValue& e) {
      rc = Record(ZG_ERR_BAD_VALUE, e.what());
    } catch (const EInOutError& e) {
      rc = Record(ZG_ERR_FILE, e.what());
    } catch (const EOutOfResources& e) {
      rc = Record(ZG_ERR_RESOURCES, e.what());
    } catch (const ETextFormError& e) {
      rc = Record(ZG_ERR_TEXT_FORM, e.what());
    } catch (const std::bad_alloc&) {
      rc = Record(ZG_ERR_FAILED, "out of memory");
    } catch (const std::exception& e) {
      if (tLinkFailed) {
        // The system's message, then the account of what failed and how.
        std::string text = e.what();
        if (gen && gen->Gen && !gen->Gen->LastLinkFailure().empty()) text += " (" + gen->Gen->LastLinkFailure() + ")";
        rc = Record(ZG_ERR_LINK, text);
      } else {
        rc = Record(ZG_ERR_FAILED, e.what());
      }
    } catch (...) {
      rc = Record(ZG_ERR_FAILED, "unknown failure");
    }
  } catch (...) {
    // Only keeping the message can fail here (out of memory).
    rc = ZG_ERR_FAILED;
  }
  tLinkFailed = outerLinkFailed;
  return rc;
}

std::unique_ptr<zg_gen> CreateHandle(int instrument, int device, bool flatDefault) {
  auto h = std::make_unique<zg_gen>();
  TPlatform p;
  if (instrument == ZG_SIMULATED) {
    Sim::TSimPlatform sim;
    h->SimDriver = sim.Driver;
    h->SimClock = sim.Clock;
    h->SimTimers = sim.Timers;
    p = sim.Platform();
  } else if (instrument == ZG_SIMULATED_REALTIME) {
    h->SimDriver = std::make_shared<Sim::TSimDriver>();
    p.Driver = h->SimDriver;
  } else {
    p = DefaultPlatform();
  }
  p = CompletePlatform(std::move(p));
  if (flatDefault) p = WithGuardedTimers(std::move(p));
  h->AnyThread = flatDefault;
  h->Owner = std::this_thread::get_id();
  h->Gen = std::make_unique<TZuGen4>();
  h->Gen->SetPlatform(std::move(p));
  h->Gen->SetDevice(device);
  // Every accepted change reaches the instrument, as on a form.
  h->Gen->IncludeState(csLoading);
  Hook(h.get());
  std::lock_guard<std::mutex> lock(gLiveLock);
  Live().insert(h.get());
  return h;
}

void DestroyHandle(std::unique_ptr<zg_gen> h) noexcept {
  if (!h) return;
  {
    std::lock_guard<std::mutex> lock(gLiveLock);
    Live().erase(h.get());
  }
  // The closing events would reach a host that is letting go of the handle.
  h->Handler = nullptr;
  h->Recorder.reset();  // lets go of the generator first
  h->Gen.reset();       // never throws: resets and closes the device when open
}

void DestroyAllHandles() noexcept {
  std::unordered_set<const zg_gen*> live;
  {
    std::lock_guard<std::mutex> lock(gLiveLock);
    live.swap(Live());
  }
  for (const zg_gen* gen : live) DestroyHandle(std::unique_ptr<zg_gen>(const_cast<zg_gen*>(gen)));
}

}  // namespace Zu::Flat

using namespace Zu;
using Zu::Flat::Fail;
using Zu::Flat::Guard;

namespace {

// The checks of every call on a generator, then f behind the barrier.
int OnGen(zg_gen* gen, const std::function<int()>& f) {
  Flat::ClearError();
  if (!gen || !Flat::IsLive(gen)) return Fail(ZG_ERR_ARGUMENT, "not a generator of this interface (null or destroyed)");
  if (!gen->AnyThread && std::this_thread::get_id() != gen->Owner)
    return Fail(ZG_ERR_THREAD, "the generator belongs to another thread");
  return Guard(gen, f);
}

int NeedPointer(const void* p, const char* what) {
  return p ? ZG_OK : Fail(ZG_ERR_ARGUMENT, std::string(what) + " is null");
}

// Copies text into a caller's buffer; the size it needs goes to *needed.
int CopyOut(const std::string& text, char* buf, size_t size, size_t* needed) {
  if (needed) *needed = text.size() + 1;
  if (!buf || size < text.size() + 1) {
    return Fail(ZG_ERR_BUFFER,
                "the buffer holds " + std::to_string(size) + " bytes, " + std::to_string(text.size() + 1) + " needed");
  }
  std::memcpy(buf, text.c_str(), text.size() + 1);
  return ZG_OK;
}

// A path argument, refused when null.
#define ZG_PATH(path)                                              \
  do {                                                             \
    if (!(path)) return Fail(ZG_ERR_ARGUMENT, "the path is null"); \
  } while (0)

void Describe(zg_gen* gen, size_t index, zg_prop_info* info) {
  const TPropInfo& p = gen->Props[index];
  info->path = p.Path.c_str();
  info->kind = static_cast<int>(p.Kind);
  info->unit = p.Unit.c_str();
  info->has_range = p.HasRange ? 1 : 0;
  info->min = p.Min;
  info->max = p.Max;
  info->range_text = gen->PropRanges[index].c_str();
  info->enumerator_count = p.Enumerators.size();
  info->read_only = p.ReadOnly ? 1 : 0;
  info->stored = p.Stored ? 1 : 0;
  info->description = p.Description.c_str();
}

void RefreshProps(zg_gen* gen) {
  gen->Props = ListProperties(*gen->Gen);
  gen->PropRanges.clear();
  for (const TPropInfo& p : gen->Props) gen->PropRanges.push_back(RangeText(p));
}

// The index of path in the copy, refreshed first when asked or empty.
size_t FindProp(zg_gen* gen, const char* path, bool refresh) {
  if (refresh || gen->Props.empty()) RefreshProps(gen);
  for (size_t i = 0; i < gen->Props.size(); ++i)
    if (gen->Props[i].Path == path) return i;
  throw EUnknownProperty(path);
}

int SimOnly(zg_gen* gen, const std::function<int(Sim::TSimDriver&)>& f) {
  return OnGen(gen, [&]() -> int {
    if (!gen->SimDriver) return Fail(ZG_ERR_NOT_SIMULATED, "the generator is not on a simulated instrument");
    return f(*gen->SimDriver);
  });
}

int VirtualOnly(zg_gen* gen, const std::function<int()>& f) {
  return OnGen(gen, [&]() -> int {
    if (!gen->SimTimers) return Fail(ZG_ERR_NOT_SIMULATED, "the generator is not on virtual time");
    return f();
  });
}

Sim::TFault Fault(unsigned status, int shortCount) {
  Sim::TFault fault;
  fault.Status = status;
  if (shortCount >= 0) fault.Count = static_cast<uint32_t>(shortCount);
  return fault;
}

}  // namespace

extern "C" {

const char* ZUGEN_CALL zg_last_error(void) { return Flat::LastError().c_str(); }

const char* ZUGEN_CALL zg_result_name(int result) {
  switch (result) {
    case ZG_OK: return "ZG_OK";
    case ZG_ERR_FAILED: return "ZG_ERR_FAILED";
    case ZG_ERR_ARGUMENT: return "ZG_ERR_ARGUMENT";
    case ZG_ERR_LINK: return "ZG_ERR_LINK";
    case ZG_ERR_UNKNOWN_PROPERTY: return "ZG_ERR_UNKNOWN_PROPERTY";
    case ZG_ERR_BAD_VALUE: return "ZG_ERR_BAD_VALUE";
    case ZG_ERR_REFUSED: return "ZG_ERR_REFUSED";
    case ZG_ERR_FILE: return "ZG_ERR_FILE";
    case ZG_ERR_TEXT_FORM: return "ZG_ERR_TEXT_FORM";
    case ZG_ERR_RESOURCES: return "ZG_ERR_RESOURCES";
    case ZG_ERR_BUFFER: return "ZG_ERR_BUFFER";
    case ZG_ERR_THREAD: return "ZG_ERR_THREAD";
    case ZG_ERR_NOT_SIMULATED: return "ZG_ERR_NOT_SIMULATED";
    case ZG_ERR_BUSY: return "ZG_ERR_BUSY";
    case ZG_ERR_UNSUPPORTED: return "ZG_ERR_UNSUPPORTED";
    default: return "unknown result";
  }
}

int ZUGEN_CALL zg_create(int instrument, int device, zg_gen** gen) {
  Flat::ClearError();
  if (int rc = NeedPointer(gen, "gen"); rc != ZG_OK) return rc;
  *gen = nullptr;
  if (instrument < ZG_SYSTEM || instrument > ZG_SIMULATED_REALTIME)
    return Fail(ZG_ERR_ARGUMENT, "instrument " + std::to_string(instrument) + " is none of ZG_SYSTEM (0), " +
                                     "ZG_SIMULATED (1), ZG_SIMULATED_REALTIME (2)");
  if (device < 0) return Fail(ZG_ERR_ARGUMENT, "device " + std::to_string(device) + " is negative");
  if (instrument != ZG_SYSTEM && device != 0)
    return Fail(ZG_ERR_ARGUMENT, "device " + std::to_string(device) + ": a simulated instrument is device 0");
  return Guard(nullptr, [&]() -> int {
    *gen = Flat::CreateHandle(instrument, device).release();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_destroy(zg_gen* gen) {
  if (!gen) {
    Flat::ClearError();
    return ZG_OK;
  }
  return OnGen(gen, [&]() -> int {
    if (gen->InCallback) return Fail(ZG_ERR_BUSY, "zg_destroy from inside the generator's own event callback");
    Flat::DestroyHandle(std::unique_ptr<zg_gen>(gen));
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_activate(zg_gen* gen) {
  return OnGen(gen, [&]() -> int {
    gen->Gen->SetActive(true);
    if (gen->Gen->Active()) return ZG_OK;
    return Fail(ZG_ERR_LINK, gen->Gen->LastLinkFailure());
  });
}

int ZUGEN_CALL zg_deactivate(zg_gen* gen) {
  return OnGen(gen, [&]() -> int {
    gen->Gen->SetActive(false);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_detach(zg_gen* gen) {
  return OnGen(gen, [&]() -> int {
    gen->Gen->Detach();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_is_active(zg_gen* gen, int* active) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(active, "active"); rc != ZG_OK) return rc;
    *active = gen->Gen->Active() ? 1 : 0;
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_link_status(zg_gen* gen, unsigned* status) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(status, "status"); rc != ZG_OK) return rc;
    *status = gen->Gen->Status();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_update(zg_gen* gen) {
  return OnGen(gen, [&]() -> int {
    gen->Gen->UpdateMode();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_get_double(zg_gen* gen, const char* path, double* value) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    if (int rc = NeedPointer(value, "value"); rc != ZG_OK) return rc;
    *value = GetPropDouble(*gen->Gen, path);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_get_int(zg_gen* gen, const char* path, int64_t* value) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    if (int rc = NeedPointer(value, "value"); rc != ZG_OK) return rc;
    *value = GetPropInt(*gen->Gen, path);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_get_bool(zg_gen* gen, const char* path, int* value) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    if (int rc = NeedPointer(value, "value"); rc != ZG_OK) return rc;
    *value = GetPropBool(*gen->Gen, path) ? 1 : 0;
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_get_text(zg_gen* gen, const char* path, char* buf, size_t size, size_t* needed) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    return CopyOut(GetPropText(*gen->Gen, path), buf, size, needed);
  });
}

int ZUGEN_CALL zg_set_double(zg_gen* gen, const char* path, double value) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    SetPropDouble(*gen->Gen, path, value);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_set_int(zg_gen* gen, const char* path, int64_t value) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    SetPropInt(*gen->Gen, path, value);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_set_bool(zg_gen* gen, const char* path, int value) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    SetPropBool(*gen->Gen, path, value != 0);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_set_text(zg_gen* gen, const char* path, const char* text) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    if (int rc = NeedPointer(text, "text"); rc != ZG_OK) return rc;
    SetPropText(*gen->Gen, path, text);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_set_many(zg_gen* gen, const char* const* paths, const char* const* texts, size_t count) {
  return OnGen(gen, [&]() -> int {
    if (count && (!paths || !texts)) return Fail(ZG_ERR_ARGUMENT, "paths or texts is null");
    std::vector<std::pair<std::string, std::string>> assignments;
    for (size_t i = 0; i < count; ++i) {
      if (!paths[i] || !texts[i])
        return Fail(ZG_ERR_ARGUMENT, "assignment " + std::to_string(i) + " has a null path or text");
      assignments.emplace_back(paths[i], texts[i]);
    }
    SetProps(*gen->Gen, assignments, true);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_prop_count(zg_gen* gen, size_t* count) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(count, "count"); rc != ZG_OK) return rc;
    RefreshProps(gen);
    *count = gen->Props.size();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_prop_at(zg_gen* gen, size_t index, zg_prop_info* info) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(info, "info"); rc != ZG_OK) return rc;
    if (gen->Props.empty()) RefreshProps(gen);
    if (index >= gen->Props.size())
      return Fail(ZG_ERR_ARGUMENT, "index " + std::to_string(index) + " out of range (0 to " +
                                       std::to_string(gen->Props.size() - 1) + ")");
    Describe(gen, index, info);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_prop_find(zg_gen* gen, const char* path, zg_prop_info* info) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    if (int rc = NeedPointer(info, "info"); rc != ZG_OK) return rc;
    Describe(gen, FindProp(gen, path, true), info);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_prop_enumerator(zg_gen* gen, const char* path, size_t index, int* value, const char** name,
                                  const char** short_name) {
  return OnGen(gen, [&]() -> int {
    ZG_PATH(path);
    const TPropInfo& p = gen->Props[FindProp(gen, path, false)];
    if (index >= p.Enumerators.size()) {
      return Fail(ZG_ERR_ARGUMENT, p.Path + " has " + std::to_string(p.Enumerators.size()) + " enumerators, index " +
                                       std::to_string(index) + " is beyond them");
    }
    const TPropEnumerator& e = p.Enumerators[index];
    if (value) *value = e.Value;
    if (name) *name = e.Name.c_str();
    if (short_name) *short_name = e.ShortName.c_str();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_save(zg_gen* gen, const char* file_name) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(file_name, "file_name"); rc != ZG_OK) return rc;
    gen->Gen->SaveToFileUtf8(file_name);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_load(zg_gen* gen, const char* file_name) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(file_name, "file_name"); rc != ZG_OK) return rc;
    // Only a whole record is taken: a file cut short or of another kind
    // changes nothing, and the message names the fault.
    // A record no engine can send (stored values out of every range) is
    // refused as well, before anything changes.
    PreviewChange(*gen->Gen, [&](TZuGen4& copy) { LoadSettingsStrict(copy, file_name, TFileNameEncoding::Utf8); });
    LoadSettingsStrict(*gen->Gen, file_name, TFileNameEncoding::Utf8);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_write_text_form(zg_gen* gen, const char* name, char* buf, size_t size, size_t* needed) {
  return OnGen(gen,
               [&]() -> int { return CopyOut(WriteTextForm(*gen->Gen, name ? name : "ZuGen4"), buf, size, needed); });
}

int ZUGEN_CALL zg_read_text_form(zg_gen* gen, const char* text) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(text, "text"); rc != ZG_OK) return rc;
    ReadTextForm(*gen->Gen, text);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_set_event_handler(zg_gen* gen, unsigned mask, zg_event_fn fn, void* user) {
  return OnGen(gen, [&]() -> int {
    gen->Handler = fn;
    gen->User = user;
    gen->Mask = fn ? mask : 0;
    Flat::Hook(gen);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_process_messages(int* ran) {
  Flat::ClearError();
  return Guard(nullptr, [&]() -> int {
    const int n = ProcessMessages();
    if (ran) *ran = n;
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_wait_messages(int timeout_ms, int* due) {
  Flat::ClearError();
  return Guard(nullptr, [&]() -> int {
    const bool d = WaitMessages(timeout_ms);
    if (due) *due = d ? 1 : 0;
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_messages_fd(void) {
  Flat::ClearError();
  int fd = -1;
  Guard(nullptr, [&]() -> int {
    fd = MessagesFd();
    return ZG_OK;
  });
  return fd;
}

int ZUGEN_CALL zg_sim_trace_count(zg_gen* gen, size_t* count) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    if (int rc = NeedPointer(count, "count"); rc != ZG_OK) return rc;
    gen->Trace = sim.Trace();
    gen->TraceLines.clear();
    static const char* const kKinds[] = {"open", "close", "frame", "block", "read"};
    for (const Sim::TTraceEntry& e : gen->Trace) {
      std::string line = e.Kind == Sim::TTraceKind::Frame ? Sim::DescribeFrame(e.Bytes, gen->Gen->GenFreq())
                                                          : kKinds[static_cast<int>(e.Kind)];
      if (e.Kind == Sim::TTraceKind::Block || e.Kind == Sim::TTraceKind::Read)
        line += " " + std::to_string(e.Bytes.size()) + " bytes";
      if (e.Status != FT_OK) line += " -> " + FtStatusName(e.Status);
      gen->TraceLines.push_back(std::move(line));
    }
    *count = gen->Trace.size();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_trace_at(zg_gen* gen, size_t index, zg_trace_entry* entry) {
  return SimOnly(gen, [&](Sim::TSimDriver&) -> int {
    if (int rc = NeedPointer(entry, "entry"); rc != ZG_OK) return rc;
    if (index >= gen->Trace.size())
      return Fail(ZG_ERR_ARGUMENT, "index " + std::to_string(index) + " beyond the " +
                                       std::to_string(gen->Trace.size()) + " entries of the last zg_sim_trace_count");
    const Sim::TTraceEntry& e = gen->Trace[index];
    entry->kind = static_cast<int>(e.Kind);
    entry->time_ms = e.Time;
    entry->bytes = e.Bytes.data();
    entry->count = e.Bytes.size();
    entry->status = e.Status;
    entry->line = gen->TraceLines[index].c_str();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_clear_trace(zg_gen* gen) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    sim.ClearTrace();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_violations(zg_gen* gen, char* buf, size_t size, size_t* needed) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    std::string text;
    for (const std::string& v : sim.Violations()) text += v + "\n";
    for (const std::string& v : sim.Model().Violations()) text += v + "\n";
    return CopyOut(text, buf, size, needed);
  });
}

int ZUGEN_CALL zg_sim_set_adc(zg_gen* gen, uint32_t value) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    sim.SetADCValue(value);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_fail_open(zg_gen* gen, unsigned status) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    sim.FailOpen(status);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_fail_write(zg_gen* gen, unsigned nth, unsigned status, int short_count) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    if (nth == 0) return Fail(ZG_ERR_ARGUMENT, "nth counts from 1 (the next write)");
    sim.FailWrite(nth, Fault(status, short_count));
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_fail_read(zg_gen* gen, unsigned nth, unsigned status, int short_count) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    if (nth == 0) return Fail(ZG_ERR_ARGUMENT, "nth counts from 1 (the next read)");
    sim.FailRead(nth, Fault(status, short_count));
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_unplug(zg_gen* gen) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    sim.Unplug();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_replug(zg_gen* gen, int as_new_device) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    sim.Replug(as_new_device != 0);
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_clear_faults(zg_gen* gen) {
  return SimOnly(gen, [&](Sim::TSimDriver& sim) -> int {
    sim.ClearFaults();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_advance(zg_gen* gen, uint64_t ms, int* ran) {
  return VirtualOnly(gen, [&]() -> int {
    const int n = gen->SimTimers->Advance(ms);
    if (ran) *ran = n;
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_sim_now(zg_gen* gen, uint64_t* ms) {
  return VirtualOnly(gen, [&]() -> int {
    if (int rc = NeedPointer(ms, "ms"); rc != ZG_OK) return rc;
    *ms = gen->SimClock->Now();
    return ZG_OK;
  });
}

// ---- devices and version ----

namespace {

// The last list taken on this thread, whose strings zg_device_at hands out.
struct TDeviceSnapshot {
  Zu::TFtDeviceList List;
  std::string Problems;
};
TDeviceSnapshot& DeviceSnapshot() {
  thread_local TDeviceSnapshot snapshot;
  return snapshot;
}

}  // namespace

int ZUGEN_CALL zg_list_devices(size_t* count, const char** problems) {
  Flat::ClearError();
  if (int rc = NeedPointer(count, "count"); rc != ZG_OK) return rc;
  return Guard(nullptr, [&]() -> int {
    TDeviceSnapshot& s = DeviceSnapshot();
    s.List = CompletePlatform(DefaultPlatform()).Driver->ListDevices();
    s.Problems.clear();
    for (const std::string& p : s.List.Problems) s.Problems += (s.Problems.empty() ? "" : "\n") + p;
    *count = s.List.Devices.size();
    if (problems) *problems = s.Problems.c_str();
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_device_at(size_t index, zg_device_info* info) {
  Flat::ClearError();
  if (int rc = NeedPointer(info, "info"); rc != ZG_OK) return rc;
  const TDeviceSnapshot& s = DeviceSnapshot();
  if (index >= s.List.Devices.size())
    return Fail(ZG_ERR_ARGUMENT, "device " + std::to_string(index) + " asked for, the last zg_list_devices found " +
                                     std::to_string(s.List.Devices.size()));
  const TFtDeviceInfo& d = s.List.Devices[index];
  info->index = d.Index;
  info->serial = d.Serial.c_str();
  info->description = d.Description.c_str();
  info->busy = d.Busy ? 1 : 0;
  info->backend = d.Backend.c_str();
  return ZG_OK;
}

int ZUGEN_CALL zg_create_serial(const char* serial, zg_gen** gen) {
  Flat::ClearError();
  if (int rc = NeedPointer(gen, "gen"); rc != ZG_OK) return rc;
  *gen = nullptr;
  if (int rc = NeedPointer(serial, "serial"); rc != ZG_OK) return rc;
  if (!*serial) return Fail(ZG_ERR_ARGUMENT, "the serial number is empty (zg_list_devices lists them)");
  return Guard(nullptr, [&]() -> int {
    std::unique_ptr<zg_gen> h = Flat::CreateHandle(ZG_SYSTEM, 0);
    TPlatform p = h->Gen->Platform();
    p.Driver = DriverForSerial(p.Driver, serial);
    h->Gen->SetPlatform(std::move(p));
    *gen = h.release();
    return ZG_OK;
  });
}

const char* ZUGEN_CALL zg_version(void) { return ZUGEN_VERSION_STRING; }

}  // extern "C"

int ZUGEN_CALL zg_set_many_flags(zg_gen* gen, const char* const* paths, const char* const* texts, size_t count,
                                 unsigned flags) {
  return OnGen(gen, [&]() -> int {
    if (count && (!paths || !texts)) return Fail(ZG_ERR_ARGUMENT, "paths or texts is null");
    if (flags & ~unsigned{ZG_SET_FORCE}) return Fail(ZG_ERR_ARGUMENT, "flags other than ZG_SET_FORCE");
    std::vector<std::pair<std::string, std::string>> assignments;
    for (size_t i = 0; i < count; ++i) {
      if (!paths[i] || !texts[i])
        return Fail(ZG_ERR_ARGUMENT, "assignment " + std::to_string(i) + " has a null path or text");
      assignments.emplace_back(paths[i], texts[i]);
    }
    SetProps(*gen->Gen, assignments, TSetOptions{.Update = true, .Force = (flags & ZG_SET_FORCE) != 0});
    return ZG_OK;
  });
}

int ZUGEN_CALL zg_preview(zg_gen* gen, const char* assignments, char* buf, size_t size, size_t* needed) {
  return OnGen(gen, [&]() -> int {
    std::vector<std::pair<std::string, std::string>> pairs;
    try {
      pairs = ParseAssignments(assignments ? assignments : "");
    } catch (const Exception& e) {
      return Fail(ZG_ERR_BAD_VALUE, e.what());
    }
    return CopyOut(PreviewProps(*gen->Gen, pairs).Text(), buf, size, needed);
  });
}

int ZUGEN_CALL zg_table(zg_gen* gen, const char* path, char* buf, size_t size, size_t* needed) {
  return OnGen(gen, [&]() -> int {
    if (int rc = NeedPointer(path, "path"); rc != ZG_OK) return rc;
    TZuGen4PlanTable t;
    try {
      t = gen->Gen->PlanTable(path);
    } catch (const ENoTable& e) {
      return Fail(ZG_ERR_BAD_VALUE, e.what());
    }
    std::string text = "# " + t.Quantity + " in " + t.Unit + ", step " + std::to_string(t.StepSeconds) + " s, " +
                       t.DividerText + "\nindex,code,value\n";
    char line[64];
    for (size_t i = 0; i < t.Codes.size(); ++i) {
      std::snprintf(line, sizeof line, ",%u,%.10g\n", t.Codes[i], t.Values[i]);
      text += std::to_string(i);
      text += line;
    }
    return CopyOut(text, buf, size, needed);
  });
}

int ZUGEN_CALL zg_record(zg_gen* gen, const char* file_name) {
  return OnGen(gen, [&]() -> int {
    gen->Recorder.reset();
    if (file_name) gen->Recorder = std::make_unique<TZuGen4Recorder>(*gen->Gen, file_name);
    return ZG_OK;
  });
}
