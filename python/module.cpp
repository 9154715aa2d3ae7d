// The compiled half of the Python module `zugen4`: a generator over the C++
// component, its properties by path through the registry, its events, and the
// simulated instrument. The Python half (zugen4/__init__.py) builds the
// attribute tree (gen.ChA.IntModulation.Fm) from the registry.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "zugen4/Version.h"
#include "zugen4/ZuRecording.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/ZuSettingsFile.h"
#include "zugen4/ZuTextForm.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace py = pybind11;

namespace {

using namespace Zu;

// The exception types raised from C++; LinkError is made in the module init.
py::handle gLinkError;

// message: the system's; detail: the account of what failed and how.
[[noreturn]] void RaiseLinkError(const std::string& message, const std::string& detail, unsigned status) {
  py::object err =
      py::reinterpret_borrow<py::object>(gLinkError)(detail.empty() ? message : message + " (" + detail + ")");
  err.attr("message") = message;
  err.attr("detail") = detail;
  err.attr("status") = status;
  err.attr("status_name") = FtStatusName(status);
  PyErr_SetObject(gLinkError.ptr(), err.ptr());
  throw py::error_already_set();
}

// OSError(errno, strerror, filename), which Python makes the matching
// subclass (FileNotFoundError, PermissionError, ...). A fault of the file's
// content or kind has no error number of the system's: it is EINVAL, with
// what is wrong as strerror.
[[noreturn]] void RaiseOSError(int errorNumber, const std::string& reason, const std::string& file) {
  py::object err =
      py::reinterpret_borrow<py::object>(PyExc_OSError)(errorNumber != 0 ? errorNumber : EINVAL, reason, py::str(file));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(err.ptr())), err.ptr());
  throw py::error_already_set();
}

// The interpreter lock is let go while the library runs (a link waits 20 ms
// after each command, wait_messages as long as asked), so that other Python
// threads go on meanwhile. That lock also kept the library's objects to one
// thread at a time; this one does it now. It is only taken without the
// interpreter lock, and an event takes the interpreter lock back while holding
// this one, never the other way round: the two cannot deadlock.
std::recursive_mutex gLibrary;

// The generator whose link failed during the call running on this thread (its
// OnFTError ran): the exception that follows is a LinkError.
thread_local const TZuGen4* tLinkFailed = nullptr;

// Turns a failure of the library into the Python exception its kind is
// documented to raise (the interpreter lock held).
[[noreturn]] void Raise(const std::exception_ptr& failure, bool link, const std::string& account, unsigned status) {
  try {
    std::rethrow_exception(failure);
  } catch (const ERefusedValue& e) {
    throw py::value_error(e.what());
  } catch (const EBadValue& e) {
    throw py::value_error(e.what());
  } catch (const ENoTable& e) {
    throw py::value_error(e.what());
  } catch (const EUnknownProperty& e) {
    throw py::key_error(e.what());
  } catch (const EFileError& e) {
    RaiseOSError(e.ErrorNumber(), e.Reason(), e.FileName());
  } catch (const EInOutError& e) {
    RaiseOSError(0, e.what(), "");
  } catch (const EOutOfResources& e) {
    // The system refused a resource (a timer).
    PyErr_SetString(PyExc_OSError, e.what());
    throw py::error_already_set();
  } catch (const ETextFormError& e) {
    throw py::value_error(e.what());
  } catch (const Exception& e) {
    if (link) RaiseLinkError(e.what(), account, status);
    // Not the link: a setup the engines cannot realize (a divider beyond range).
    throw py::value_error(e.what());
  }
}

// Runs f in the library: without the interpreter lock, holding the library's,
// and turns its failures into Python's exceptions. f touches no Python object.
template <typename F>
auto Library(F&& f) -> decltype(f()) {
  std::exception_ptr failure;
  bool link = false;
  std::string account;
  unsigned status = 0;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::recursive_mutex> lock(gLibrary);
    // A call made from an event handler keeps the outer call's knowledge.
    const TZuGen4* outer = tLinkFailed;
    tLinkFailed = nullptr;
    try {
      if constexpr (std::is_void_v<decltype(f())>) {
        f();
        tLinkFailed = outer;
        return;
      } else {
        auto result = f();
        tLinkFailed = outer;
        return result;
      }
    } catch (...) {
      failure = std::current_exception();
      if (tLinkFailed) {
        link = true;
        account = tLinkFailed->LastLinkFailure();
        status = tLinkFailed->Status();
      }
      tLinkFailed = outer;
    }
  }
  Raise(failure, link, account, status);
}

