"""Drive a ZuGen4 two-channel DDS signal generator, or a simulated one.

    import zugen4
    gen = zugen4.Generator(sim=True)        # sim=False: the instrument on the USB bridge
    gen.activate()
    gen.ChA.Mode = zugen4.TZuGen4ModesCommon.ZGMdC_IntModulation
    gen.ChA.IntModulation.Fm = 500          # Hz
    with gen.batch():                       # one update for many changes
        gen.ChB.Mode = "gen"
        gen["ChB.Frequency"] = 2000.0       # kHz
    print(gen.sim.lines())                  # what the instrument received

Every property of the library is here under its own name and path, made from
the library's property registry; each one's docstring gives its unit and range.
A value the property refuses raises ValueError naming the property, the value
and the range; a failing link raises LinkError, also in a tuner's poll
(process_messages(), sim.advance()); a file that cannot be read or written
raises OSError with errno, strerror and filename (a settings file cut short,
a pipe or a device: errno EINVAL, strerror saying what is wrong, and nothing
changes). Every call that waits (a link's 20 ms per command, wait_messages())
lets other Python threads run meanwhile.

A with block opens the instrument and, on leaving, lets go of it without the
reset (detach), so the instrument keeps running what it was sent:

    with zugen4.Generator(sim=True) as g:
        g.ChB.Mode = "intmod"               # modes also by the names people use
        g["ChB.IntModulation.Fm"] = "5 kHz" # texts may carry a unit
        g.reset()                           # back to the defaults
"""
import collections
import contextlib
import enum
import os
import weakref

from . import _zugen4
from ._zugen4 import LinkError, messages_fd, process_messages, wait_messages

__version__ = _zugen4.__version__

try:
    import numpy as _numpy
except ImportError:  # tables come as lists then
    _numpy = None

__all__ = ["Generator", "Simulator", "LinkError", "TraceEntry", "Plan", "PlanStep", "Table", "TZuGen4Parameters",
           "process_messages", "wait_messages", "messages_fd"]

FT_OK, FT_INVALID_HANDLE, FT_DEVICE_NOT_FOUND, FT_DEVICE_NOT_OPENED, FT_IO_ERROR, FT_INSUFFICIENT_RESOURCES = range(6)

Table = collections.namedtuple("Table", "path quantity unit codes values step_seconds divider divider_text")
Table.__doc__ = ("A table an engine downloads: its codes in play order, their values in unit, the time each "
                 "reading plays and the engine's timer word.")
PlanStep = collections.namedtuple("PlanStep", "kind bytes text")
PlanStep.__doc__ = "One step of a plan: kind ('frame' or 'block'), its bytes, its meaning in realised values."
Plan = collections.namedtuple("Plan", "steps duration_ms tables text")
Plan.__doc__ = ("What an update sends, in order (PlanStep), its time at 20 ms a command, the tables it "
                "downloads (Table) and the whole as text.")

TraceEntry = collections.namedtuple("TraceEntry", "kind time data status line")
TraceEntry.__doc__ = ("One driver call of the simulated instrument: kind ('open', 'close', 'frame', 'block', "
                      "'read'), virtual time in ms, the bytes written or read, the driver's status, a readable line.")

TZuGen4Parameters = enum.IntEnum("TZuGen4Parameters", _zugen4._parameters)
TZuGen4Parameters.__doc__ = "The parameter an OnParamValueError event reports."


