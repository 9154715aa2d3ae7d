"""The Python module over simulated instruments: properties from the
registry, errors as Python exceptions, batches, events, faults and tables."""
import pathlib
import subprocess
import sys

import pytest

import zugen4
from zugen4 import TZuGen4ModesCommon as Modes


@pytest.fixture
def gen():
    g = zugen4.Generator(sim=True)
    g.activate()
    g.sim.clear_trace()
    return g


def resets(g):
    return g.sim.lines().count("reset")


def test_two_generators_keep_their_own_setups():
    a, b = zugen4.Generator(sim=True), zugen4.Generator(sim=True)
    a.ChA.Mode, b.ChA.Mode = Modes.ZGMdC_gen, "gen"
    a.ChA.Frequency, b["ChA.Frequency"] = 2000.0, 3000.0
    a.activate()
    b.activate()
    assert any("(2000.000 kHz)" in line for line in a.sim.lines())
    assert not any("(3000.000 kHz)" in line for line in a.sim.lines())
    assert any("(3000.000 kHz)" in line for line in b.sim.lines())
    assert (a.ChA.Frequency, b.ChA.Frequency) == (2000.0, 3000.0)
    assert a.ChA.Mode is Modes.ZGMdC_gen
    b.sim.clear_trace()
    b.detach()  # closed without the reset: the instrument keeps its output
    assert not b.Active and "reset" not in b.sim.lines()


def test_every_path_is_an_attribute_that_reads_and_takes_its_value_back(gen):
    props = zugen4.Generator.properties()
    assert len(props) > 50
    assert [p["path"] for p in props if p["host_option"]] == ["AutoUpdate"]
    for p in props:
        node = gen
        *parents, name = p["path"].split(".")
        for part in parents:
            node = getattr(node, part)
        value = getattr(node, name)
        assert value == gen[p["path"]], p["path"]
        doc = getattr(type(node), name).__doc__
        assert p["path"] in doc and p["unit"] in doc and p["range"] in doc
        if p["read_only"]:
            with pytest.raises(AttributeError):
                setattr(node, name, value)
        else:
            setattr(node, name, value)
            assert getattr(node, name) == value, p["path"]


@pytest.mark.parametrize("path, value, error, words", [
    ("ChA.Frequency", 250000, ValueError, ["ChA.Frequency", "250000", "400 to 200000 kHz"]),
    ("ChA.IntModulation.Fm", 50000, ValueError, ["ChA.IntModulation.Fm", "50000", "1 to 20000 Hz"]),
    ("ChA.Mode", "ZGMdC_warp", ValueError, ["ZGMdC_warp"]),
    ("ChA.Frequncy", 1000, KeyError, ["ChA.Frequncy"]),
    ("ChA.Frequency", [1], TypeError, ["ChA.Frequency"]),
    ("ChA.Frequncy", 1000, KeyError, ["did you mean ChA.Frequency?"]),
    ("ChA.Frequency", "5 %", ValueError, ["% does not convert to kHz"]),
    # True is no number here, though Python counts it as 1.
    ("ChA.Amplitude", True, TypeError, ["ChA.Amplitude", "True"]),
    ("ChA.IntModulation.Fm", False, TypeError, ["ChA.IntModulation.Fm"]),
    ("cha.mode", True, TypeError, ["ChA.Mode"]),
])
def test_a_bad_value_raises_naming_property_value_and_range(gen, path, value, error, words):
    with pytest.raises(error) as info:
        gen[path] = value
    for word in words:
        assert word in str(info.value)
    assert gen.ChA.Frequency == 1000.0
    assert gen.sim.frames() == []


def test_unknown_attributes_are_refused_not_created(gen):
    with pytest.raises(AttributeError):
        gen.ChA.Frequncy = 5
    with pytest.raises(AttributeError):
        gen.Frobnicate = 1