// A simulated instrument: on virtual time by default, or on the system clock
// and timers so that the thread's own message polling drives its tuner.
class TPySim {
 public:
  explicit TPySim(bool realtime) : FRealtime(realtime) {
    if (realtime) {
      FSim.Clock.reset();
      FSim.Timers.reset();
      FSim.Driver = std::make_shared<Sim::TSimDriver>();
    }
  }
  TPlatform Platform() const { return FRealtime ? TPlatform{FSim.Driver, nullptr, nullptr} : FSim.Platform(); }
  Sim::TSimDriver& Driver() { return *FSim.Driver; }
  bool Realtime() const { return FRealtime; }

  py::list Trace() const {
    // Copied in the library, made into Python objects outside it.
    std::vector<std::pair<Sim::TTraceEntry, std::string>> entries = Library([&] {
      std::vector<std::pair<Sim::TTraceEntry, std::string>> copy;
      for (const Sim::TTraceEntry& e : FSim.Driver->Trace()) copy.emplace_back(e, Line(e));
      return copy;
    });
    py::list out;
    static const char* const kKinds[] = {"open", "close", "frame", "block", "read"};
    for (const auto& [e, line] : entries) {
      py::dict d;
      d["kind"] = kKinds[static_cast<int>(e.Kind)];
      d["time"] = e.Time;
      d["data"] = py::bytes(reinterpret_cast<const char*>(e.Bytes.data()), e.Bytes.size());
      d["status"] = e.Status;
      d["line"] = line;
      out.append(d);
    }
    return out;
  }
  std::vector<std::string> Lines() const {
    return Library([&] {
      std::vector<std::string> lines;
      for (const Sim::TTraceEntry& e : FSim.Driver->Trace())
        if (e.Kind == Sim::TTraceKind::Frame) lines.push_back(Line(e));
      return lines;
    });
  }
  std::vector<py::bytes> Frames() const {
    const auto copy = Library([&] { return FSim.Driver->Frames(); });
    std::vector<py::bytes> frames;
    for (const auto& f : copy) frames.emplace_back(reinterpret_cast<const char*>(f.data()), f.size());
    return frames;
  }
  // Runs the tuners' polls that fall due: a link failing in one raises LinkError.
  int Advance(uint64_t ms) {
    if (!FSim.Timers) throw py::value_error("advance: this simulator runs on the system clock");
    return Library([&] { return FSim.Timers->Advance(ms); });
  }
  uint64_t Now() const {
    if (!FSim.Clock) throw py::value_error("now: this simulator runs on the system clock");
    return Library([&] { return FSim.Clock->Now(); });
  }
  // The generator whose clock the decoded frequencies refer to.
  const TZuGen4* Attached = nullptr;

 private:
  std::string Line(const Sim::TTraceEntry& e) const {
    if (e.Kind == Sim::TTraceKind::Frame) return Sim::DescribeFrame(e.Bytes, Attached ? Attached->GenFreq() : 400.0);
    static const char* const kKinds[] = {"open", "close", "frame", "block", "read"};
    std::string line = kKinds[static_cast<int>(e.Kind)];
    if (e.Kind == Sim::TTraceKind::Block || e.Kind == Sim::TTraceKind::Read)
      line += " " + std::to_string(e.Bytes.size()) + " bytes";
    if (e.Status != FT_OK) line += " -> " + FtStatusName(e.Status);
    return line;
  }

  Sim::TSimPlatform FSim;
  bool FRealtime;
};

