#!/usr/bin/python3
"""Plot a sample file such as audiosim writes: the first 10 ms of the waveform
and the spectrum of the first second from 0 to 5 kHz, with the carrier and
modulator marked; or, with --reference, the file drawn over the reference
around their first difference, and their difference below.

Reads what compare_tone.py reads (tone_file.py: any file libsndfile reads,
else raw signed 16-bit little-endian mono at 44,100 samples a second; of
several channels, the first). Writes one picture, in the format its name's
ending asks for (PNG, SVG, PDF, ...; a name with no such ending is refused,
exit status 2); any other failure is one line and exit status 1. Needs
numpy, soundfile and matplotlib (Debian's python3-soundfile and
python3-matplotlib).
"""
import argparse
import os
import shutil
import sys

PROG = "plot_tone"
try:
    import numpy as np
    from tone_file import SAMPLE_RATE, ToneError, read
except ImportError as missing:
    sys.exit(f"{PROG}: needs python3-numpy and python3-soundfile ({missing})")
FULL_SCALE = 32767  # largest sample: a full-scale sine is 0 dB
WAVEFORM_MS = 10  # length of the waveform panel
SPECTRUM_MAX_HZ = 5000  # top of the spectrum panel
ZERO_PADDING = 8  # FFT points per sample, so each line's peak shows at its level
# audiosim's increments per sample, in accumulator units of 2^20 a cycle.
PHASE_UNITS_PER_CYCLE = 1 << 20
CARRIER_HZ = 10240 * SAMPLE_RATE / PHASE_UNITS_PER_CYCLE  # about 430.7 Hz
MODULATOR_HZ = 2 * CARRIER_HZ  # the 2:1 modulator, about 861.3 Hz
SPECTRUM_FLOOR_DB = -140  # keeps log10 finite where a bin is exactly zero
AROUND = 200  # samples drawn either side of the first difference
LINE_HZ = 5  # a spectral line's peak is looked for this close to its frequency


def pyplot():
    """matplotlib's pyplot, drawing to files only."""
    try:
        import matplotlib
    except ImportError as error:
        raise ToneError(f"needs python3-matplotlib ({error})") from None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    return plt


def spectrum_db(samples, rate):
    """Magnitude spectrum in dB relative to a full-scale sine, Hann-windowed
    and zero-padded, so that a line's peak reads its level."""
    window = np.hanning(len(samples)) if len(samples) > 1 else np.ones(1)
    size = ZERO_PADDING * len(samples)
    magnitude = np.abs(np.fft.rfft(samples * window, size)) / (window.sum() / 2 * FULL_SCALE)
    freqs = np.fft.rfftfreq(size, d=1 / rate)
    return freqs, 20 * np.log10(np.maximum(magnitude, 10 ** (SPECTRUM_FLOOR_DB / 20)))


def save(figure, output):
    plt = pyplot()
    tex = plt.rcParams["pgf.texsystem"]
    if output.lower().endswith(".pgf") and not shutil.which(tex):
        plt.close(figure)
        raise ToneError(f"{output}: a .pgf picture needs {tex} (LaTeX), which is not on PATH")
    try:
        figure.savefig(output, dpi=100)
    except OSError as error:
        raise ToneError(f"{output}: {error.strerror or error}") from None
    except Exception as error:  # matplotlib's writers fail in many ways: one line, no partial picture
        if os.path.isfile(output):
            os.remove(output)
        raise ToneError(f"{output}: matplotlib cannot write it ({type(error).__name__}: "
                        f"{str(error).splitlines()[0] if str(error) else ''})") from None
    finally:
        plt.close(figure)


