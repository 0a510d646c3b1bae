"""The modules the tests run, from the build tree that ctest names in
SEMHOST_TEST_BUILD (build/linux64 by default)."""

import os

import numpy as np
import pytest

BUILD = os.environ.get("SEMHOST_TEST_BUILD", os.path.join(os.path.dirname(__file__), "..", "..", "build", "linux64"))


def built(*parts):
    path = os.path.join(BUILD, *parts)
    if not os.path.exists(path):
        pytest.fail(f"{path} is not built")
    return path


def example(name):
    return built("examples", name.lower(), f"{name}.sem")


def misbehaving(way):
    return built("tests", "host", "semhost", "fixtures", "misbehaving", f"misbehaving_{way}.sem")


@pytest.fixture
def math_module():
    return built("module", "QV_Zolvexan.sem")


@pytest.fixture
def noise():
    """Two seconds of seeded stereo noise at 8 kHz, in [-1, 1)."""
    return np.random.default_rng(7).uniform(-1.0, 1.0, size=(2, 16000)).astype(np.float32)


def same_bits(a, b):
    return a.shape == b.shape and a.dtype == b.dtype == np.float32 and np.array_equal(a.view(np.uint32), b.view(np.uint32))