class TPyGen {
 public:
  TPyGen(std::shared_ptr<TPySim> sim, int device) : FSim(std::move(sim)) {
    if (device < 0) throw py::value_error("device " + std::to_string(device) + " is negative");
    if (FSim && device != 0)
      throw py::value_error("device " + std::to_string(device) + ": a simulated instrument is device 0");
    if (FSim && FSim->Attached) throw py::value_error("this simulated instrument already serves a generator");
    TPlatform p = FSim ? FSim->Platform() : DefaultPlatform();
    if (!p.Driver) p.Driver = SystemPlatform().Driver;
    FGen = std::make_unique<TZuGen4>();
    FGen->SetPlatform(std::move(p));
    FGen->SetDevice(device);
    FGen->IncludeState(csLoading);
    if (FSim) FSim->Attached = FGen.get();
    Hook();
  }
  // A device by index ("2") or serial number ("FT1234AB").
  TPyGen(std::shared_ptr<TPySim> sim, const std::string& device) : TPyGen(std::move(sim), 0) {
    TFtDeviceChoice choice;
    std::string why;
    if (!ParseDeviceChoice(device, choice, why)) throw py::value_error(why);
    if (FSim && !choice.Serial.empty())
      throw py::value_error("device \"" + device + "\": a simulated instrument is device 0");
    if (FSim && choice.Index != 0) throw py::value_error("device " + device + ": a simulated instrument is device 0");
    TPlatform p = FGen->Platform();
    p.Driver = DriverForChoice(p.Driver, choice);
    FGen->SetPlatform(std::move(p));
    FGen->SetDevice(choice.Index);
  }
  ~TPyGen() {
    FDispatch = py::object();
    FGen.reset();
    if (FSim) FSim->Attached = nullptr;
  }

  TZuGen4& Gen() { return *FGen; }
  std::shared_ptr<TPySim> Sim() const { return FSim; }

  // Runs f in the library (see Library).
  template <typename F>
  auto Run(F&& f) -> decltype(f()) {
    return Library(std::forward<F>(f));
  }

  py::object Get(const std::string& path) {
    TPropKind kind{};
    double d = 0.0;
    bool b = false;
    int64_t i = 0;
    Run([&] {
      kind = DescribeProperty(*FGen, path).Kind;
      switch (kind) {
        case TPropKind::Double: d = GetPropDouble(*FGen, path); break;
        case TPropKind::Bool: b = GetPropBool(*FGen, path); break;
        default: i = GetPropInt(*FGen, path);
      }
    });
    switch (kind) {
      case TPropKind::Double: return py::float_(d);
      case TPropKind::Bool: return py::bool_(b);
      default: return py::int_(i);
    }
  }

  void Set(const std::string& path, const py::object& value) {
    if (py::isinstance<py::str>(value)) {
      const std::string v = value.cast<std::string>();
      Run([&] { SetPropText(*FGen, path, v); });
    } else if (py::isinstance<py::bool_>(value)) {
      const bool v = value.cast<bool>();
      Run([&] { SetPropBool(*FGen, path, v); });
    } else if (py::isinstance<py::int_>(value)) {
      const int64_t v = value.cast<int64_t>();
      Run([&] { SetPropInt(*FGen, path, v); });
    } else if (py::isinstance<py::float_>(value)) {
      const double v = value.cast<double>();
      Run([&] { SetPropDouble(*FGen, path, v); });
    } else {
      throw py::type_error(path + ": a number, a bool or a text is needed, not " +
                           std::string(py::str(value.get_type().attr("__name__"))));
    }
  }

  void SetMany(const std::vector<std::pair<std::string, std::string>>& assignments, bool update, bool force) {
    Run([&] { SetProps(*FGen, assignments, TSetOptions{.Update = update, .Force = force}); });
  }

  py::list Properties() {
    py::list out;
    for (const TPropInfo& p : Run([&] { return ListProperties(*FGen); })) {
      py::dict d;
      d["path"] = p.Path;
      static const char* const kKinds[] = {"double", "int", "bool", "enum"};
      d["kind"] = kKinds[static_cast<int>(p.Kind)];
      d["unit"] = p.Unit;
      d["has_range"] = p.HasRange;
      d["min"] = p.Min;
      d["max"] = p.Max;
      d["range"] = RangeText(p);
      py::list enums;
      for (const TPropEnumerator& e : p.Enumerators) enums.append(py::make_tuple(e.Value, e.Name, e.ShortName));
      d["enumerators"] = enums;
      d["stored"] = p.Stored;
      d["read_only"] = p.ReadOnly;
      d["host_option"] = p.HostOption;
      d["description"] = p.Description;
      out.append(d);
    }
    return out;
  }