def plot(samples, rate, output, title):
    plt = pyplot()
    shown = samples[: rate * WAVEFORM_MS // 1000]
    second = samples[:rate]
    freqs, level = spectrum_db(second, rate)
    in_range = freqs <= SPECTRUM_MAX_HZ

    figure, (wave_axes, spectrum_axes) = plt.subplots(2, 1, figsize=(9, 7), layout="constrained")
    figure.suptitle(title)
    wave_axes.plot(np.arange(len(shown)) * 1000 / rate, shown, linewidth=0.9)
    wave_axes.set(xlabel="time (ms)", ylabel="sample value",
                  title=f"Waveform, first {WAVEFORM_MS} ms", ylim=(-34000, 34000))
    wave_axes.grid(alpha=0.3)

    for hz, label, colour in ((CARRIER_HZ, "carrier", "tab:red"), (MODULATOR_HZ, "modulator", "tab:green")):
        spectrum_axes.axvline(hz, color=colour, linestyle="--", linewidth=1, alpha=0.5, zorder=0,
                              label=f"{label} {hz:.1f} Hz")
    spectrum_axes.plot(freqs[in_range], level[in_range], linewidth=0.7)
    # Each line's level: the carrier, its sidebands every modulator frequency, the modulator.
    for hz in (MODULATOR_HZ, *np.arange(CARRIER_HZ, SPECTRUM_MAX_HZ, MODULATOR_HZ)):
        near = np.abs(freqs - hz) < LINE_HZ
        peak = float(level[near].max())
        spectrum_axes.plot(hz, peak, "v", color="black", markersize=4)
        spectrum_axes.annotate(f"{peak:.1f}", (hz, peak), textcoords="offset points", xytext=(4, 2), fontsize=8)
    spectrum_axes.set(xlabel="frequency (Hz)", ylabel="magnitude (dB full scale)",
                      title=f"Spectrum of {'the first ' if len(second) < len(samples) else ''}"
                      f"{len(second) / rate:g} s, 0 to {SPECTRUM_MAX_HZ} Hz (Hann window)",
                      xlim=(0, SPECTRUM_MAX_HZ), ylim=(-120, 5))
    spectrum_axes.legend(loc="upper right")
    spectrum_axes.grid(alpha=0.3)
    save(figure, output)


def draw_difference(candidate, reference, rate, output, title):
    """The candidate over the reference around their first difference (or
    their start), and candidate minus reference below."""
    plt = pyplot()
    shared = min(len(candidate), len(reference))
    differing = np.flatnonzero(candidate[:shared] != reference[:shared])
    first = int(differing[0]) if len(differing) else shared if len(candidate) != len(reference) else 0
    start = max(first - AROUND, 0)
    stop = min(first + AROUND, max(len(candidate), len(reference)))
    figure, (wave_axes, difference_axes) = plt.subplots(2, 1, figsize=(9, 7), layout="constrained", sharex=True)
    figure.suptitle(title)
    for samples, label, style in ((reference, "reference", "-"), (candidate, "candidate", "--")):
        part = np.asarray(samples[start:stop], dtype=np.float64)
        wave_axes.plot(np.arange(start, start + len(part)), part, style, linewidth=1, label=label)
    place = f"first difference at sample {first:,}" if len(differing) or first else "no difference"
    wave_axes.set(ylabel="sample value", title=f"Around the {place}")
    wave_axes.legend(loc="upper right")
    top = min(stop, shared)
    difference_axes.plot(np.arange(start, top), np.asarray(candidate[start:top], dtype=np.float64) -
                         np.asarray(reference[start:top], dtype=np.float64), color="tab:red", linewidth=1)
    difference_axes.set(xlabel=f"sample ({rate:,} a second)", ylabel="candidate - reference")
    for axes in (wave_axes, difference_axes):
        axes.axvline(first, color="grey", linewidth=0.8)
        axes.grid(alpha=0.3)
    save(figure, output)


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Plot a sample file (any file libsndfile reads, else raw signed 16-bit little-endian "
        "mono at 44,100 Hz): the first 10 ms of the waveform and the spectrum from 0 to 5 kHz, with the "
        "carrier and modulator frequencies marked; or, with --reference, the file over the reference "
        "around their first difference.",
        epilog=__doc__.split("\n\n", 1)[1], formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("file", nargs="?", default="result.bin",
                        help="sample file to read (default: %(default)s)")
    parser.add_argument("-o", "--output", default="result.png",
                        help="picture to write; its ending picks the format: .png, .svg, .pdf, "
                        "... (default: %(default)s)")
    parser.add_argument("--reference", metavar="FILE", help="draw the difference from FILE instead")
    args = parser.parse_args(argv)
    try:
        pyplot()
        from matplotlib.backend_bases import FigureCanvasBase

        known = sorted(FigureCanvasBase.get_supported_filetypes())
        if os.path.splitext(args.output)[1][1:].lower() not in known:
            print(f"{PROG}: {args.output}: no ending that names a picture format; known: "
                  f"{', '.join('.' + ending for ending in known)}", file=sys.stderr)
            return 2
        sound = read(args.file)
        samples, rate = sound.values[::sound.channels], sound.rate or SAMPLE_RATE
        if args.reference:
            other = read(args.reference)
            draw_difference(samples, other.values[::other.channels], rate, args.output,
                            f"{os.path.basename(args.file)} against {os.path.basename(args.reference)}")
        else:
            plot(samples, rate, args.output, os.path.basename(args.file))
    except (ToneError, MemoryError) as error:
        print(f"{PROG}: {error if isinstance(error, ToneError) else 'out of memory'}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
