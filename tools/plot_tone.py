#!/usr/bin/python3
"""Plot a sample file such as audiosim writes: the first 10 ms of the waveform
and the spectrum of the first second from 0 to 5 kHz, with the carrier and
modulator marked; or, with --reference, the file drawn over the reference
around their first difference, and their difference below.

Reads what compare_tone.py reads (tone_file.py: any file libsndfile reads,
else raw signed 16-bit little-endian mono at 44,100 samples a second; of
several channels, the first), of any length and rate. Writes one picture, in
the format its name's ending asks for (PNG, SVG, PDF, ...), and says so.

Exit status: 0 picture written, 2 could not (bad arguments, unreadable or
unusable input, a picture it cannot write), with one line on standard
error. Needs numpy, soundfile and matplotlib (Debian's python3-numpy,
python3-soundfile and python3-matplotlib).
"""
import os
import shutil
import sys

from tone_cli import COULD_NOT, Parser, ToneError, program_name, run

PROG = program_name("plot_tone")
try:
    import numpy as np

    import tone_model
    from tone_file import read, with_samples
except ImportError as missing:
    print(f"{PROG}: needs python3-numpy and python3-soundfile ({missing})", file=sys.stderr)
    sys.exit(COULD_NOT)
FULL_SCALE = 32767  # largest sample: a full-scale sine is 0 dB
WAVEFORM_MS = 10  # length of the waveform panel
SPECTRUM_MAX_HZ = 5000  # top of the spectrum panel
ZERO_PADDING = 8  # FFT points per sample, so each line's peak shows at its level
MOST_SPECTRUM = 1 << 18  # samples the spectrum reads at most, whatever the rate: bounded memory
CARRIER_HZ = tone_model.operator_hz["carrier"]  # about 430.7 Hz
MODULATOR_HZ = tone_model.operator_hz["modulator"]  # about 861.3 Hz
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
    shown = samples[:max(1, rate * WAVEFORM_MS // 1000)]
    second = samples[:min(rate, MOST_SPECTRUM)]
    freqs, level = spectrum_db(second, rate)
    in_range = freqs <= SPECTRUM_MAX_HZ

    figure, (wave_axes, spectrum_axes) = plt.subplots(2, 1, figsize=(9, 7), layout="constrained")
    figure.suptitle(title)
    wave_axes.plot(np.arange(len(shown)) * 1000 / rate, shown, ".-" if len(shown) < 2 else "-", linewidth=0.9)
    wave_axes.set(xlabel="time (ms)", ylabel="sample value",
                  title=f"Waveform, first {len(shown) * 1000 / rate:g} ms", ylim=(-34000, 34000))
    wave_axes.grid(alpha=0.3)

    for hz, label, colour in ((CARRIER_HZ, "carrier", "tab:red"), (MODULATOR_HZ, "modulator", "tab:green")):
        spectrum_axes.axvline(hz, color=colour, linestyle="--", linewidth=1, alpha=0.5, zorder=0,
                              label=f"{label} {hz:.1f} Hz")
    spectrum_axes.plot(freqs[in_range], level[in_range], linewidth=0.7)
    for hz, peak in line_levels(freqs, level, rate):
        spectrum_axes.plot(hz, peak, "v", color="black", markersize=4)
        spectrum_axes.annotate(f"{peak:.1f}", (hz, peak), textcoords="offset points", xytext=(4, 2),
                               fontsize=8)
    spectrum_axes.set(xlabel="frequency (Hz)", ylabel="magnitude (dB full scale)",
                      title=f"Spectrum of {'the first ' if len(second) < len(samples) else ''}"
                      f"{len(second) / rate:g} s, 0 to {SPECTRUM_MAX_HZ} Hz (Hann window)",
                      xlim=(0, SPECTRUM_MAX_HZ), ylim=(-120, 5))
    spectrum_axes.legend(loc="upper right")
    spectrum_axes.grid(alpha=0.3)
    save(figure, output)


def line_levels(freqs, level, rate):
    """Each line's level, as (Hz, dB): the modulator, the carrier and its
    sidebands every modulator frequency; those above half the rate, which the
    file cannot hold, are left out. The peak within LINE_HZ, else the nearest bin."""
    levels = []
    for hz in (MODULATOR_HZ, *np.arange(CARRIER_HZ, SPECTRUM_MAX_HZ, MODULATOR_HZ)):
        if hz > rate / 2:
            continue
        near = np.abs(freqs - hz) < LINE_HZ
        if not near.any():
            near = np.abs(freqs - hz) == np.abs(freqs - hz).min()
        levels.append((hz, float(level[near].max())))
    return levels


def draw_difference(candidate, reference, rate, output, title, lookup=None):
    """The candidate over the reference around their first difference (or
    their start), and candidate minus reference below; with lookup (the
    carrier's lookup phase of each sample), the difference against it too."""
    plt = pyplot()
    shared = min(len(candidate), len(reference))
    differing = np.flatnonzero(candidate[:shared] != reference[:shared])
    first = int(differing[0]) if len(differing) else shared if len(candidate) != len(reference) else 0
    start = max(first - AROUND, 0)
    stop = min(first + AROUND, max(len(candidate), len(reference)))
    panels = 2 if lookup is None else 3
    figure, axes_list = plt.subplots(panels, 1, figsize=(9, 3.5 * panels), layout="constrained")
    wave_axes, difference_axes = axes_list[:2]
    wave_axes.sharex(difference_axes)
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
    if lookup is not None:
        difference = np.asarray(candidate[:shared], dtype=np.float64) - reference[:shared]
        against_lookup(axes_list[2], difference, np.asarray(lookup[:shared]) & 0x3FF)
    save(figure, output)


def against_lookup(axes, difference, phase):
    """Each sample's difference at the carrier's lookup phase (0 to 1023): a
    wrong quarter, mirror or sign stands out as a band between the quarter lines."""
    axes.plot(phase, difference, ".", markersize=2, color="tab:red")
    for quarter in (256, 512, 768):
        axes.axvline(quarter, color="grey", linewidth=0.8)
    axes.set(xlabel="the carrier's lookup phase (op1_phase >> 10, bits 0 to 9)", ylabel="candidate - tone",
             xlim=(0, 1023), title="The difference by lookup phase: quarters split at bits 8 and 9")
    axes.grid(alpha=0.3)


def picture_format(output):
    """Refuses, as a ToneError, a picture name whose ending names no format matplotlib writes."""
    pyplot()
    from matplotlib.backend_bases import FigureCanvasBase

    known = sorted(FigureCanvasBase.get_supported_filetypes())
    if os.path.splitext(output)[1][1:].lower() not in known:
        raise ToneError(f"{output}: no ending that names a picture format; known: "
                        f"{', '.join('.' + ending for ending in known)}")


def first_channel(sound):
    """A file's first channel as floats, values that are not numbers drawn as 0."""
    return np.nan_to_num(sound.values[:, 0].astype(np.float64), nan=0.0, posinf=0.0, neginf=0.0)


def main(argv=None):
    parser = Parser(
        prog=PROG,
        description="Plot a sample file (any file libsndfile reads, else raw signed 16-bit little-endian "
        "mono at 44,100 Hz; - for standard input): the first 10 ms of the waveform and the spectrum from 0 "
        "to 5 kHz, with the carrier and modulator frequencies marked; or, with --reference, the file over "
        "the reference around their first difference.",
        epilog=__doc__.split("\n\n", 1)[1])
    parser.add_argument("file", nargs="?", default="result.bin",
                        help="sample file to read (default: %(default)s)")
    parser.add_argument("-o", "--output", default="result.png",
                        help="picture to write; its ending picks the format: .png, .svg, .pdf, "
                        "... (default: %(default)s)")
    parser.add_argument("--reference", metavar="FILE", help="draw the difference from FILE instead")
    args = parser.parse_args(argv)
    picture_format(args.output)
    sound = with_samples(read(args.file), args.file)
    rate = sound.rate or tone_model.sample_rate
    if args.reference:
        other = with_samples(read(args.reference), args.reference)
        draw_difference(first_channel(sound), first_channel(other), rate, args.output,
                        f"{os.path.basename(args.file)} against {os.path.basename(args.reference)}")
        print(f"{args.output}: {args.file} over {args.reference} around their first difference, "
              f"and the difference")
    else:
        plot(first_channel(sound), rate, args.output, os.path.basename(args.file))
        print(f"{args.output}: the waveform and spectrum of {args.file}")
    return 0


if __name__ == "__main__":
    sys.exit(run(PROG, main))
