"""Load a module library, render numpy arrays through its audio half,
evaluate its GUI half and validate it, from Python.

    import semhost
    m = semhost.load("gain.sem")
    y = m.render(x, sample_rate=48000, set={"Gain": 0.5}, automate={"Gain": {"1.5s": 2.0}})

Modules run isolated in a supervised semhost child by default: a crash or a
hang raises ModuleCrashed or ModuleTimeout, and the interpreter goes on.
"""

from .batch import ItemResult, render_many
from .errors import ModuleCrashed, ModuleError, ModuleLoadError, ModuleTimeout, SemhostError
from .module import Module, Pin, load
from .validate import CheckResult, ValidationResults, validate

__all__ = ["load", "Module", "Pin", "validate", "CheckResult", "ValidationResults", "render_many", "ItemResult",
           "SemhostError", "ModuleLoadError", "ModuleError", "ModuleCrashed", "ModuleTimeout"]
