"""32-bit float WAV files in shared memory, the way arrays cross to a
supervised semhost: numpy interleaves the input into shared pages the child
reads, and the output is viewed in the pages the child wrote; nothing is
copied sample by sample in Python, and the output not at all.

Files are RIFF WAVE with IEEE float samples (format 3), or RF64 when the data
passes what a RIFF header can hold.
"""

import mmap
import os
import struct

import numpy as np

_RIFF_LIMIT = 0xFFFFFFFF - 36


def shared_folder(needed_bytes=0):
    """A folder in memory (/dev/shm) when the system has one with room for
    `needed_bytes` and a margin, else None (the temporary folder): a small
    /dev/shm, as containers often have, never fails a long render."""
    try:
        if not os.access("/dev/shm", os.W_OK):
            return None
        space = os.statvfs("/dev/shm")
    except OSError:
        return None
    return "/dev/shm" if space.f_bavail * space.f_frsize >= 2 * needed_bytes + (16 << 20) else None


def header(channels, frames, sample_rate):
    """The header of a float WAV of that shape: RIFF, or RF64 past 4 GiB."""
    data_bytes = channels * frames * 4
    fmt = struct.pack("<HHIIHH", 3, channels, sample_rate, sample_rate * channels * 4, channels * 4, 32)
    if data_bytes <= _RIFF_LIMIT:
        head = b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE"
        return head + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", data_bytes)
    ds64 = struct.pack("<QQQI", 36 + 36 + data_bytes, data_bytes, frames, 0)
    head = b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + b"ds64" + struct.pack("<I", len(ds64)) + ds64
    return head + b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", 0xFFFFFFFF)


def _interleave(samples, into):
    """into (frames, channels) = samples (channels, frames), a channel at a time
    (contiguous reads; far faster than one transposing copy)."""
    for channel in range(samples.shape[0]):
        into[:, channel] = samples[channel]


def write(path, samples, sample_rate):
    """Writes `samples` (channels, frames; float32) to `path` as a float WAV."""
    channels, frames = samples.shape
    head = header(channels, frames, sample_rate)
    with open(path, "wb") as out:
        out.write(head)
        out.truncate(len(head) + channels * frames * 4)
    if channels * frames:
        mapped = np.memmap(path, dtype="<f4", mode="r+", offset=len(head), shape=(frames, channels))
        _interleave(samples, mapped)
        mapped.flush()
        del mapped


class SharedInput:
    """A float WAV in anonymous shared memory (memfd) that a child process
    opens by path (/proc/PID/fd/N) while this process holds it. It is
    rewritten in place for each render, so its pages are made once; the
    memory goes with the object (or this process), leaving no file behind."""

    def __init__(self):
        self._fd = os.memfd_create("semhost-input", os.MFD_CLOEXEC)
        self._size = 0
        self._map = None

    def fill(self, samples, sample_rate):
        """Holds `samples` (channels, frames; float32) as a WAV; answers its path."""
        channels, frames = samples.shape
        head = header(channels, frames, sample_rate)
        size = len(head) + channels * frames * 4
        if size != self._size:
            if self._map is not None:
                self._map.close()
            os.ftruncate(self._fd, size)
            self._map = mmap.mmap(self._fd, size)
            self._size = size
        self._map[: len(head)] = head
        frames_view = np.frombuffer(self._map, dtype="<f4", count=channels * frames, offset=len(head))
        _interleave(samples, frames_view.reshape(frames, channels))
        del frames_view
        return f"/proc/{os.getpid()}/fd/{self._fd}"

    def close(self):
        if self._map is not None:
            self._map.close()
            self._map = None
        if self._fd >= 0:
            os.close(self._fd)
            self._fd = -1

    def __del__(self):
        self.close()


def write_replacing(path, samples, sample_rate):
    """write() to a temporary beside `path`, renamed over it once complete:
    an old file survives any failure."""
    import os
    import tempfile

    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".semhost-", suffix=".wav", dir=folder)
    os.close(handle)
    try:
        write(temporary, samples, sample_rate)
        os.replace(temporary, path)
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def read(path, mapped=False):
    """(samples as float32 (channels, frames), sample rate) of a float WAV.
    mapped: the samples stay in the file's pages (copy-on-write, writable),
    viewed as (channels, frames) without a copy; the file may then be removed."""
    with open(path, "rb") as f:
        head = f.read(12)
        if len(head) < 12 or head[:4] not in (b"RIFF", b"RF64") or head[8:12] != b"WAVE":
            raise ValueError(f"{path}: not a WAV file")
        big_data = None
        channels = rate = None
        while True:
            chunk = f.read(8)
            if len(chunk) < 8:
                raise ValueError(f"{path}: no data chunk")
            name, size = chunk[:4], struct.unpack("<I", chunk[4:])[0]
            if name == b"ds64":
                body = f.read(size)
                big_data = struct.unpack("<Q", body[8:16])[0]
            elif name == b"fmt ":
                body = f.read(size)
                tag, channels, rate, _, _, bits = struct.unpack("<HHIIHH", body[:16])
                if tag == 0xFFFE and len(body) >= 26:
                    tag = struct.unpack("<H", body[24:26])[0]
                if tag != 3 or bits != 32:
                    raise ValueError(f"{path}: not 32-bit float samples")
            elif name == b"data":
                if channels is None:
                    raise ValueError(f"{path}: data before the format")
                if size == 0xFFFFFFFF and big_data is not None:
                    size = big_data
                frames = size // (4 * channels)
                if mapped and frames:
                    pages = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_COPY)
                    data = np.frombuffer(pages, dtype="<f4", count=frames * channels, offset=f.tell())
                    return data.reshape(frames, channels).T, rate
                data = np.fromfile(f, dtype="<f4", count=frames * channels)
                return np.ascontiguousarray(data.reshape(frames, channels).T, dtype=np.float32), rate
            else:
                f.seek(size + (size & 1), 1)
            if size & 1 and name in (b"ds64", b"fmt "):
                f.seek(1, 1)