  void Activate() {
    Run([&] { FGen->SetActive(true); });
    if (!FGen->Active()) RaiseLinkError("the instrument could not be opened", FGen->LastLinkFailure(), FGen->Status());
  }
  void Deactivate() {
    Run([&] { FGen->SetActive(false); });
  }
  void Detach() {
    Run([&] { FGen->Detach(); });
  }
  void Update() {
    Run([&] { FGen->UpdateMode(); });
  }

  // A batch: automatic updates off until the outermost batch ends, then one
  // update. When the block raised, a failing update must not hide that.
  void BeginBatch() {
    if (FBatch++ == 0) {
      FBatchAuto = FGen->AutoUpdate();
      Run([&] { FGen->SetAutoUpdate(false); });
    }
  }
  void EndBatch(bool quiet) {
    if (FBatch == 0 || --FBatch != 0 || !FBatchAuto) return;
    if (!quiet) return Run([&] { FGen->SetAutoUpdate(true); });
    try {
      Run([&] { FGen->SetAutoUpdate(true); });
    } catch (...) {
      // The block's own exception is the one to see.
    }
  }

  void Save(const std::string& file) {
    Run([&] { FGen->SaveToFileUtf8(file); });
  }
  // Only a whole record is taken: a file cut short or of another kind changes
  // nothing and raises OSError naming the fault.
  void Load(const std::string& file) {
    Run([&] {
      // A record no engine can send changes nothing either.
      PreviewChange(*FGen, [&](TZuGen4& copy) { LoadSettingsStrict(copy, file, TFileNameEncoding::Utf8); });
      LoadSettingsStrict(*FGen, file, TFileNameEncoding::Utf8);
    });
  }

  std::string WriteTextForm(const std::string& name) {
    return Run([&] { return Zu::WriteTextForm(*FGen, name); });
  }
  void ReadTextForm(const std::string& text) {
    Run([&] { Zu::ReadTextForm(*FGen, text); });
  }

  // The table the engine at `path` ("ChA.IntModulation", "ChB.DDSMod")
  // downloads for the present setup, as the library plans it.
  py::dict Table(const std::string& path) {
    const TZuGen4PlanTable t = Run([&] { return FGen->PlanTable(path); });
    return TableDict(t);
  }

  static py::dict TableDict(const TZuGen4PlanTable& t) {
    py::dict d;
    d["path"] = t.Path;
    d["quantity"] = t.Quantity;
    d["unit"] = t.Unit;
    d["codes"] = t.Codes;
    d["values"] = t.Values;
    d["step_seconds"] = t.StepSeconds;
    d["divider"] = t.Divider;
    d["divider_text"] = t.DividerText;
    return d;
  }

  // What the assignments would send, worked out on a copy: nothing changes.
  py::dict Preview(const std::vector<std::pair<std::string, std::string>>& assignments, bool force) {
    const TZuGen4Plan plan = Run([&] { return PreviewProps(*FGen, assignments, TSetOptions{.Force = force}); });
    py::list steps;
    for (const TZuGen4PlanStep& step : plan.Steps) {
      py::dict d;
      d["kind"] = step.Kind == TZuGen4StepKind::Block ? "block" : "frame";
      d["bytes"] = py::bytes(reinterpret_cast<const char*>(step.Bytes.data()), step.Bytes.size());
      d["text"] = step.Text;
      steps.append(d);
    }
    py::list tables;
    for (const TZuGen4PlanTable& t : plan.Tables) tables.append(TableDict(t));
    py::dict out;
    out["steps"] = steps;
    out["tables"] = tables;
    out["duration_ms"] = plan.DurationMs();
    out["text"] = plan.Text();
    return out;
  }

  // Appends every update sent to a recording (ZuRecording.h); None stops.
  void Record(const std::optional<std::string>& path) {
    Run([&] {
      FRecorder.reset();
      if (path) FRecorder = std::make_unique<TZuGen4Recorder>(*FGen, *path);
    });
  }

  // Events: the Python half hands one dispatcher and says which events it
  // wants; the response wait only while wanted (a handler there turns the
  // wait into a polling loop).
  void SetDispatcher(py::object fn) { FDispatch = std::move(fn); }
  void WantResponseWait(bool want) {
    Run([&] {
      if (want)
        FGen->OnGenResponseWait = [this](TObject*) { Dispatch("OnGenResponseWait", -1, 0.0, 0); };
      else
        FGen->OnGenResponseWait = nullptr;
    });
  }

