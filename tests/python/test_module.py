"""Properties, pins, eval and validate, and modules that misbehave: every
failure is an exception and the interpreter goes on."""

import math

import numpy as np
import pytest

import semhost

from conftest import example, misbehaving


@pytest.mark.parametrize("isolated", [True, False], ids=["isolated", "in_process"])
def test_the_math_module_described_and_evaluated(math_module, isolated):
    m = semhost.load(math_module, isolated=isolated)
    assert m.properties["name"] == "QV_Zolvexan" and m.properties["flags"] == 256 and m.properties["sdk_version"] == 2230
    assert [(p.name, p.direction, p.datatype) for p in m.pins] == [
        ("Mode", "DR_IN", "DT_ENUM"), ("X", "DR_IN", "DT_FLOAT"), ("Result", "DR_OUT", "DT_FLOAT")]
    assert m.pin("mode").choices == (("cos", 0), ("sin", 1), ("sqrt", 2), ("tan", 3))
    assert m.eval(set={"Mode": "sqrt", "X": 2.0}) == {"Result": float(np.float32(math.sqrt(2.0)))}
    assert m.eval(set={"Mode": 3, "X": np.float32(1.5707964)}) == {"Result": -22877332.0}
    with pytest.raises(ValueError, match=r"unknown choice 'log' for pin Mode; the choices are: cos \(0\), sin \(1\), sqrt \(2\), tan \(3\)"):
        m.eval(set={"Mode": "log"})


def test_validate_answers_every_check(math_module):
    results = semhost.validate(math_module, seed=5)
    assert results.ok and results.failed == 0 and results.seed == 5
    assert len(results) == results.passed + results.warned + results.skipped
    assert all(r.outcome in ("PASS", "WARN", "SKIPPED") and r.duration >= 0 for r in results)
    only = semhost.validate(math_module, only="^gui\\.")
    assert only and all(r.check.startswith("gui.") for r in only)


def test_validate_reports_a_broken_module_as_results():
    results = semhost.validate(misbehaving("abort_on_open"), only="^lifecycle\\.")
    assert not results.ok
    crashed = [r for r in results if r.outcome == "CRASHED"]
    assert crashed and "SIGABRT" in crashed[0].message and crashed[0].replay.startswith("semhost validate ")


def test_crashes_aborts_exits_and_hangs_raise_and_the_interpreter_goes_on():
    x = np.ones((1, 8192), dtype=np.float32)
    with pytest.raises(semhost.ModuleCrashed) as crash:
        semhost.load(misbehaving("crash_in_process")).render(x, block_size=1024)
    assert (crash.value.signal, crash.value.phase, crash.value.block, crash.value.clock) == ("SIGSEGV", "rendering", 4, 4096)
    assert crash.value.call == "host→audio process offset=0 frames=1024"
    with pytest.raises(semhost.ModuleCrashed) as abort:
        semhost.load(misbehaving("abort_on_open")).render(x)
    assert (abort.value.signal, abort.value.phase) == ("SIGABRT", "opening the audio half")
    with pytest.raises(semhost.ModuleCrashed) as ended:
        semhost.load(misbehaving("exit_in_process")).render(x)
    assert (ended.value.signal, ended.value.exit_code) == (None, 0)
    with pytest.raises(semhost.ModuleTimeout) as hang:
        semhost.load(misbehaving("hang_in_process"), timeout=0.3).render(x, block_size=4096)
    assert (hang.value.timeout_ms, hang.value.block, hang.value.call) == (300, 1, "host→audio process offset=0 frames=4096")
    with pytest.raises(semhost.ModuleTimeout):
        semhost.load(misbehaving("hang_at_load"), timeout=0.3)
    with pytest.raises(semhost.ModuleCrashed) as gui:
        semhost.load(misbehaving("crash_in_gui")).eval(set={"Mode": "tan"})
    assert gui.value.signal == "SIGSEGV"
    # Still here, and still rendering.
    assert np.array_equal(semhost.load(example("Gain")).render(x, set={"Gain": 2}), 2 * x)


def test_a_library_that_cannot_be_loaded(tmp_path):
    (tmp_path / "empty.sem").write_bytes(b"")
    for isolated in (True, False):
        with pytest.raises(semhost.ModuleLoadError):
            semhost.load(tmp_path / "empty.sem", isolated=isolated)