def test_link_failures_raise_link_error_with_the_driver_status(gen):
    seen = []
    gen.OnFTError = seen.append
    gen.sim.unplug()
    with pytest.raises(zugen4.LinkError) as info:
        gen.ChA.Amplitude = 40
    assert info.value.status == zugen4.FT_IO_ERROR
    assert info.value.status_name == "FT_IO_ERROR"
    assert info.value.message and "FT_IO_ERROR" in info.value.detail
    assert seen == [gen]

    fresh = zugen4.Generator(sim=True)
    fresh.sim.fail_open(zugen4.FT_DEVICE_NOT_FOUND)
    with pytest.raises(zugen4.LinkError) as info:
        fresh.activate()
    assert info.value.status_name == "FT_DEVICE_NOT_FOUND"
    assert not fresh.Active


def test_short_writes_are_failures_and_the_trace_shows_them(gen):
    gen.sim.fail_write(1, count=3)
    with pytest.raises(zugen4.LinkError):
        gen.ChA.Phase = 90
    first = gen.sim.trace()[0]
    assert first.kind == "frame" and len(first.data) == 6 and first.line
    assert gen.sim.violations == []


def test_a_batch_sends_one_update(gen):
    with gen.batch():
        gen.ChA.Mode = "gen"
        gen.ChA.Frequency = 1500
        gen.ChB.Mode = Modes.ZGMdC_gen
        gen.ChB.Phase = 90
        assert gen.sim.frames() == []
    assert resets(gen) == 1
    gen.sim.clear_trace()
    with pytest.raises(ValueError):
        with gen.batch():
            gen.ChA.Frequency = 1600
            gen.ChA.Amplitude = 400
    assert gen.ChA.Frequency == 1600 and resets(gen) == 1  # what was taken is sent once
    assert gen.AutoUpdate


def test_set_many_is_all_or_nothing(gen):
    with pytest.raises(ValueError, match="ChA.Amplitude"):
        gen.set_many({"ChA.Frequency": 1700, "ChA.Amplitude": 400})
    assert gen.ChA.Frequency == 1000 and gen.sim.frames() == []
    gen.set_many([("ChA.Frequency", 1700), ("ChA.Mode", Modes.ZGMdC_gen)])
    assert gen.ChA.Frequency == 1700 and resets(gen) == 1


def test_events_are_callables(gen):
    seen = []
    gen.OnADCTimer = lambda ch: seen.append((ch, ch.Tuner.ADCValue))
    gen.OnChangeActiveState = lambda g: seen.append(("active", g.Active))
    gen.sim.adc = 4321
    with gen.batch():
        gen.ChB.Mode = Modes.ZGMdC_tuning
        gen.ChB.Tuner.ADCTimerInterval = 100
        gen.ChB.Tuner.ADCTimerEnabled = True
    assert gen.sim.advance(250) >= 2
    assert seen[0] == (gen.ChB, 4321)
    gen.deactivate()
    assert seen[-1] == ("active", False)
    with pytest.raises(TypeError):
        gen.OnADCTimer = 5


def test_files_save_load_and_fail_as_oserror(gen, tmp_path):
    gen.ChB.IntModulation.Fm = 500
    gen.save(tmp_path / "setup.zg4")
    gen.ChB.IntModulation.Fm = 700
    gen.load(tmp_path / "setup.zg4")
    assert gen.ChB.IntModulation.Fm == 500
    (tmp_path / "junk.zg4").write_bytes(b"not a settings file")
    with pytest.raises(OSError):
        gen.load(tmp_path / "junk.zg4")
    with pytest.raises(OSError):
        gen.load(tmp_path / "missing.zg4")
    with pytest.raises(OSError):
        gen.save(tmp_path / "no" / "such" / "dir.zg4")
    assert gen.ChB.IntModulation.Fm == 500


def test_text_forms_round_trip_and_a_bad_line_applies_nothing(gen):
    gen.ChB.IntModulation.Fm = 500
    form = gen.text_form("Bench")
    assert form.startswith("object Bench: TZuGen4") and "ChB.IntModulation.Fm = 500" in form
    gen.ChB.IntModulation.Fm = 700
    gen.read_text_form(form)
    assert gen.ChB.IntModulation.Fm == 500
    bad = form.replace("ChB.IntModulation.Fm = 500", "ChB.IntModulation.Fm = 300").replace(
        "ChA.Frequency = 1000", "ChA.Frequency = 999999")
    with pytest.raises(ValueError, match="line"):
        gen.read_text_form(bad)
    assert gen.ChB.IntModulation.Fm == 500


