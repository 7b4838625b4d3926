"""Reading what audio programs write, for the tools beside it (compare_tone.py,
plot_tone.py): every format libsndfile reads, else raw signed 16-bit
little-endian samples with no header, as audiosim writes result.bin. Needs
numpy and soundfile (Debian's python3-numpy and python3-soundfile).
"""
import dataclasses
import io

import numpy as np
import soundfile

SAMPLE_RATE = 44100  # samples per second
FULL_SCALE = 32768  # a 16-bit sample's value per unit of libsndfile's floats
MOST_BYTES = 128 << 20  # files are read whole: a larger one is refused
# Where the headers libsndfile reads show who they are: a file that starts so
# but that libsndfile refuses is a damaged header, not samples.
SIGNATURES = ((0, b"RIFF", "WAV"), (0, b"RIFX", "WAV"), (0, b"RF64", "WAV"), (8, b"WAVE", "WAV"),
              (12, b"fmt ", "WAV"), (0, b"fLaC", "FLAC"), (0, b"FORM", "AIFF"), (8, b"AIFF", "AIFF"),
              (8, b"AIFC", "AIFF"), (0, b"OggS", "Ogg"), (0, b".snd", "AU"), (0, b"caff", "CAF"))


class ToneError(Exception):
    """A failure worth one line on standard error."""


@dataclasses.dataclass
class Samples:
    """A file's samples, interleaved, in 16-bit units (int32 where they are
    whole numbers, else float64); its rate (None for a raw file), channels,
    the words for the header read (None for raw), and a raw file's bytes."""

    values: np.ndarray
    rate: int | None
    channels: int = 1
    header: str | None = None
    data: bytes | None = None


def read(path):
    """The samples of path; ToneError if it has none that can be read."""
    try:
        with open(path, "rb") as file:
            data = file.read(MOST_BYTES + 1)
    except OSError as error:
        raise ToneError(f"{path}: {error.strerror}") from None
    if len(data) > MOST_BYTES:
        raise ToneError(f"{path}: larger than {MOST_BYTES >> 20} MiB, more than this tool reads")
    try:
        with soundfile.SoundFile(io.BytesIO(data)) as sound:
            header = (f"{sound.format_info}, {sound.subtype_info}, {sound.channels} channel"
                      f"{'' if sound.channels == 1 else 's'}, {sound.samplerate:,} samples a second")
            values = sound.read(dtype="float64").reshape(-1) * FULL_SCALE
            samples = Samples(values, sound.samplerate, sound.channels, header)
    except RuntimeError as error:  # soundfile's LibsndfileError among them
        kinds = [kind for at, tag, kind in SIGNATURES if data[at:at + len(tag)] == tag]
        if kinds:
            raise ToneError(f"{path}: starts like a {kinds[0]} header, but libsndfile cannot read it "
                            f"({getattr(error, 'error_string', error)}); not read as samples") from None
        if len(data) % 2 != 0:
            raise ToneError(f"{path}: no header libsndfile knows, and {len(data)} bytes is not a whole "
                            f"number of 16-bit samples") from None
        samples = Samples(np.frombuffer(data, dtype="<i2").astype(np.int32), None, data=data)
    if not samples.values.size:
        raise ToneError(f"{path}: holds no samples")
    if samples.values.dtype != np.int32 and np.array_equal(samples.values, np.round(samples.values)) \
            and np.abs(samples.values).max() < 1 << 31:
        samples.values = samples.values.astype(np.int32)
    return samples
