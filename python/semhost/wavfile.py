"""32-bit float WAV files mapped into memory, the way arrays cross to a
supervised semhost: numpy writes and reads the samples in bulk (one
interleaving copy each way), never sample by sample in Python.

Files are RIFF WAVE with IEEE float samples (format 3), or RF64 when the data
passes what a RIFF header can hold.
"""

import struct

import numpy as np

_RIFF_LIMIT = 0xFFFFFFFF - 36


def shared_folder():
    """A folder in memory when the system has one (/dev/shm), else None."""
    import os

    return "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None


def write(path, samples, sample_rate):
    """Writes `samples` (channels, frames; float32) to `path` as a float WAV."""
    channels, frames = samples.shape
    data_bytes = channels * frames * 4
    fmt = struct.pack("<HHIIHH", 3, channels, sample_rate, sample_rate * channels * 4, channels * 4, 32)
    if data_bytes <= _RIFF_LIMIT:
        header = b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVE"
        header += b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", data_bytes)
    else:
        ds64 = struct.pack("<QQQI", 36 + 36 + data_bytes, data_bytes, frames, 0)
        header = b"RF64" + struct.pack("<I", 0xFFFFFFFF) + b"WAVE" + b"ds64" + struct.pack("<I", len(ds64)) + ds64
        header += b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", 0xFFFFFFFF)
    with open(path, "wb") as out:
        out.write(header)
        out.truncate(len(header) + data_bytes)
    if data_bytes:
        mapped = np.memmap(path, dtype="<f4", mode="r+", offset=len(header), shape=(frames, channels))
        mapped[...] = samples.T
        mapped.flush()
        del mapped


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


def read(path):
    """(samples as float32 (channels, frames), sample rate) of a float WAV."""
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
                data = np.fromfile(f, dtype="<f4", count=frames * channels)
                return np.ascontiguousarray(data.reshape(frames, channels).T, dtype=np.float32), rate
            else:
                f.seek(size + (size & 1), 1)
            if size & 1 and name in (b"ds64", b"fmt "):
                f.seek(1, 1)
