"""Reading what audio programs write, for the tools beside it (compare_tone.py,
plot_tone.py): every format libsndfile reads, else raw signed 16-bit
little-endian samples with no header, as audiosim writes result.bin. What is
decoded is bounded before decoding, from the header. Needs numpy and
soundfile (Debian's python3-numpy and python3-soundfile).
"""
import dataclasses
import io
import struct
import sys

import numpy as np
import soundfile

import tone_model
import tone_trace
from tone_cli import ToneError

FULL_SCALE = 32768  # a 16-bit sample's value per unit of libsndfile's floats
# Values decoded at most (frames times channels): 47 s of mono at 44,100 a
# second, far more than any port of a one-second tone writes, in 16 MB of
# floats; the cross-correlation of that many takes a few seconds.
MOST_VALUES = 1 << 21
MOST_BYTES = 8 * MOST_VALUES + (1 << 20)  # 64-bit samples, and room for headers
NPY_SIGNATURE = b"\x93NUMPY"
MOST_CHUNKS = 4096
# libsndfile's count where a header gives none (a cut Ogg): read within the bound.
UNKNOWN_FRAMES = 1 << 62  # RIFF chunks looked at before the data chunk
# Where the headers libsndfile reads show who they are: a file that starts so
# but that libsndfile refuses is a damaged header, not samples.
SIGNATURES = ((0, b"RIFF", "WAV"), (0, b"RIFX", "WAV"), (0, b"RF64", "WAV"), (8, b"WAVE", "WAV"),
              (12, b"fmt ", "WAV"), (0, b"fLaC", "FLAC"), (0, b"FORM", "AIFF"), (8, b"AIFF", "AIFF"),
              (8, b"AIFC", "AIFF"), (0, b"OggS", "Ogg"), (0, b".snd", "AU"), (0, b"caff", "CAF"))
# WAV format tags whose frames are channels times whole bytes a sample: PCM,
# IEEE float, and the extensible header (which holds one of them).
WAV_LINEAR_FORMATS = (0x0001, 0x0003, 0xFFFE)


@dataclasses.dataclass
class Samples:
    """A file's samples, frames by channels, in 16-bit units (int32 where they
    are whole numbers, else float64); its rate (None for a raw file), the words
    for the header read (None for raw), a raw file's bytes, and what its header
    or length says against itself."""

    values: np.ndarray
    rate: int | None
    header: str | None = None
    data: bytes | None = None
    faults: list = dataclasses.field(default_factory=list)
    trace: tone_trace.Trace | None = None

    @property
    def channels(self):
        return self.values.shape[1]


def read(path):
    """The samples of path ("-" is standard input); ToneError if it has none that can be read."""
    try:
        if path == "-":
            data = sys.stdin.buffer.read(MOST_BYTES + 1)
        else:
            with open(path, "rb") as file:
                data = file.read(MOST_BYTES + 1)
    except OSError as error:
        raise ToneError(f"{path}: {error.strerror or error}") from None
    if len(data) > MOST_BYTES:
        raise ToneError(f"{path}: larger than {MOST_BYTES >> 20} MiB, more than this tool reads")
    return parse(data, path)


def parse(data, path):
    """The samples in data, the bytes of the file named path."""
    if tone_trace.is_text(data):
        return from_trace(tone_trace.read(data, path))
    if data.startswith(NPY_SIGNATURE):
        return from_npy(data, path)
    samples = decoded(data, path)
    if samples is None:
        kinds = [kind for at, tag, kind in SIGNATURES if data[at:at + len(tag)] == tag]
        if kinds:
            article = "an" if kinds[0][0] in "AEIOU" else "a"
            raise ToneError(f"{path}: starts like {article} {kinds[0]} header, but libsndfile cannot read "
                            f"it; not read as samples")
        samples = raw(data, path)
    if not samples.values.size and samples.trace is None:
        raise ToneError(f"{path}: holds no samples")
    values = samples.values
    if not values.size:
        return samples
    whole = np.array_equal(values, np.round(values)) and np.abs(values).max() < 1 << 31
    if values.dtype != np.int32 and whole:
        samples.values = values.astype(np.int32)
    return samples


