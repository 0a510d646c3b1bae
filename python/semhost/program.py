"""Runs the semhost program: every isolated call of this package is one
supervised semhost run, so the module's code runs only in semhost's child
process, never in this interpreter."""

import os
import subprocess

from .errors import ModuleLoadError, SemhostError, error_from_stderr

EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_LOAD = 0, 1, 2, 3


def program():
    """The semhost executable: $SEMHOST, else the one this package was built or installed with."""
    configured = os.environ.get("SEMHOST")
    if configured:
        return configured
    from ._location import SEMHOST

    return SEMHOST if os.path.isabs(SEMHOST) else os.path.normpath(os.path.join(os.path.dirname(__file__), SEMHOST))


def run(args, allow=(EXIT_OK,), names=None):
    """Runs `semhost args…`; answers (exit code, stdout, stderr) when the code is
    in `allow`, else raises what the code and stderr say. `names` maps this
    package's temporary files to what the caller knows them by, for messages."""
    try:
        done = subprocess.run([program(), *args], stdin=subprocess.DEVNULL, capture_output=True, text=True)
    except OSError as error:
        raise SemhostError(f"cannot run semhost ({program()}): {error}") from None
    if done.returncode in allow:
        return done.returncode, done.stdout, done.stderr
    stderr = done.stderr
    for path, name in (names or {}).items():
        stderr = stderr.replace(path, name)
    raise failure(done.returncode, stderr)


def failure(code, stderr):
    """The exception for a semhost run that ended with `code`."""
    message = usage_message(stderr)
    if code == EXIT_USAGE:
        return ValueError(message)
    if code == EXIT_LOAD:
        return ModuleLoadError(message)
    if code == EXIT_FAILED:
        error = error_from_stderr(stderr)
        if error is not None:
            return error
        return ModuleLoadError(message) if "holds no module" in message else SemhostError(message)
    if code < 0:
        return SemhostError(f"semhost itself ended with signal {-code}: {message}")
    return SemhostError(message or f"semhost ended with exit code {code}")


def usage_message(stderr):
    """semhost's message without its "semhost: VERB: " prefix, one line per message."""
    lines = []
    for line in stderr.splitlines():
        line = line.strip()
        if not line:
            continue
        for prefix in ("semhost: render: ", "semhost: eval: ", "semhost: info: ", "semhost: validate: ", "semhost: "):
            if line.startswith(prefix):
                line = line[len(prefix):]
                break
        lines.append(line)
    return "\n".join(lines)
