"""render: the same samples as `semhost render`, isolated and in process,
with every change at its exact frame."""

import os
import subprocess

import numpy as np
import pytest

import semhost
from semhost import program, wavfile

from conftest import example, same_bits

AUTOMATION = {"Gain": {1000: 2.0, "0.5s": 0.25, "75%": -1.5}}
CASES = [
    ("Gain", True, {"Gain": 0.5}, AUTOMATION),
    ("Pulse", False, {"Rate": 40}, {"Rate": {"0.25s": 100.0, 12001: 7.5}}),
    ("Waveshaper", True, {"Mode": "sin"}, {"Mode": {4000: "sqrt", "1s": "tan", 15999: 0}}),
]


def cli_render(tmp_path, module, x, rate, block, sets, automation, frames):
    args = [program.program(), "render", module, "--out", str(tmp_path / "cli.wav"), "--block-size", str(block),
            "--sample-rate", str(rate), "--frames", str(frames)]
    if x is not None:
        wavfile.write(str(tmp_path / "in.wav"), x[:1] if "Waveshaper" in module else x, rate)
        args += ["--in", str(tmp_path / "in.wav")]
    for s in sets:
        args += ["--set", s]
    if automation:
        (tmp_path / "automation.json").write_text(automation)
        args += ["--automate", str(tmp_path / "automation.json")]
    subprocess.run(args, check=True, capture_output=True)
    return wavfile.read(str(tmp_path / "cli.wav"))[0]


@pytest.mark.parametrize("name,has_input,sets,automate", CASES, ids=[c[0] for c in CASES])
@pytest.mark.parametrize("block", [64, 512])
def test_render_equals_the_command_line_bit_for_bit(tmp_path, noise, name, has_input, sets, automate, block):
    x = (noise[:1] if name == "Waveshaper" else noise) if has_input else None
    expected = cli_render(tmp_path, example(name), x, 8000, block, *semhost.module.render_arguments(sets, automate), 16000)
    for isolated in (True, False):
        m = semhost.load(example(name), isolated=isolated)
        y = m.render(x, sample_rate=8000, block_size=block, set=sets, automate=automate, frames=16000)
        assert same_bits(y, expected), f"{name}, isolated={isolated}"


@pytest.mark.parametrize("isolated", [True, False], ids=["isolated", "in_process"])
def test_gain_changes_at_exact_frames_whatever_the_block(isolated):
    m = semhost.load(example("Gain"), isolated=isolated)
    x = np.ones((2, 8000), dtype=np.float32)
    for block in (1, 333, 4096):
        y = m.render(x, sample_rate=8000, block_size=block, set={"Gain": 3}, automate=AUTOMATION)
        expected = np.concatenate([np.full(1000, 3.0), np.full(3000, 2.0), np.full(2000, 0.25), np.full(2000, -1.5)])
        assert np.array_equal(y, np.stack([expected, expected]).astype(np.float32)), f"block {block}"


@pytest.mark.parametrize("isolated", [True, False], ids=["isolated", "in_process"])
def test_bad_arguments_are_value_errors_with_semhosts_message(isolated):
    m = semhost.load(example("Gain"), isolated=isolated)
    x = np.zeros((1, 100), dtype=np.float32)
    with pytest.raises(ValueError, match=r"--set Volume=1: unknown pin 'Volume'; the pins are: Gain, Input, Output"):
        m.render(x, set={"Volume": 1})
    with pytest.raises(ValueError, match=r"^automate: pin \"Gain\": time '200' is frame 200, past the end \(100 frames\)$"):
        m.render(x, automate={"Gain": {200: 1.0}})
    with pytest.raises(ValueError, match="render takes \\(channels, frames\\)"):
        m.render(np.zeros((1, 2, 3), dtype=np.float32))


def test_render_file_leaves_no_output_on_a_crash(tmp_path):
    from conftest import misbehaving

    target = tmp_path / "out.wav"
    target.write_bytes(b"keep")
    wavfile.write(str(tmp_path / "in.wav"), np.ones((1, 8192), dtype=np.float32), 8000)
    m = semhost.load(misbehaving("crash_in_process"))
    with pytest.raises(semhost.ModuleCrashed):
        m.render_file(str(tmp_path / "in.wav"), str(target))
    assert target.read_bytes() == b"keep"
    assert sorted(os.listdir(tmp_path)) == ["in.wav", "out.wav"]