def decoded(data, path):
    """The samples libsndfile decodes from data, None if it reads no header there."""
    try:
        sound = soundfile.SoundFile(io.BytesIO(data))
    except (RuntimeError, ValueError, TypeError):  # soundfile's LibsndfileError is a RuntimeError
        return None
    with sound:
        channels = sound.channels
        frames_read = max(1, MOST_VALUES // channels)
        if frames_read < sound.frames < UNKNOWN_FRAMES:
            raise ToneError(too_long(path, f"its header says {sound.frames:,} frames of {channels} "
                                           f"channel{plural(channels)}"))
        try:
            frames = sound.read(frames_read + 1, dtype="float64", always_2d=True)
        except (RuntimeError, ValueError, TypeError):  # a header by chance (MPEG's is two bytes): raw
            return None
        if len(frames) > frames_read:
            raise ToneError(too_long(path, f"it holds more than {frames_read:,} frames"))
        header = (f"{sound.format_info}, {sound.subtype_info}, {channels} channel{plural(channels)}, "
                  f"{sound.samplerate:,} samples a second")
        return Samples(frames * FULL_SCALE, sound.samplerate, header, faults=wav_faults(data))


def with_samples(samples, path):
    """samples, or a ToneError where a trace has no sample column to compare or draw."""
    if not samples.values.size:
        raise ToneError(f"{path}: a trace without a sample column: no samples here, only the tone's state "
                        f"can be compared with it")
    return samples


def from_trace(trace):
    """A text file's samples: its sample column, if it has one."""
    samples = np.array(trace.columns.get("sample", []), dtype=np.float64)[:, None]
    if not trace.named:
        return Samples(samples, None, f"text, one number a line ({len(samples):,} lines)", trace=trace,
                       faults=[f"numbers as text, not raw samples: the tone is "
                               f"{2 * tone_model.sample_count:,} bytes of binary 16-bit samples; the numbers "
                               f"are compared as its values"])
    ignored = ""
    if trace.ignored:
        ignored = f"; not compared, for want of a known name: {', '.join(trace.ignored)}"
    rows = "1 row" if len(trace.index) == 1 else f"{len(trace.index):,} rows"
    header = f"a trace of {rows}, columns {', '.join(trace.columns)}{ignored}"
    return Samples(samples, None, header, trace=trace)


def from_npy(data, path):
    """A NumPy .npy file's values, a column a channel."""
    try:
        array = np.load(io.BytesIO(data), allow_pickle=False)
    except (ValueError, OSError, EOFError):
        raise ToneError(f"{path}: starts like a NumPy .npy file, but numpy cannot read it") from None
    if array.ndim not in (1, 2) or array.dtype.kind not in "iuf" or array.size > MOST_VALUES:
        raise ToneError(f"{path}: a NumPy .npy file of {array.dtype} {array.shape}, not samples")
    values = array.astype(np.float64).reshape(len(array), -1)
    return Samples(values, None, f"a NumPy .npy file, {array.dtype} {array.shape}",
                   faults=[f"a NumPy .npy file, not raw samples: a {len(data) - array.nbytes}-byte header "
                           f"comes first; its values are compared"])


def raw(data, path):
    """data as raw signed 16-bit little-endian mono samples."""
    if len(data) // 2 > MOST_VALUES:
        raise ToneError(too_long(path, f"{len(data) // 2:,} raw 16-bit samples"))
    whole = len(data) - len(data) % 2
    faults = []
    if whole < len(data):
        faults.append(f"{len(data):,} bytes, an odd number: its last byte is no whole 16-bit sample, "
                      f"and is left out")
    values = np.frombuffer(data[:whole], dtype="<i2").astype(np.int32)[:, None]
    return Samples(values, None, data=data, faults=faults)


def too_long(path, what):
    return f"{path}: {what}, more than the {MOST_VALUES:,} values this tool decodes (a port of the " \
           f"one-second tone has 44,100)"


def plural(count):
    return "" if count == 1 else "s"


def wav_faults(data):
    """What a RIFF WAV header says against itself and against the bytes present."""
    if data[:4] not in (b"RIFF", b"RIFX") or data[8:12] != b"WAVE":
        return []
    order = "<" if data[:4] == b"RIFF" else ">"
    faults, fmt, pos = [], None, 12
    for _ in range(MOST_CHUNKS):
        if pos + 8 > len(data):
            break
        tag, (size,) = data[pos:pos + 4], struct.unpack(order + "I", data[pos + 4:pos + 8])
        body = pos + 8
        if tag == b"fmt " and size >= 16 and body + 16 <= len(data):
            fmt = struct.unpack(order + "HHIIHH", data[body:body + 16])
        if tag == b"data":
            if size > len(data) - body:
                faults.append(f"its header: its data chunk says {size:,} bytes, but {len(data) - body:,} "
                              f"follow it")
            break
        pos = body + size + size % 2
    if fmt is not None and fmt[0] in WAV_LINEAR_FORMATS:
        faults += format_faults(*fmt[1:])
    return faults


def format_faults(channels, rate, byte_rate, block, bits):
    """What a linear WAV format chunk says against itself."""
    faults = []
    frame = channels * ((bits + 7) // 8)
    if block != frame:
        faults.append(f"its header: its block size is {block:,} bytes, but {channels:,} "
                      f"channel{plural(channels)} of {bits}-bit samples take {frame:,}")
    if byte_rate != rate * block:
        faults.append(f"its header: its byte rate is {byte_rate:,}, but {rate:,} frames a second of "
                      f"{block:,} bytes take {rate * block:,}")
    return faults
