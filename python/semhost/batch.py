"""Many renders at once through any concurrent.futures.Executor: a process
pool on this machine by default, or, unchanged, the executor of a cluster
(a distributed Client's get_executor()). Each item is one render; a failed
item is reported with its cause and the others go on; results keep the
items' order."""

import os
import shutil
import tempfile
from concurrent.futures import ProcessPoolExecutor
from dataclasses import dataclass
from typing import Any

from . import wavfile
from .module import Module


@dataclass
class ItemResult:
    """The render of items[index]: its output (float32 (channels, frames), or
    the path written for an (input, output) pair), or the error that stopped it."""

    index: int
    output: Any = None
    error: BaseException = None

    @property
    def ok(self):
        return self.error is None


def _is_path(item):
    return isinstance(item, (str, os.PathLike))


def _render_item(module, item, options):
    """One item, in a worker; answers (output, error)."""
    try:
        file_options = {k: v for k, v in options.items() if k != "sample_rate"}
        if _is_path(item):  # an audio file in, samples out
            # A float output takes at most twice a 16-bit input; more outputs than inputs, more.
            folder = tempfile.mkdtemp(prefix="semhost-", dir=wavfile.shared_folder(4 * os.path.getsize(item)))
            try:
                out = module.render_file(item, os.path.join(folder, "out.wav"), **file_options)
                return wavfile.read(out)[0], None
            finally:
                shutil.rmtree(folder, ignore_errors=True)
        if isinstance(item, tuple) and len(item) == 2 and _is_path(item[1]):  # (input or None, output)
            rate = None if item[0] is not None else options["sample_rate"]
            return module.render_file(item[0], item[1], sample_rate=rate, **file_options), None
        return module.render(item, **options), None
    except Exception as error:  # reported with its item; the batch goes on
        return None, error


def render_many(module, items, *, sample_rate=48000, block_size=512, set=None, automate=None, frames=None,
                executor=None, max_workers=None):
    """Renders every item with the same settings (those of Module.render)
    and answers one ItemResult per item, in the items' order.

    module: a Module, or a library path (loaded isolated); items: arrays
    (channels, frames), audio file paths (rendered at their own rate), or
    (input path or None, output path) pairs, written as files; executor: any
    concurrent.futures.Executor (default: a process pool of max_workers,
    one per core)."""
    if not isinstance(module, Module):
        module = Module(module)
    options = {"sample_rate": sample_rate, "block_size": block_size, "set": set, "automate": automate, "frames": frames}
    items = list(items)
    owned = executor is None
    if owned:
        executor = ProcessPoolExecutor(max_workers=max_workers or os.cpu_count() or 1)
    try:
        futures = [executor.submit(_render_item, module, item, options) for item in items]
        results = []
        for index, future in enumerate(futures):
            try:
                output, error = future.result()
            except Exception as failure:  # the worker itself was lost
                output, error = None, failure
            results.append(ItemResult(index, output, error))
        return results
    finally:
        if owned:
            executor.shutdown()
