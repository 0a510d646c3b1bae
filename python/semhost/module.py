"""A module of a library, loaded for rendering and evaluation.

Isolated (the default), every call is a supervised semhost run: a crash,
abort, exit or hang of the module raises ModuleCrashed or ModuleTimeout and
this interpreter goes on. With isolated=False the module runs in this
process through the stand-in host's harness: faster, for a trusted module.
Both run the same host code and give bit-identical results.
"""

import json
import os
import shutil
import tempfile
import threading
from dataclasses import dataclass, field

import numpy as np

from . import program, wavfile


_input_lock = threading.Lock()
# In process, renders and evaluations share the host's process-wide crash
# notes: one at a time, whichever module and thread.
_in_process_lock = threading.Lock()


@dataclass(frozen=True)
class Pin:
    """One declared pin. choices: (text, value) pairs of an enumerated pin."""

    index: int
    name: str
    direction: str
    datatype: str
    flags: tuple
    choices: tuple = field(default=())

    def choice_value(self, text):
        for choice, value in self.choices:
            if choice.lower() == text.lower():
                return value
        raise KeyError(text)


def _pins(info):
    pins = []
    for p in info["pins"]:
        choices = tuple((c["text"], c["value"]) for c in p.get("list", {}).get("choices", []))
        pins.append(Pin(p["index"], p["name"], p["direction"], p["datatype"], tuple(p["flags"]), choices))
    return tuple(pins)


def _value_text(pin, value):
    """A value as semhost's command line reads it: numbers round-trip exactly."""
    if isinstance(value, (bool, np.bool_)):
        raise ValueError(f"pin \"{pin}\": a value is a number or a choice's text, not {value!r}")
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if isinstance(value, np.floating):
        return repr(float(value)) if value.dtype != np.float32 else str(value)
    if isinstance(value, float):
        return repr(value)
    if isinstance(value, str):
        return value
    raise ValueError(f"pin \"{pin}\": a value is a number or a choice's text, not {value!r}")


def _time_text(time):
    """An automation time: a frame number (int) or semhost's text ("1.5s", "50%")."""
    if isinstance(time, (bool, np.bool_)) or not isinstance(time, (int, np.integer, str)):
        raise ValueError(f"an automation time is a frame number or a text such as \"1.5s\" or \"50%\", not {time!r}")
    return str(int(time)) if not isinstance(time, str) else time


def render_arguments(set=None, automate=None):
    """(["PIN=VALUE", …], automation JSON text or "") from render's keywords."""
    sets = [f"{pin}={_value_text(pin, value)}" for pin, value in (set or {}).items()]
    if not automate:
        return sets, ""
    document = {}
    for pin, steps in automate.items():
        document[pin] = {_time_text(t): json.loads(_value_text(pin, v)) if not isinstance(v, str) else v
                         for t, v in steps.items()}
    return sets, json.dumps(document)


def _change_args(folder, sets, automation):
    """render's --set options, and --automate with the JSON written into `folder`."""
    args = [arg for s in sets for arg in ("--set", s)]
    if automation:
        with open(os.path.join(folder, "automation.json"), "w") as f:
            f.write(automation)
        args += ["--automate", os.path.join(folder, "automation.json")]
    return args


def _as_input(x):
    if x is None:
        return None
    array = np.asarray(x, dtype=np.float32)
    if array.ndim == 1:
        array = array[np.newaxis, :]
    if array.ndim != 2:
        raise ValueError(f"the input is shaped {array.shape}; render takes (channels, frames)")
    return np.ascontiguousarray(array)


