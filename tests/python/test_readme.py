"""The README's Python example runs as written (against this build)."""

import os
import re

from conftest import BUILD

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")


def test_the_readme_example_runs(capsys):
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        text = f.read()
    block = re.search(r"## From Python.*?```python\n(.*?)```", text, re.S).group(1)
    exec(compile(block.replace("build/linux64", os.path.abspath(BUILD)), "README.md", "exec"), {})
    out = capsys.readouterr().out.splitlines()
    assert out[1] == "{'Result': 1.4142135381698608}" and re.fullmatch(r"\d+ passed, 0 warned, 0 failed, \d+ skipped", out[2])
