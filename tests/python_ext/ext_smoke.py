"""semhost._semhost loads, renders and evaluates in process: the gain's
output is its input times the gain in force at each frame, the math
module's sqrt of 2 reads as semhost eval prints it, and a bad pin raises
ValueError with semhost render's message.

    ext_smoke.py PYTHON_DIR GAIN_SEM MATH_SEM
"""
import sys

import numpy as np

sys.path.insert(0, sys.argv[1])
from semhost import _semhost  # noqa: E402

gain = _semhost.Harness(sys.argv[2])
inputs = (np.arange(2 * 300, dtype=np.float32).reshape(2, 300) / np.float32(256))
out = gain.render(inputs, 48000, 64, ["Gain=0.5"], '{"Gain": {"100": 3}}', -1)
expected = inputs * np.where(np.arange(300) < 100, np.float32(0.5), np.float32(3)).astype(np.float32)
assert out.dtype == np.float32 and out.shape == (2, 300), (out.dtype, out.shape)
assert np.array_equal(out, expected), "the gain's output is not input times gain"
try:
    gain.render(inputs, 48000, 64, ["Volume=1"], "", -1)
    raise AssertionError("an unknown pin was accepted")
except ValueError as e:
    assert str(e).startswith("--set Volume=1: unknown pin 'Volume'"), str(e)
math = _semhost.Harness(sys.argv[3])
assert math.eval(["Mode=sqrt", "X=2"], ["Result"]) == [("Result", "1.41421354")]
print("semhost._semhost: render, eval and errors as expected")
