"""semhost's validator from Python: every check in its own supervised process."""

import json
import os
from dataclasses import dataclass

from . import program


@dataclass(frozen=True)
class CheckResult:
    """One check: its name, outcome ("PASS", "WARN", "FAIL", "SKIPPED",
    "CRASHED", "TIMEOUT"), semhost's message, and its duration in seconds."""

    check: str
    outcome: str
    message: str
    duration: float
    replay: str = ""

    @property
    def ok(self):
        return self.outcome in ("PASS", "WARN", "SKIPPED")


class ValidationResults(list):
    """The CheckResults in the validator's order, with its verdict
    ("27 passed, 0 warned, 0 failed, 5 skipped") and counts."""

    def __init__(self, results, report):
        super().__init__(results)
        self.verdict = report.get("verdict", "")
        self.passed = report.get("passed", 0)
        self.warned = report.get("warned", 0)
        self.failed = report.get("failed", 0)
        self.skipped = report.get("skipped", 0)
        self.seed = report.get("seed")

    @property
    def ok(self):
        return self.failed == 0


def validate(path, only=None, seed=None, module=0, skip=None, timeout=None):
    """Checks the module against the interface contract.

    only / skip: regular expressions over check names; seed: the seed of the
    randomised checks; timeout: seconds one check may take. Answers the
    results; a module that fails a check is a result, not an exception."""
    args = ["validate", os.fspath(path), "--json", "--module", str(int(module))]
    if only:
        args += ["--only", only]
    if skip:
        args += ["--skip", skip]
    if seed is not None:
        args += ["--seed", str(int(seed))]
    if timeout is not None:
        args += ["--timeout-ms", str(max(1, int(round(timeout * 1000))))]
    _, out, _ = program.run(args, allow=(program.EXIT_OK, program.EXIT_FAILED))
    report = json.loads(out)
    if isinstance(report, list):  # one report per module
        report = report[0]
    results = [CheckResult(c["name"], c["status"], c.get("message", ""), c.get("milliseconds", 0) / 1000.0,
                           c.get("replay", "")) for c in report["checks"]]
    return ValidationResults(results, report)