class Simulator:
    """A simulated instrument: it keeps a trace of every driver call, answers
    the ADC read, flags protocol faults and fails on demand, so that scripts
    can be tested without an instrument.

    On virtual time (the default) the instrument's 20 ms settle time costs
    nothing and the tuner's polling runs in advance(); with realtime=True the
    system clock and the thread's timers drive it, as with the real one.
    """

    def __init__(self, realtime=False):
        self._s = _zugen4._Simulator(realtime)
        self._adc = 0

    def trace(self):
        """Every driver call since the last clear_trace(), as TraceEntry tuples."""
        return [TraceEntry(e["kind"], e["time"], e["data"], e["status"], e["line"]) for e in self._s.trace()]

    def lines(self):
        """The command frames as readable lines, e.g. 'A freq 21474836 (2000.000 kHz)'."""
        return self._s.lines()

    def frames(self):
        """The command frames as bytes, in the order written."""
        return self._s.frames()

    def clear_trace(self):
        """Forgets the trace (not the faults armed)."""
        self._s.clear_trace()

    @property
    def violations(self):
        """Protocol faults the instrument saw (unknown codes, blocks not announced, ...)."""
        return self._s.violations()

    @property
    def adc(self):
        """What the instrument's ADC read answers."""
        return self._adc

    @adc.setter
    def adc(self, value):
        self._s.set_adc(int(value))
        self._adc = int(value)

    def fail_open(self, status=FT_DEVICE_NOT_FOUND):
        """The next open answers status."""
        self._s.fail_open(status)

    def fail_close(self, status=FT_IO_ERROR):
        """The next close answers status."""
        self._s.fail_close(status)

    def fail_write(self, nth=1, status=FT_IO_ERROR, count=None):
        """The nth write from now (1: the next) answers status, or with count
        reports success having written only count bytes."""
        self._s.fail_write(nth, status, count)

    def fail_read(self, nth=1, status=FT_IO_ERROR, count=None):
        """The nth read from now answers status, or reads only count bytes."""
        self._s.fail_read(nth, status, count)

    def unplug(self):
        """The instrument goes away: every write and read fails until replug()."""
        self._s.unplug()

    def replug(self, as_new_device=False):
        """It comes back; as a new device it must be opened again."""
        self._s.replug(as_new_device)

    def clear_faults(self):
        """Lifts every fault armed, and an unplug."""
        self._s.clear_faults()

    @property
    def is_open(self):
        return self._s.is_open()

    def state(self):
        """The instrument as the frames left it, decoded per channel (output,
        mode, frequency, amplitude and phase codes, tables, ...), as text."""
        text = self._s.state()
        if text is None:
            raise NotImplementedError("this build's simulator keeps no decoded state")
        return text

    def advance(self, ms):
        """Moves virtual time on by ms, running the polls that fall due; returns how many ran."""
        return self._s.advance(ms)

    @property
    def now(self):
        """The virtual time in ms."""
        return self._s.now()


# --- the attribute tree, made from the registry ---

# The library's names of its enumeration types, by the prefix their
# enumerators share; any other enumeration is named by its prefix.
_ENUM_TYPE_NAMES = {"ZGMdC": "TZuGen4ModesCommon", "ZGAFPms": "TZuGen4AFPModes", "ZMFT": "TMathFuncsTypes",
                    "ZGTMs": "TZuGen4DDSmodModes", "ZGCN": "TZuGen4ChNames"}
_EVENTS = ("OnFTError", "OnParamValueError", "OnADCTimer", "AfterUpdate", "OnChModeChange", "OnChangeActiveState",
           "OnGenResponseWait", "OnErrorFile", "OnOverModulation")
_TABLE_ENGINES = ("IntModulation", "DDSMod")


def _probe_properties():
    probe = _zugen4._Generator(_zugen4._Simulator(False), 0)
    return probe.properties()


_PROPS = {p["path"]: p for p in _probe_properties()}
_ENUMS = {}  # enumerator names -> enum class


def _enum_for(info):
    if info["kind"] != "enum":
        return None
    names = tuple(name for _, name, _ in info["enumerators"])
    if names not in _ENUMS:
        prefix = names[0].split("_", 1)[0]
        cls = enum.IntEnum(_ENUM_TYPE_NAMES.get(prefix, prefix), [(name, value) for value, name, _ in info["enumerators"]])
        cls.__doc__ = "One of: " + ", ".join(f"{name} ({short})" for _, name, short in info["enumerators"])
        cls.__module__ = __name__
        _ENUMS[names] = cls
        globals()[cls.__name__] = cls
        __all__.append(cls.__name__)
    return _ENUMS[names]


def _doc(info):
    text = info["description"] or info["path"]
    if info["unit"]:
        text += f"; in {info['unit']}"
    if info["range"]:
        text += f"; range {info['range']}"
    if info["enumerators"]:
        text += "; one of " + ", ".join(short for _, _, short in info["enumerators"])
    if info["read_only"]:
        text += " (read-only)"
    return f"{text}. Path: {info['path']}."


