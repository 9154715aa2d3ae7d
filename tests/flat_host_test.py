#!/usr/bin/env python3
"""A Python host drives the library through ctypes, as a script on a lab PC
would. The library loads the driver library by name; LD_LIBRARY_PATH points it
at the stand-in, which this script loads too (same soname, same instance) to
see the frames and make the link fail.

Usage: flat_host_test.py <path of libzugen.so>
"""
import ctypes as C
import sys

CMD_WRITE_ERROR = "Ошибка при записи команды в FTPort"
B, D, PB, PD = C.c_ubyte, C.c_double, C.POINTER(C.c_ubyte), C.POINTER(C.c_double)


def declare(lib, name, restype, *argtypes):
    fn = getattr(lib, name)
    fn.restype, fn.argtypes = restype, list(argtypes)
    return fn


def load(zugen_path):
    zu = C.CDLL(zugen_path)
    for name, res, args in [
        ("ZuGenInit", B, []), ("ZuGenRelease", B, []),
        ("ZuGen_Freq", B, [B, B, PD]), ("ZuGen_SetFreq", D, [B, D]),
        ("ZuGen_SetActivity", B, [B]), ("ZuGen_Activity", B, [B, PB]),
        ("ZuGen_SetChMode", B, [B, B]), ("ZuGen_LastError", C.c_char_p, []),
    ]:
        declare(zu, name, res, *args)
    sim = C.CDLL("libftd2xx.so")
    u32 = C.c_uint32
    for name, res, args in [
        ("ZuSim_Reset", None, []), ("ZuSim_FailNextWrite", None, [u32]),
        ("ZuSim_IsOpen", C.c_int, []), ("ZuSim_FrameCount", u32, []),
        ("ZuSim_Frame", u32, [u32, PB]), ("ZuSim_ViolationCount", u32, []),
    ]:
        declare(sim, name, res, *args)
    return zu, sim


def frames(sim):
    out = []
    for i in range(sim.ZuSim_FrameCount()):
        buf = (C.c_ubyte * 6)()
        n = sim.ZuSim_Frame(i, buf)
        out.append(bytes(buf[:n]).hex(" ").upper())
    return out


def check_activation_opens_through_the_loader(zu, sim):
    assert zu.ZuGenInit() == 0
    sim.ZuSim_Reset()
    assert zu.ZuGen_SetActivity(1) == 1, "the library did not open the stand-in"
    assert sim.ZuSim_IsOpen() == 1
    assert frames(sim) == ["F0 00 00 00 00 00"], frames(sim)


def check_frequency_reaches_the_wire(zu, sim):
    assert zu.ZuGen_SetChMode(0, 1) == 1
    sim.ZuSim_Reset()
    assert zu.ZuGen_SetFreq(0, 2000.0) == 2000.0
    want = ["F0 00 00 00 00 00", "F1 00 00 00 00 00", "04 01 47 AE 14 00",
            "02 3F FF 00 00 00", "05 00 00 00 00 00", "7F 00 00 00 00 00"]
    assert frames(sim) == want, frames(sim)
    assert sim.ZuSim_ViolationCount() == 0


def check_failed_write_and_release(zu, sim):
    sim.ZuSim_FailNextWrite(4)  # FT_IO_ERROR
    value = D(3000.0)
    assert zu.ZuGen_Freq(3, 0, C.byref(value)) == 3
    assert value.value == 3000.0  # stored before the update failed
    assert zu.ZuGen_LastError().decode("utf-8") == CMD_WRITE_ERROR
    sim.ZuSim_Reset()
    assert zu.ZuGenRelease() == 0
    assert frames(sim) == ["F0 00 00 00 00 00"], frames(sim)
    assert sim.ZuSim_IsOpen() == 0, "release left the device open"
    assert zu.ZuGenRelease() == 0
    active = B(7)
    assert zu.ZuGen_Activity(2, C.byref(active)) == 2 and active.value == 7


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    zu, sim = load(sys.argv[1])
    passed = failed = 0
    # The checks build on each other: one generator, one instrument.
    for check in (check_activation_opens_through_the_loader, check_frequency_reaches_the_wire,
                  check_failed_write_and_release):
        try:
            check(zu, sim)
            passed += 1
            print("ok  ", check.__name__)
        except AssertionError as e:
            failed += 1
            print("FAIL", check.__name__, e)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