 private:
  static int ChannelIndex(const TZuGen4Channel* ch) { return ch ? (ch->IsChannelA() ? 0 : 1) : -1; }

  // Events come while the library runs, without the interpreter lock.
  void Dispatch(const char* name, int channel, double value, int extra) {
    py::gil_scoped_acquire gil;
    if (FDispatch && !FDispatch.is_none()) FDispatch(name, channel, value, extra);
  }

  void Hook() {
    TZuGen4& g = *FGen;
    g.OnFTError = [this](TObject*) {
      tLinkFailed = FGen.get();
      Dispatch("OnFTError", -1, 0.0, 0);
    };
    g.OnErrorFile = [this](TObject*) { Dispatch("OnErrorFile", -1, 0.0, 0); };
    g.OnParamValueError = [this](TZuGen4Channel* ch, TZuGen4Parameters param, void* value) {
      Dispatch("OnParamValueError", ChannelIndex(ch), value ? *static_cast<double*>(value) : 0.0, param);
    };
    g.OnADCTimer = [this](TZuGen4Channel* ch) {
      Dispatch("OnADCTimer", ChannelIndex(ch), static_cast<double>(ch->Tuner()->ADCValue()), 0);
    };
    g.AfterUpdate = [this](TObject*) { Dispatch("AfterUpdate", -1, 0.0, 0); };
    g.OnChModeChange = [this](TZuGen4Channel* ch, bool val) { Dispatch("OnChModeChange", ChannelIndex(ch), 0.0, val); };
    g.OnChangeActiveState = [this](TObject* sender) {
      Dispatch("OnChangeActiveState", -1, 0.0, static_cast<TZuGen4*>(sender)->Active());
    };
    g.OnOverModulation = [this](TZuGen4Channel* ch, double val) {
      Dispatch("OnOverModulation", ChannelIndex(ch), val, 0);
    };
  }

  std::shared_ptr<TPySim> FSim;
  std::unique_ptr<TZuGen4> FGen;
  std::unique_ptr<TZuGen4Recorder> FRecorder;  // goes before the generator
  py::object FDispatch;
  int FBatch = 0;
  bool FBatchAuto = true;
};

}  // namespace

