"""Devices by index or serial number; the list of attached ones."""
import pytest

import zugen4


def test_version_and_device_list():
    assert zugen4.__version__.count(".") == 2
    found = zugen4.list_devices()
    assert isinstance(found, list)
    assert isinstance(found.problems, tuple)
    for d in found:
        assert set(d) == {"index", "serial", "description", "busy", "backend"}


@pytest.mark.parametrize("sim, device, error", [
    (False, "NOSUCH42", zugen4.LinkError),  # looked up when opened
    (True, "FT1234AB", ValueError),          # a simulated instrument has no serial number
    (False, "-3", ValueError),
])
def test_device_by_serial_number(sim, device, error):
    if error is ValueError:
        with pytest.raises(ValueError, match="device"):
            zugen4.Generator(sim=sim, device=device)
        return
    g = zugen4.Generator(sim=sim, device=device)
    with pytest.raises(error, match="no device with serial number NOSUCH42"):
        g.activate()