class Module:
    """A module of the library at `path`; see load()."""

    def __init__(self, path, module=0, isolated=True, timeout=10.0):
        self.path = os.fspath(path)
        self.module = int(module)
        self.isolated = bool(isolated)
        self.timeout = timeout
        self._harness = None
        if self.isolated:
            _, out, _ = program.run(["info", self.path, "--module", str(self.module), "--json"])
            self._info = _module_entry(json.loads(out), self.module)
        else:
            self._info = json.loads(self._in_process().info_json())
            self._info = _module_entry(self._info, self.module)
        self.pins = _pins(self._info)

    # Pickled by what it names: a process pool or a cluster worker loads it again.
    def __getstate__(self):
        return {"path": self.path, "module": self.module, "isolated": self.isolated, "timeout": self.timeout,
                "_info": self._info}

    def __setstate__(self, state):
        self.__dict__.update(state)
        self._harness = None
        self.pins = _pins(self._info)

    def __repr__(self):
        mode = "isolated" if self.isolated else "in process"
        return f"<semhost.Module {self.properties['name']!r} of {self.path!r}, {mode}>"

    @property
    def properties(self):
        """name, id, about, flags and sdk_version, as getModuleProperties gives them."""
        return {k: self._info[k] for k in ("name", "id", "about", "flags", "sdk_version")}

    def pin(self, name):
        """The pin of that name (any case) or index."""
        for p in self.pins:
            if p.name == name or p.index == name or (isinstance(name, str) and p.name.lower() == name.lower()):
                return p
        raise KeyError(name)

    def _in_process(self):
        if self._harness is None:
            from . import _semhost

            try:
                self._harness = _semhost.Harness(self.path, self.module)
            except RuntimeError as error:
                from .errors import ModuleLoadError

                raise ModuleLoadError(str(error)) from None
        return self._harness

    def _timeout_args(self):
        return ["--timeout-ms", str(0 if self.timeout is None else max(1, int(round(self.timeout * 1000))))]

    def render(self, x=None, sample_rate=48000, block_size=512, set=None, automate=None, frames=None):
        """Runs the audio half over `x` (float32, (channels, frames); 1-D is one
        channel) and answers its sample outputs, float32 (channels, frames).

        set: {pin: value} before the first sample; automate: {pin: {time:
        value}}, time a frame (int), "1.5s" or "50%", each change at exactly
        that frame; frames: the length (default: x's). Values are numbers or
        a choice's text. Conventions and results are those of `semhost render`."""
        inputs = _as_input(x)
        sets, automation = render_arguments(set, automate)
        if frames is None and inputs is None:
            raise ValueError("no input to take the length from: give frames=N")
        length = inputs.shape[1] if frames is None else int(frames)
        if self.isolated:
            return self._render_isolated(inputs, int(sample_rate), int(block_size), sets, automation, length)
        try:
            with _in_process_lock:
                return self._in_process().render(inputs, int(sample_rate), int(block_size), sets, automation, length)
        except ValueError as error:  # the harness calls the automation "automation"; here it is `automate`
            text = str(error)
            raise ValueError("automate: " + text[len("automation: "):] if text.startswith("automation: ") else text) from None

    def _render_isolated(self, inputs, sample_rate, block_size, sets, automation, frames):
        outputs = max(1, sum(p.datatype == "DT_FSAMPLE" and p.direction == "DR_OUT" for p in self.pins),
                      0 if inputs is None else inputs.shape[0])
        folder = tempfile.mkdtemp(prefix="semhost-", dir=wavfile.shared_folder(outputs * frames * 4))
        try:
            args = ["render", self.path, "--module", str(self.module), "--out", os.path.join(folder, "out.wav"),
                    "--sample-rate", str(sample_rate), "--block-size", str(block_size), "--frames", str(frames),
                    *self._timeout_args()]
            shared = None
            if inputs is not None and inputs.shape[0] > 0:
                shared = self._shared_input()
                args += ["--in", shared.fill(inputs, sample_rate)]
            args += _change_args(folder, sets, automation)
            try:
                names = {os.path.join(folder, "automation.json"): "automate"}
                if shared is not None:
                    names[args[args.index("--in") + 1]] = "the input array"
                program.run(args, names=names)
            finally:
                self._release_input(shared)
            return wavfile.read(os.path.join(folder, "out.wav"), mapped=True)[0]
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def _shared_input(self):
        """The module's shared input, or a new one while another render holds it."""
        with _input_lock:
            cached = self.__dict__.pop("_input", None)
        return cached or wavfile.SharedInput()

    def _release_input(self, shared):
        if shared is None:
            return
        with _input_lock:
            if "_input" not in self.__dict__:
                self._input = shared
                return
        shared.close()

    def render_file(self, inputs, out, block_size=512, set=None, automate=None, frames=None, sample_rate=None):
        """`semhost render` on files: `inputs` (a path, a list of paths, or
        None) into the audio file `out`, which appears only when complete.
        Isolated, any format semhost reads and writes; in process, float WAV."""
        paths = [] if inputs is None else [inputs] if isinstance(inputs, (str, os.PathLike)) else list(inputs)
        paths = [os.fspath(p) for p in paths]
        sets, automation = render_arguments(set, automate)
        if not self.isolated:
            return self._render_file_in_process(paths, os.fspath(out), block_size, set, automate, frames, sample_rate)
        folder = tempfile.mkdtemp(prefix="semhost-", dir=wavfile.shared_folder())
        try:
            args = ["render", self.path, "--module", str(self.module), "--out", os.fspath(out),
                    "--block-size", str(int(block_size)), *self._timeout_args()]
            for p in paths:
                args += ["--in", p]
            if frames is not None:
                args += ["--frames", str(int(frames))]
            if sample_rate is not None:
                args += ["--sample-rate", str(int(sample_rate))]
            args += _change_args(folder, sets, automation)
            program.run(args, names={os.path.join(folder, "automation.json"): "automate"})
            return os.fspath(out)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def _render_file_in_process(self, paths, out, block_size, set, automate, frames, sample_rate):
        if len(paths) > 1:
            raise ValueError("in process, render_file takes one float WAV input")
        x, rate = wavfile.read(paths[0]) if paths else (None, sample_rate or 48000)
        if sample_rate is not None and sample_rate != rate:
            raise ValueError(f"sample_rate {sample_rate} differs from the input's rate, {rate} Hz (semhost does not resample)")
        y = self.render(x, sample_rate=rate, block_size=block_size, set=set, automate=automate, frames=frames)
        wavfile.write_replacing(out, y, rate)
        return out

    def eval(self, set=None, get=None):
        """Sets the GUI half's inputs in order, as a user does, and answers
        {output: value}: floats for float pins, the choice's text for an
        enumerated pin, else the value as semhost prints it."""
        sets = [f"{pin}={_value_text(pin, value)}" for pin, value in (set or {}).items()]
        gets = [str(g) for g in ([get] if isinstance(get, (str, int)) else (get or []))]
        if self.isolated:
            args = ["eval", self.path, "--module", str(self.module), *self._timeout_args()]
            for s in sets:
                args += ["--set", s]
            for g in gets:
                args += ["--get", g]
            _, out, _ = program.run(args)
            pairs = [line.rpartition(" = ")[::2] for line in out.splitlines() if " = " in line]
        else:
            with _in_process_lock:
                pairs = self._in_process().eval(sets, gets)
        return {name: self._typed(name, text) for name, text in pairs}

    def _typed(self, name, text):
        datatype = self.pin(name).datatype
        if datatype == "DT_FLOAT":
            return float(np.float32(text))  # %.9g reads back as the same float
        if datatype == "DT_ENUM" and text.endswith(")") and " (" in text:
            return text.rpartition(" (")[0]
        try:
            return int(text)
        except ValueError:
            return text


def _module_entry(info, module):
    """The module's own object of `semhost info --json` (a list or one object)."""
    entries = info if isinstance(info, list) else info.get("modules", [info])
    for entry in entries:
        if entry.get("index") == module:
            return entry
    return entries[0]


def load(path, module=0, isolated=True, timeout=10.0):
    """Loads module number `module` of the library at `path`.

    isolated: run the module in a supervised child (default) or in this
    process; timeout: seconds a call into the module may take (None: no
    limit), isolated only."""
    return Module(path, module, isolated, timeout)
