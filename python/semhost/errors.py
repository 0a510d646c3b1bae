"""The exceptions of the semhost package.

Every exception a module can cause is a ModuleError: the module crashed,
aborted or ended its process (ModuleCrashed), or a call into it did not
return in time (ModuleTimeout). Bad arguments are ValueError with semhost's
own message; a library that cannot be loaded is ModuleLoadError. All of them
pickle, so they cross process pools and clusters unchanged.
"""

import re


class SemhostError(RuntimeError):
    """semhost could not do what was asked, for a reason other than the module."""


class ModuleLoadError(SemhostError):
    """The library could not be loaded, lacks an export, or holds no such module."""


class ModuleError(SemhostError):
    """The module ended its run: where it was and what it did.

    phase: what the host was doing ("rendering", "opening the audio half", …);
    block, clock: the block number and sample clock when rendering, else None;
    call: the call into the module that had not returned ("host→audio process
    offset=0 frames=256"), or None when it ended outside any call.
    """

    def __init__(self, message, phase=None, call=None, block=None, clock=None):
        super().__init__(message)
        self.message = message
        self.phase = phase
        self.call = call
        self.block = block
        self.clock = clock

    def __reduce__(self):
        return (self.__class__._rebuild, (self.__class__, self.__dict__.copy()))

    @staticmethod
    def _rebuild(cls, state):
        error = cls.__new__(cls)
        RuntimeError.__init__(error, state["message"])
        error.__dict__.update(state)
        return error


class ModuleCrashed(ModuleError):
    """The module crashed, aborted or ended the process.

    signal: "SIGSEGV", "SIGABRT", … when a signal ended it, else None;
    exit_code: the process's exit code when it exited on its own, else None.
    """

    def __init__(self, message, signal=None, exit_code=None, **where):
        super().__init__(message, **where)
        self.signal = signal
        self.exit_code = exit_code


class ModuleTimeout(ModuleError):
    """A call into the module did not return within timeout_ms."""

    def __init__(self, message, timeout_ms=None, **where):
        super().__init__(message, **where)
        self.timeout_ms = timeout_ms


# semhost's one line for a run that did not end by its own account:
# "semhost: VERB: HOW while PHASE[, block N][, clock N][; in CALL | ; outside
# any call, the last was CALL][; no output was written]"
_END_LINE = re.compile(
    r"^semhost: [\w-]+: (?P<how>.*?) while (?P<phase>.*?)"
    r"(?:, block (?P<block>\d+))?(?:, clock (?P<clock>\d+))?"
    r"(?:; in (?P<call>.*?)|; outside any call, the last was (?P<last>.*?))?"
    r"(?:; no output was written)?$"
)
_SIGNAL = re.compile(r"^the run ended with (SIG[A-Z0-9]+|[A-Z_]+ \(0x[0-9A-F]+\))")
_EXIT = re.compile(r"exit code (-?\d+)")
_TIMEOUT = re.compile(r"^a call into the module did not return within (\d+) ms")


def error_from_stderr(stderr):
    """The ModuleError that semhost's stderr (exit code 1) describes, or None."""
    for line in reversed(stderr.splitlines()):
        match = _END_LINE.match(line)
        if not match:
            continue
        where = {
            "phase": match.group("phase"),
            "call": match.group("call"),
            "block": int(match.group("block")) if match.group("block") else None,
            "clock": int(match.group("clock")) if match.group("clock") else None,
        }
        message = "\n".join(l for l in stderr.splitlines() if l.strip())
        how = match.group("how")
        timeout = _TIMEOUT.match(how)
        if timeout:
            return ModuleTimeout(message, timeout_ms=int(timeout.group(1)), **where)
        signal = _SIGNAL.match(how)
        if signal:
            return ModuleCrashed(message, signal=signal.group(1).split(" ")[0], **where)
        code = _EXIT.search(how)
        return ModuleCrashed(message, exit_code=int(code.group(1)) if code else None, **where)
    return None
