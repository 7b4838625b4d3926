#!/usr/bin/python3
"""Plot a sample file written by audiosim: the first 10 ms of the waveform and
its magnitude spectrum from 0 to 5 kHz, with the carrier and modulator marked.

The file holds signed 16-bit little-endian mono samples at 44,100 per second,
with no header, or is a 16-bit mono WAV, at the rate its header gives. Reads
the whole file once and writes one picture, in the format its name's ending
asks for (PNG, SVG, PDF, ...; a name with no such ending is refused, exit
status 2); needs Debian's python3-numpy and python3-matplotlib.
"""
import argparse
import os
import sys

from tone_file import SAMPLE_RATE, ToneError, read_sample_bytes

PROG = "plot_tone"
FULL_SCALE = 32767  # largest sample: a full-scale sine is 0 dB
WAVEFORM_MS = 10  # length of the waveform panel
SPECTRUM_MAX_HZ = 5000  # top of the spectrum panel
# audiosim's increments per sample, in accumulator units of 2^20 a cycle.
PHASE_UNITS_PER_CYCLE = 1 << 20
CARRIER_HZ = 10240 * SAMPLE_RATE / PHASE_UNITS_PER_CYCLE  # about 430.7 Hz
MODULATOR_HZ = 2 * CARRIER_HZ  # the 2:1 modulator, about 861.3 Hz
SPECTRUM_FLOOR_DB = -140  # keeps log10 finite where a bin is exactly zero


def read_samples(path):
    import numpy as np

    data, rate = read_sample_bytes(path)
    return np.frombuffer(data, dtype="<i2").astype(np.float64), rate or SAMPLE_RATE


def spectrum_db(samples, rate):
    """Magnitude spectrum in dB relative to a full-scale sine, Hann-windowed."""
    import numpy as np

    window = np.hanning(len(samples)) if len(samples) > 1 else np.ones(1)
    magnitude = np.abs(np.fft.rfft(samples * window)) / (window.sum() / 2 * FULL_SCALE)
    freqs = np.fft.rfftfreq(len(samples), d=1 / rate)
    return freqs, 20 * np.log10(np.maximum(magnitude, 10 ** (SPECTRUM_FLOOR_DB / 20)))


def plot(samples, rate, output, title):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np

    shown = samples[: rate * WAVEFORM_MS // 1000]
    freqs, level = spectrum_db(samples, rate)
    in_range = freqs <= SPECTRUM_MAX_HZ

    figure, (wave_axes, spectrum_axes) = plt.subplots(2, 1, figsize=(9, 7), layout="constrained")
    figure.suptitle(title)
    wave_axes.plot(np.arange(len(shown)) * 1000 / rate, shown, linewidth=0.9)
    wave_axes.set(xlabel="time (ms)", ylabel="sample value",
                  title=f"Waveform, first {WAVEFORM_MS} ms", ylim=(-34000, 34000))
    wave_axes.grid(alpha=0.3)

    spectrum_axes.plot(freqs[in_range], level[in_range], linewidth=0.7)
    for hz, label, colour in ((CARRIER_HZ, "carrier", "tab:red"), (MODULATOR_HZ, "modulator", "tab:green")):
        spectrum_axes.axvline(hz, color=colour, linestyle="--", linewidth=1,
                              label=f"{label} {hz:.1f} Hz")
    spectrum_axes.set(xlabel="frequency (Hz)", ylabel="magnitude (dB full scale)",
                      title=f"Spectrum, 0 to {SPECTRUM_MAX_HZ} Hz", xlim=(0, SPECTRUM_MAX_HZ),
                      ylim=(-120, 5))
    spectrum_axes.legend(loc="upper right")
    spectrum_axes.grid(alpha=0.3)
    try:
        figure.savefig(output, dpi=100)
    except OSError as error:
        raise ToneError(f"{output}: {error.strerror}") from None
    finally:
        plt.close(figure)


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Plot audiosim's sample file (signed 16-bit little-endian mono, "
        "44,100 Hz, no header; or a 16-bit mono WAV): the first 10 ms of the waveform "
        "and the spectrum from 0 to 5 kHz, with the carrier and modulator frequencies marked.")
    parser.add_argument("file", nargs="?", default="result.bin",
                        help="sample file or WAV to read (default: %(default)s)")
    parser.add_argument("-o", "--output", default="result.png",
                        help="picture to write; its ending picks the format: .png, .svg, .pdf, "
                        "... (default: %(default)s)")
    args = parser.parse_args(argv)
    try:
        try:
            import matplotlib  # noqa: F401
            import numpy  # noqa: F401
        except ImportError as error:
            raise ToneError(f"needs python3-numpy and python3-matplotlib ({error})") from None
        from matplotlib.backend_bases import FigureCanvasBase

        known = sorted(FigureCanvasBase.get_supported_filetypes())
        if os.path.splitext(args.output)[1][1:].lower() not in known:
            print(f"{PROG}: {args.output}: no ending that names a picture format; known: "
                  f"{', '.join('.' + ending for ending in known)}", file=sys.stderr)
            return 2
        samples, rate = read_samples(args.file)
        plot(samples, rate, args.output, os.path.basename(args.file))
    except ToneError as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
