"""Reading a sample file as audiosim writes it, or the same samples as a WAV,
for the tools beside it (plot_tone.py, compare_tone.py). Standard library only.
"""
import io
import wave

SAMPLE_RATE = 44100  # samples per second
BYTES_PER_SAMPLE = 2  # signed 16-bit, low byte first


class ToneError(Exception):
    """A failure worth one line on standard error."""


def read_sample_bytes(path):
    """The samples of path as signed 16-bit little-endian bytes, and the rate
    its WAV header gives (None for a raw file). A file that starts as a WAV
    must be a 16-bit mono one (read with Python's wave module); any other file
    is raw and must hold whole samples."""
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        raise ToneError(f"{path}: {error.strerror}") from None
    rate = None
    if data[:4] == b"RIFF" and data[8:12] == b"WAVE":
        try:
            with wave.open(io.BytesIO(data)) as wav:
                shape, rate = (wav.getnchannels(), wav.getsampwidth()), wav.getframerate()
                data = wav.readframes(wav.getnframes())
        except (wave.Error, EOFError) as error:
            raise ToneError(f"{path}: not a WAV file that Python's wave module reads ({error})") from None
        if shape != (1, BYTES_PER_SAMPLE):
            raise ToneError(f"{path}: a WAV of {8 * shape[1]}-bit samples in {shape[0]} channel(s): "
                            f"only 16-bit mono is read")
    elif len(data) % BYTES_PER_SAMPLE != 0:
        raise ToneError(f"{path}: {len(data)} bytes is not a whole number of 16-bit samples")
    if not data:
        raise ToneError(f"{path}: holds no samples")
    return data, rate