PYBIND11_MODULE(_zugen4, m) {
  m.doc() = "The compiled part of zugen4; use the zugen4 package.";
  static py::exception<Exception> linkError(m, "LinkError");
  gLinkError = linkError;
  linkError.doc() =
      "The link to the instrument failed. Attributes: message (the system's text), status (the driver's "
      "status code) and status_name.";

  py::class_<TPySim, std::shared_ptr<TPySim>>(m, "_Simulator")
      .def(py::init<bool>(), py::arg("realtime") = false)
      .def_property_readonly("realtime", &TPySim::Realtime)
      .def("trace", &TPySim::Trace)
      .def("lines", &TPySim::Lines)
      .def("frames", &TPySim::Frames)
      .def("clear_trace", [](TPySim& s) { Library([&] { s.Driver().ClearTrace(); }); })
      .def("violations",
           [](TPySim& s) {
             return Library([&] {
               // The framing the driver checks, then what the instrument model finds in the values.
               std::vector<std::string> all = s.Driver().Violations();
               for (const std::string& v : s.Driver().Model().Violations()) all.push_back(v);
               return all;
             });
           })
      .def("set_adc", [](TPySim& s, uint32_t v) { Library([&] { s.Driver().SetADCValue(v); }); })
      .def("fail_open", [](TPySim& s, unsigned status) { Library([&] { s.Driver().FailOpen(status); }); })
      .def("fail_close", [](TPySim& s, unsigned status) { Library([&] { s.Driver().FailClose(status); }); })
      .def("fail_write",
           [](TPySim& s, unsigned nth, unsigned status, std::optional<uint32_t> count) {
             if (nth == 0) throw py::value_error("nth counts from 1 (the next write)");
             Library([&] { s.Driver().FailWrite(nth, Sim::TFault{status, count}); });
           })
      .def("fail_read",
           [](TPySim& s, unsigned nth, unsigned status, std::optional<uint32_t> count) {
             if (nth == 0) throw py::value_error("nth counts from 1 (the next read)");
             Library([&] { s.Driver().FailRead(nth, Sim::TFault{status, count}); });
           })
      .def("unplug", [](TPySim& s) { Library([&] { s.Driver().Unplug(); }); })
      .def("replug", [](TPySim& s, bool asNew) { Library([&] { s.Driver().Replug(asNew); }); })
      .def("clear_faults", [](TPySim& s) { Library([&] { s.Driver().ClearFaults(); }); })
      .def("is_open", [](TPySim& s) { return Library([&] { return s.Driver().IsOpen(); }); })
      // The instrument's decoded state, where the simulator keeps one.
      .def("state",
           [](TPySim& s) -> py::object {
             return [](auto& driver) -> py::object {
               if constexpr (requires { driver.Model().StateText(); })
                 return py::str(driver.Model().StateText());
               else
                 return py::none();
             }(s.Driver());
           })
      .def("advance", &TPySim::Advance)
      .def("now", &TPySim::Now);

  py::class_<TPyGen>(m, "_Generator")
      .def(py::init<std::shared_ptr<TPySim>, int>(), py::arg("sim"), py::arg("device") = 0)
      .def(py::init<std::shared_ptr<TPySim>, const std::string&>(), py::arg("sim"), py::arg("device"))
      .def("get", &TPyGen::Get)
      .def("set", &TPyGen::Set)
      .def("set_many", &TPyGen::SetMany, py::arg("assignments"), py::arg("update") = true, py::arg("force") = false)
      .def("properties", &TPyGen::Properties)
      .def("activate", &TPyGen::Activate)
      .def("deactivate", &TPyGen::Deactivate)
      .def("detach", &TPyGen::Detach)
      .def("update", &TPyGen::Update)
      .def("active", [](TPyGen& g) { return g.Gen().Active(); })
      .def("status", [](TPyGen& g) { return g.Gen().Status(); })
      .def("begin_batch", &TPyGen::BeginBatch)
      .def("end_batch", &TPyGen::EndBatch)
      .def("save", &TPyGen::Save)
      .def("load", &TPyGen::Load)
      .def("write_text_form", &TPyGen::WriteTextForm)
      .def("read_text_form", &TPyGen::ReadTextForm)
      .def("table", &TPyGen::Table)
      .def("preview", &TPyGen::Preview, py::arg("assignments"), py::arg("force") = false)
      .def("record", &TPyGen::Record)
      .def("set_dispatcher", &TPyGen::SetDispatcher)
      .def("want_response_wait", &TPyGen::WantResponseWait);

  m.def(
      "process_messages", [] { return Library([] { return ProcessMessages(); }); },
      "Runs the calling thread's due timers (tuner polls); returns how many. A link failing in a poll raises "
      "LinkError.");
  // The wait touches no generator: other threads, the library included, go on.
  m.def("wait_messages", &WaitMessages, py::arg("timeout_ms"), py::call_guard<py::gil_scoped_release>(),
        "Waits until a timer of the calling thread is due or the timeout passed; True when one is due.");
  m.def("messages_fd", &MessagesFd, "A descriptor readable while a timer of the calling thread is due (-1: none).");

  m.attr("__version__") = ZUGEN_VERSION_STRING;
  m.def(
      "_list_devices",
      [] {
        std::shared_ptr<TFtDriver> driver = DefaultPlatform().Driver;
        const TFtDeviceList list = (driver ? driver : SystemPlatform().Driver)->ListDevices();
        py::list devices;
        for (const TFtDeviceInfo& d : list.Devices) {
          py::dict e;
          e["index"] = d.Index;
          e["serial"] = d.Serial;
          e["description"] = d.Description;
          e["busy"] = d.Busy;
          e["backend"] = d.Backend;
          devices.append(e);
        }
        return py::make_tuple(devices, list.Problems);
      },
      "The devices the system's driver sees, and why a driver library could not be asked.");

  py::dict params;
  params["ZGPrm_Frequency"] = static_cast<int>(ZGPrm_Frequency);
  params["ZGPrm_Phase"] = static_cast<int>(ZGPrm_Phase);
  params["ZGPrm_LFMTime"] = static_cast<int>(ZGPrm_LFMTime);
  params["ZGPrm_DDSModTime"] = static_cast<int>(ZGPrm_DDSModTime);
  m.attr("_parameters") = params;
}
