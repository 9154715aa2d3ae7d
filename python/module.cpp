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
#include <string>
#include <vector>

#include "zugen4/Version.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

#if __has_include("zugen4/ZuTextForm.h")
#include "zugen4/ZuTextForm.h"
#define ZUGEN_HAVE_TEXT_FORMS 1
#endif

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

[[noreturn]] void RaiseOSError(const std::string& message, const std::string& file) {
  py::object err = py::reinterpret_borrow<py::object>(PyExc_OSError)(file.empty() ? message : message + ": " + file);
  err.attr("filename") = file;
  PyErr_SetObject(PyExc_OSError, err.ptr());
  throw py::error_already_set();
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
    py::list out;
    static const char* const kKinds[] = {"open", "close", "frame", "block", "read"};
    for (const Sim::TTraceEntry& e : FSim.Driver->Trace()) {
      py::dict d;
      d["kind"] = kKinds[static_cast<int>(e.Kind)];
      d["time"] = e.Time;
      d["data"] = py::bytes(reinterpret_cast<const char*>(e.Bytes.data()), e.Bytes.size());
      d["status"] = e.Status;
      d["line"] = Line(e);
      out.append(d);
    }
    return out;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const Sim::TTraceEntry& e : FSim.Driver->Trace())
      if (e.Kind == Sim::TTraceKind::Frame) lines.push_back(Line(e));
    return lines;
  }
  std::vector<py::bytes> Frames() const {
    std::vector<py::bytes> frames;
    for (const auto& f : FSim.Driver->Frames()) frames.emplace_back(reinterpret_cast<const char*>(f.data()), f.size());
    return frames;
  }
  int Advance(uint64_t ms) {
    if (!FSim.Timers) throw py::value_error("advance: this simulator runs on the system clock");
    return FSim.Timers->Advance(ms);
  }
  uint64_t Now() const {
    if (!FSim.Clock) throw py::value_error("now: this simulator runs on the system clock");
    return FSim.Clock->Now();
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

// Decodes a table from the bytes the instrument takes back into samples.
std::vector<int64_t> Samples(const TMathFunction& f) {
  const int width = f.BytesPerReading() == ZBPR_4bytes ? 4 : 2;
  const int n = f.ReadingsCount();
  std::vector<int64_t> out(static_cast<size_t>(n));
  const uint8_t* bytes = f.Readings();
  if (!bytes || f.ReadingsSize() < n * width) return {};
  for (int i = 0; i < n; ++i) {
    const uint8_t* p = bytes + static_cast<ptrdiff_t>(i) * width;
    uint64_t v = 0;
    for (int b = 0; b < width; ++b) {
      const int shift = 8 * (f.DirectRdsBytes() ? b : width - 1 - b);
      v |= static_cast<uint64_t>(p[b]) << shift;
    }
    out[static_cast<size_t>(f.DirectRdsOrder() ? i : n - 1 - i)] = static_cast<int64_t>(v);
  }
  return out;
}

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

  // Runs f and turns the library's failures into Python's exceptions.
  template <typename F>
  auto Run(F&& f, const std::string& file = {}) -> decltype(f()) {
    FLinkFailed = false;
    try {
      return f();
    } catch (const ERefusedValue& e) {
      throw py::value_error(e.what());
    } catch (const EBadValue& e) {
      throw py::value_error(e.what());
    } catch (const EUnknownProperty& e) {
      throw py::key_error(e.what());
    } catch (const EInOutError& e) {
      RaiseOSError(e.what(), file);
#ifdef ZUGEN_HAVE_TEXT_FORMS
    } catch (const ETextFormError& e) {
      throw py::value_error(e.what());
#endif
    } catch (const Exception& e) {
      if (FLinkFailed) RaiseLinkError(e.what(), FGen->LastLinkFailure(), FGen->Status());
      throw;
    }
  }

  py::object Get(const std::string& path) {
    return Run([&]() -> py::object {
      const TPropInfo info = DescribeProperty(*FGen, path);
      switch (info.Kind) {
        case TPropKind::Double: return py::float_(GetPropDouble(*FGen, path));
        case TPropKind::Bool: return py::bool_(GetPropBool(*FGen, path));
        default: return py::int_(GetPropInt(*FGen, path));
      }
    });
  }

  void Set(const std::string& path, const py::object& value) {
    Run([&] {
      if (py::isinstance<py::str>(value)) {
        SetPropText(*FGen, path, value.cast<std::string>());
      } else if (py::isinstance<py::bool_>(value)) {
        SetPropBool(*FGen, path, value.cast<bool>());
      } else if (py::isinstance<py::int_>(value)) {
        SetPropInt(*FGen, path, value.cast<int64_t>());
      } else if (py::isinstance<py::float_>(value)) {
        SetPropDouble(*FGen, path, value.cast<double>());
      } else {
        throw py::type_error(path + ": a number, a bool or a text is needed, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
      }
    });
  }

  void SetMany(const std::vector<std::pair<std::string, std::string>>& assignments, bool update) {
    Run([&] { SetProps(*FGen, assignments, update); });
  }

  py::list Properties() {
    py::list out;
    for (const TPropInfo& p : ListProperties(*FGen)) {
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
      FGen->SetAutoUpdate(true);
    } catch (...) {
    }
  }

  void Save(const std::string& file) {
    Run([&] { FGen->SaveToFileUtf8(file); }, file);
  }
  void Load(const std::string& file) {
    FFileRefused = false;
    Run([&] { FGen->LoadFromFileUtf8(file); }, file);
    if (FFileRefused) RaiseOSError("not a settings file (wrong signature or version)", file);
  }

  std::string WriteTextForm(const std::string& name) {
#ifdef ZUGEN_HAVE_TEXT_FORMS
    return Run([&] { return Zu::WriteTextForm(*FGen, name); });
#else
    (void)name;
    throw py::value_error("text forms are not part of this build");
#endif
  }
  void ReadTextForm(const std::string& text) {
#ifdef ZUGEN_HAVE_TEXT_FORMS
    Run([&] { Zu::ReadTextForm(*FGen, text); });
#else
    (void)text;
    throw py::value_error("text forms are not part of this build");
#endif
  }

  // The table the engine at `engine` ("ChA.IntModulation", "ChB.DDSMod")
  // downloads for the present setup. It is computed on a scratch generator
  // with a simulated instrument, so the real one sees nothing.
  std::vector<int64_t> Table(const std::string& engine) {
    const bool chA = engine.rfind("ChA.", 0) == 0;
    if (!chA && engine.rfind("ChB.", 0) != 0) throw py::value_error(engine + ": no channel engine");
    const std::string kind = engine.substr(4);
    if (kind != "IntModulation" && kind != "DDSMod")
      throw py::value_error(engine + ": only IntModulation and DDSMod download tables");
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("zugen4-table-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "-" + std::to_string(++counter));
    return Run([&] {
      Sim::TSimPlatform sim;
      TZuGen4 scratch;
      scratch.SetPlatform(sim.Platform());
      FGen->SaveToFileUtf8(file.string());
      struct TRemove {
        const std::filesystem::path& F;
        ~TRemove() {
          std::error_code ec;
          std::filesystem::remove(F, ec);
        }
      } remove{file};
      scratch.LoadFromFileUtf8(file.string());
      TZuGen4Channel* ch = chA ? static_cast<TZuGen4Channel*>(scratch.ChA()) : scratch.ChB();
      const TZuGen4ModesCommon mode = kind == "DDSMod" ? ZGMdC_DDSMod : ZGMdC_IntModulation;
      ch->SetMode(mode);
      if (ch->Mode() != mode) {  // the other channel's mode excludes it
        ch->GetOtherCh()->SetMode(ZGMdC_off);
        ch->SetMode(mode);
      }
      if (kind == "DDSMod") ch->DDSMod()->SetMode(ZGTMs_User);
      scratch.IncludeState(csLoading);
      scratch.SetActive(true);
      const TMathFunction* f = kind == "DDSMod" ? ch->DDSMod()->MathFunction() : ch->IntModulation()->MathFunction();
      return f ? Samples(*f) : std::vector<int64_t>{};
    });
  }

  // Events: the Python half hands one dispatcher and says which events it
  // wants; the response wait only while wanted (a handler there turns the
  // wait into a polling loop).
  void SetDispatcher(py::object fn) { FDispatch = std::move(fn); }
  void WantResponseWait(bool want) {
    if (want)
      FGen->OnGenResponseWait = [this](TObject*) { Dispatch("OnGenResponseWait", -1, 0.0, 0); };
    else
      FGen->OnGenResponseWait = nullptr;
  }

 private:
  static int ChannelIndex(const TZuGen4Channel* ch) { return ch ? (ch->IsChannelA() ? 0 : 1) : -1; }

  void Dispatch(const char* name, int channel, double value, int extra) {
    if (FDispatch && !FDispatch.is_none()) FDispatch(name, channel, value, extra);
  }

  void Hook() {
    TZuGen4& g = *FGen;
    g.OnFTError = [this](TObject*) {
      FLinkFailed = true;
      Dispatch("OnFTError", -1, 0.0, 0);
    };
    g.OnErrorFile = [this](TObject*) {
      FFileRefused = true;
      Dispatch("OnErrorFile", -1, 0.0, 0);
    };
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
  py::object FDispatch;
  bool FLinkFailed = false;
  bool FFileRefused = false;
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
      .def("clear_trace", [](TPySim& s) { s.Driver().ClearTrace(); })
      .def("violations", [](TPySim& s) { return s.Driver().Violations(); })
      .def("set_adc", [](TPySim& s, uint32_t v) { s.Driver().SetADCValue(v); })
      .def("fail_open", [](TPySim& s, unsigned status) { s.Driver().FailOpen(status); })
      .def("fail_close", [](TPySim& s, unsigned status) { s.Driver().FailClose(status); })
      .def("fail_write",
           [](TPySim& s, unsigned nth, unsigned status, std::optional<uint32_t> count) {
             if (nth == 0) throw py::value_error("nth counts from 1 (the next write)");
             s.Driver().FailWrite(nth, Sim::TFault{status, count});
           })
      .def("fail_read",
           [](TPySim& s, unsigned nth, unsigned status, std::optional<uint32_t> count) {
             if (nth == 0) throw py::value_error("nth counts from 1 (the next read)");
             s.Driver().FailRead(nth, Sim::TFault{status, count});
           })
      .def("unplug", [](TPySim& s) { s.Driver().Unplug(); })
      .def("replug", [](TPySim& s, bool asNew) { s.Driver().Replug(asNew); })
      .def("clear_faults", [](TPySim& s) { s.Driver().ClearFaults(); })
      .def("is_open", [](TPySim& s) { return s.Driver().IsOpen(); })
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
      .def("set_many", &TPyGen::SetMany, py::arg("assignments"), py::arg("update") = true)
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
      .def("set_dispatcher", &TPyGen::SetDispatcher)
      .def("want_response_wait", &TPyGen::WantResponseWait);

  m.def("process_messages", &ProcessMessages, "Runs the calling thread's due timers (tuner polls); returns how many.");
  m.def("wait_messages", &WaitMessages, py::arg("timeout_ms"),
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