def test_tables_come_as_samples_without_touching_the_instrument(gen):
    gen.ChA.IntModulation.MathFuncType = "rect"
    gen.sim.clear_trace()
    table = gen.ChA.IntModulation.table()
    assert len(table) > 1 and gen.sim.frames() == []
    assert len(set(int(v) for v in table)) == 2  # a rectangle has two levels
    if zugen4._numpy is not None:
        assert table.dtype.name == "int64"
    # Keying loads states, not a table: said as every face says it.
    with pytest.raises(ValueError, match="keying download no table"):
        gen.ChB.DDSMod.table()
    gen.ChB.DDSMod.Mode = "ZGTMs_User"
    info = gen.ChB.DDSMod.table_info()
    assert len(info.codes) == len(info.values) > 1 and info.step_seconds > 0


def test_preview_and_refusals_send_nothing(gen, tmp_path):
    gen.activate()
    gen.sim.clear_trace()
    plan = gen.preview({"ChB.Mode": "IntModulation", "ChB.IntModulation.Fm": 5000})
    assert gen.sim.frames() == [] and plan.duration_ms == 20 * sum(s.kind == "frame" for s in plan.steps)
    gen.record(tmp_path / "rec.txt")
    gen.set_many({"ChB.Mode": "IntModulation", "ChB.IntModulation.Fm": 5000})
    sent = [e.data for e in gen.sim.trace() if e.kind in ("frame", "block")]
    assert sent == [s.bytes for s in plan.steps]
    assert "plan " in (tmp_path / "rec.txt").read_text()
    gen.sim.clear_trace()
    # Double internal modulation at 1 Hz cannot be sent: refused whole.
    with pytest.raises(ValueError, match="ChB.IntModulation.Fm: 1 cannot be sent"):
        gen.set_many({"ChA.Mode": "IntModulation", "ChB.IntModulation.Fm": 1})
    with pytest.raises(ValueError, match="set it first"):
        gen.set_many({"ChA.Mode": "LFM"})
    assert gen.sim.frames() == [] and gen.ChB.IntModulation.Fm == 5000


EXAMPLES = sorted((pathlib.Path(__file__).parents[2] / "examples" / "python").glob("*.py"))


@pytest.mark.parametrize("script", EXAMPLES, ids=[p.stem for p in EXAMPLES])
def test_example_scripts_run_on_the_simulator(script):
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout


@pytest.mark.parametrize("path, text, read", [
    ("ChA.Frequency", "2 MHz", 2000.0),
    ("ChA.Frequency", "1500kHz", 1500.0),
    ("ChB.IntModulation.Fm", "5kHz", 5000),
    ("ChA.Amplitude", "50%", 50.0),
    ("ChA.Phase", "90deg", 90.0),
    ("cha.frequency", "1.5MHz", 1500.0),
    ("ChA.Mode", "intmod", Modes.ZGMdC_IntModulation),
    ("ChA.IntModulation.CC", "-0", 0.0),
])
def test_texts_take_units_names_and_any_case(gen, path, text, read):
    gen[path] = text
    value = gen[zugen4.Generator._info(gen, path)["path"]]
    assert value == read and str(value) != "-0.0"


def test_a_with_block_opens_and_detaches_and_reset_goes_back_to_the_defaults():
    sim = zugen4.Simulator()
    with zugen4.Generator(sim=sim) as g:
        assert g.Active
        g.ChA.Mode = "sine"
        g.ChA.Frequency = "2 MHz"
        assert "ChA gen (2000 kHz, 100 %)" in repr(g) and "ChB off" in repr(g)
        sent = len(sim.frames())
    assert not g.Active and len(sim.frames()) == sent  # no reset on leaving
    assert "channel A: output on" in sim.state()

    with zugen4.Generator(sim=True) as g:
        g.ChB.Mode = "intmod"
        g.ChB.IntModulation.Fm = 500
        assert "ChB IntModulation (1000 kHz, 100 %, Type freq, Fm 500 Hz)" in repr(g)
        g.reset()
        assert g.ChB.Mode == Modes.ZGMdC_off and g.ChB.IntModulation.Fm != 500
        g.ChA.Mode = "sine"
        g.close(reset=True)
        assert not g.Active and "channel A: output off" in g.sim.state()