def _convert(info, value):
    cls = _enum_for(info)
    return cls(value) if cls is not None else value


def _check_kind(info, value):
    # True and False are numbers to Python, but no frequency is "True".
    if isinstance(value, bool) and info is not None and info["kind"] != "bool":
        raise TypeError(f"{info['path']}: {value} is no {info['kind']}; give a number or a text "
                        f"(in {info['unit'] or 'no unit'})")


def _make_property(path, info):
    def fget(node):
        return _convert(info, node._gen._g.get(path))

    def fset(node, value):
        _check_kind(info, value)
        node._gen._g.set(path, value)

    return property(fget, None if info["read_only"] else fset, doc=_doc(info))


class _Node:
    """A channel, an engine or the options: properties named as in the library."""
    __slots__ = ("_gen", "_path")

    def __init__(self, gen, path):
        self._gen = gen
        self._path = path

    def __repr__(self):
        return f"<zugen4 {self._path}>"


def _array(values, dtype):
    return _numpy.asarray(values, dtype=dtype) if _numpy is not None else list(values)


def _make_table(d):
    return Table(d["path"], d["quantity"], d["unit"], _array(d["codes"], "int64"), _array(d["values"], "float64"),
                 d["step_seconds"], d["divider"], d["divider_text"])


def _table(node):
    """The table this engine downloads for the present setup, as register
    codes in play order (a NumPy array when NumPy is installed, else a list).
    The library plans it on a copy of the setup, as every face does: the
    instrument sees nothing. ValueError when the engine plays no table as it
    is set (binary and quadrature keying). table_info() gives the values,
    step time and divider too."""
    return _table_info(node).codes


def _table_info(node):
    """The table with what its codes stand for: a zugen4.Table."""
    return _make_table(node._gen._g.table(node._path))


def _build_classes():
    """One class per node path, with its properties and child nodes."""
    members = collections.defaultdict(dict)  # node path ('' = generator) -> attributes
    for path, info in _PROPS.items():
        parent, _, name = path.rpartition(".")
        members[parent][name] = _make_property(path, info)
        _enum_for(info)
        # Every ancestor holds its child node.
        while parent:
            grand, _, child = parent.rpartition(".")
            members[grand].setdefault(child, None)
            parent = grand
    classes = {}
    for node in sorted(members, key=lambda p: -p.count(".") if p else 1):
        if not node:
            continue
        attrs = {"__slots__": (), "__module__": __name__}
        for name, value in members[node].items():
            attrs[name] = value if value is not None else _child_property(node + "." + name, classes)
        last = node.rpartition(".")[2]
        if last in _TABLE_ENGINES:
            attrs["table"] = _table
            attrs["table_info"] = _table_info
        attrs["__doc__"] = f"{node}: " + ", ".join(sorted(n for n in members[node]))
        classes[node] = type(last, (_Node,), attrs)
    top = {name: (value if value is not None else _child_property(name, classes))
           for name, value in members[""].items()}
    return classes, top


def _child_property(path, classes):
    def fget(owner):
        gen = owner._gen
        nodes = gen._nodes
        if path not in nodes:
            nodes[path] = classes[path](gen, path)
        return nodes[path]

    return property(fget, doc=f"{path} (see its own properties)")


def _dispatch(ref, name, channel, value, extra):
    gen = ref()
    if gen is None:
        return
    handler = gen._events.get(name)
    if handler is None:
        return
    ch = None if channel < 0 else (gen.ChA if channel == 0 else gen.ChB)
    if name == "OnParamValueError":
        handler(ch, TZuGen4Parameters(extra), value)
    elif name == "OnADCTimer":
        handler(ch)
    elif name == "OnChModeChange":
        handler(ch, bool(extra))
    elif name == "OnOverModulation":
        handler(ch, value)
    else:
        handler(gen)


class DeviceList(list):
    """The devices found, each a dict (index, serial, description, busy,
    backend); .problems tells why a driver library could not be asked (a
    missing library, no permission: then the udev rule to install)."""

    problems = ()


def list_devices():
    """Every instrument the system's USB bridge driver sees (a DeviceList)."""
    devices, problems = _zugen4._list_devices()
    found = DeviceList(devices)
    found.problems = tuple(problems)
    return found


def _defaults_form():
    """The text form of a generator nobody has changed."""
    global _DEFAULTS
    if _DEFAULTS is None:
        _DEFAULTS = _zugen4._Generator(_zugen4._Simulator(False), 0).write_text_form("ZuGen4")
    return _DEFAULTS


_DEFAULTS = None


class Generator:
    """A ZuGen4 generator: two channels (ChA, ChB) with their engines, the
    options and the reference clock, every property named as in the library.

    sim=True gives it a simulated instrument of its own (gen.sim); a Simulator
    may be passed instead. sim=False drives the instrument at the bridge
    device `device`: its index, or its serial number as a string
    (Generator(device="FT1234AB"); list_devices() shows both). Every accepted change reaches the instrument at
    once while it is active; batch() gathers many changes into one update.

    Events are callables set as attributes, named as in the library:
    OnFTError(gen), OnParamValueError(channel, param, value), OnADCTimer(channel),
    AfterUpdate(gen), OnChModeChange(channel, val), OnChangeActiveState(gen),
    OnGenResponseWait(gen), OnErrorFile(gen), OnOverModulation(channel, value).
    They run on the thread that uses the generator, while the call that raised
    them runs (the tuner's polls: in process_messages(), or sim.advance()).
    """

    # Properties reach the generator through their owner's _gen; here that
    # is the generator itself.
    _gen = property(lambda self: self)

    def __init__(self, sim=False, device=0, record=None):
        if sim is True:
            sim = Simulator()
        elif sim is False or sim is None:
            sim = None
        elif not isinstance(sim, Simulator):
            raise TypeError("sim is True, False or a zugen4.Simulator")
        device = device if isinstance(device, str) else int(device)
        object.__setattr__(self, "_g", _zugen4._Generator(sim._s if sim else None, device))
        object.__setattr__(self, "sim", sim)
        object.__setattr__(self, "_events", {})
        object.__setattr__(self, "_nodes", {})
        ref = weakref.ref(self)
        self._g.set_dispatcher(lambda name, ch, value, extra: _dispatch(ref, name, ch, value, extra))
        if record is not None:
            self.record(record)

    def __setattr__(self, name, value):
        if name in _EVENTS:
            if value is not None and not callable(value):
                raise TypeError(f"{name}: a callable or None is needed")
            self._events[name] = value
            if name == "OnGenResponseWait":
                self._g.want_response_wait(value is not None)
            return
        if name not in _TOP or not isinstance(_TOP[name], property) or _TOP[name].fset is None:
            raise AttributeError(f"Generator has no settable attribute {name!r}")
        _TOP[name].fset(self, value)

    def __getattr__(self, name):
        if name in _EVENTS:
            return self._events.get(name)
        raise AttributeError(f"Generator has no attribute {name!r}")

    def __getitem__(self, path):
        """The value at a dotted path, e.g. gen["ChB.LFM.FreqTop"]."""
        info = _PROPS.get(path)
        value = self._g.get(path)  # raises KeyError for an unknown path
        return _convert(info, value) if info else value

    def __setitem__(self, path, value):
        _check_kind(_PROPS.get(path) or self._info(path), value)
        self._g.set(path, value)

    def _info(self, path):
        # A path in other letter case is the same property.
        for p, info in _PROPS.items():
            if p.lower() == path.lower():
                return info
        return None

    def __repr__(self):
        where = "simulated" if self.sim else "instrument"
        channels = "; ".join(f"{ch} {self._summary(ch)}" for ch in ("ChA", "ChB"))
        return f"<zugen4.Generator {where}, {'active' if self.Active else 'inactive'}: {channels}>"

    # What each mode's engine mainly runs with, for repr().
    _MAIN = {"IntModulation": ("IntModulation.Type", "IntModulation.Fm"),
             "ExtModulation": ("ExtModulation.Type",), "ExtModulationA12": ("ExtModulation.Type",),
             "ExtModulationAB1": ("ExtModulation.Type",), "LFM": ("LFM.FreqTop",),
             "DDSMod": ("DDSMod.Mode", "DDSMod.Type"), "tuning": ("Tuner.Type",)}

    def _summary(self, ch):
        def shown(path):
            info = _PROPS[f"{ch}.{path}"]
            value = self[f"{ch}.{path}"]
            if isinstance(value, enum.Enum):
                return value.name.split("_", 1)[-1]
            return f"{value:g} {info['unit']}".rstrip()
        mode = shown("Mode")
        if mode == "off":
            return "off"
        parts = [shown("Frequency"), shown("Amplitude")]
        parts += [f"{path.split('.')[-1]} {shown(path)}" for path in self._MAIN.get(mode, ())]
        return f"{mode} ({', '.join(parts)})"

    def __enter__(self):
        """Opens the instrument (when it is not open yet) for the block."""
        if not self.Active:
            self.activate()
        return self

    def __exit__(self, *exc):
        """Leaving the block detaches: the link is let go without the reset,
        so the instrument keeps running its setup. g.close(reset=True) inside
        the block resets and closes instead."""
        self.close()
        return False

    def close(self, reset=False):
        """Lets go of the instrument: detached (it keeps running), or with
        reset=True reset and closed. Nothing happens when it is not open."""
        if self.Active:
            self.deactivate() if reset else self.detach()

    def reset(self):
        """Brings the setup back to the defaults, as a fresh Generator has
        them; while active the instrument is sent it (reset, then both
        channels off) in one update."""
        self.read_text_form(_defaults_form())

    @staticmethod
    def properties():
        """Every property: dicts with path, kind, unit, range, enumerators, description,
        stored, read_only and host_option (the host's own setting, not the instrument's: AutoUpdate)."""
        return [dict(p) for p in _PROPS.values()]

    def activate(self):
        """Opens the instrument and sends the whole setup; LinkError when it cannot be opened."""
        self._g.activate()

    def deactivate(self):
        """Resets the instrument and closes it."""
        self._g.deactivate()

    def detach(self):
        """Closes the instrument without the reset: it keeps its output."""
        self._g.detach()

    def update(self):
        """Sends the whole setup now."""
        self._g.update()

    @property
    def status(self):
        """The driver status of the last link operation (0: FT_OK)."""
        return self._g.status()

    @contextlib.contextmanager
    def batch(self):
        """Gathers the changes made in the block into one update at its end."""
        self._g.begin_batch()
        try:
            yield self
        except BaseException:
            self._g.end_batch(True)
            raise
        self._g.end_batch(False)

    @staticmethod
    def _pairs(assignments):
        items = assignments.items() if isinstance(assignments, dict) else assignments
        return [(p, v.name if isinstance(v, enum.Enum) else str(v)) for p, v in items]

    def set_many(self, assignments, update=True, force=False):
        """Sets {path: value} or (path, value) pairs all or nothing, then one update.

        Refused whole (ValueError, nothing sent) when the values cannot all be
        kept, or the setup cannot be sent; force=True enters a mode whose
        engine holds a value outside its range (a sweep without times) anyway."""
        self._g.set_many(self._pairs(assignments), update, force)

    def preview(self, assignments, force=False):
        """What set_many(assignments) would send, as a zugen4.Plan, worked out on
        a copy: nothing is sent and nothing changes. Raises as set_many would."""
        d = self._g.preview(self._pairs(assignments), force)
        steps = [PlanStep(s["kind"], s["bytes"], s["text"]) for s in d["steps"]]
        return Plan(steps, d["duration_ms"], [_make_table(t) for t in d["tables"]], d["text"])

    def record(self, path):
        """Appends every update sent from now on to a recording (zugen4 replay
        reads it); None stops recording."""
        self._g.record(None if path is None else os.fspath(path))

    def save(self, path):
        """Writes the settings file; OSError when it cannot be written."""
        self._g.save(os.fspath(path))

    def load(self, path):
        """Reads a settings file and sends it once; OSError when it cannot be read or is none."""
        self._g.load(os.fspath(path))

    def text_form(self, name="ZuGen4"):
        """The setup as a readable text form."""
        return self._g.write_text_form(name)

    def read_text_form(self, text):
        """Takes a setup from a text form (ValueError names the line at fault)."""
        self._g.read_text_form(text)


_CLASSES, _TOP = _build_classes()
for _name, _attr in _TOP.items():
    setattr(Generator, _name, _attr)
del _name, _attr
