#!/usr/bin/python3
"""Tell whether a file holds audiosim's tone and, if not, why.

The candidate is any file libsndfile reads (WAV, FLAC, AIFF, ...: its header
is named on the first line; 24-bit or float samples hold the tone when they
hold its 16-bit values exactly), or else raw signed 16-bit little-endian
mono, as audiosim writes result.bin. The samples are judged first: another
raw sample format; the tone made with a common mistake or other constants;
flipped, scaled, reversed, repeated, in two channels, delayed or advanced (by
cross-correlation); only then the length (the tone resampled, where the
samples correlate with it at that rate). Otherwise the first differing sample
is given with the tone's state there, in the program's names; --trace N
prints that state for the first N samples, --plot draws the difference. The
reference is --reference FILE, or else this tool's own model of the tone.
Exit status: 0 identical, 1 different, 2 unreadable or unusable input.
Needs numpy and soundfile; a few seconds at most.
"""
import argparse
import itertools
import math
import sys

PROG = "compare_tone"
try:
    import numpy as np
    from tone_file import SAMPLE_RATE, ToneError, read
except ImportError as missing:
    print(f"{PROG}: needs python3-numpy and python3-soundfile ({missing})", file=sys.stderr)
    sys.exit(2)
SAMPLE_COUNT = 44100  # one second
FREQ = 10240  # base phase increment per sample; one cycle is 2**20 units
OP1_RATIO, OP2_RATIO, RATIO_UNIT = 16, 32, 16  # carrier and modulator, in sixteenths of FREQ
FRACTION_BITS = 10  # accumulator bits below the lookup phase
# Rates a file may have been resampled to, in samples a second.
COMMON_RATES = (8000, 11025, 16000, 22050, 24000, 32000, 48000, 88200, 96000, 176400, 192000)
PREFIX = 32  # samples a trial of other constants is first judged by
TRIALS_AT_ONCE = 8192  # trials rendered side by side, to bound memory
RESAMPLER_DELAY = 2  # samples a resampled file may lag by
CORRELATION_BLOCK = 1 << 20  # lags cross-correlated at once
# The tone nearly repeats every 512 samples, so the true lag need not be the
# best-correlated one: this many of the best peaks are checked.
PEAKS = 64

MISTAKES = {
    "rounded": "the table rounded instead of truncated",
    "negated": "the negative half negated instead of complemented",
    "read_first": "each accumulator read before it is advanced",
    "previous_modulator": "the carrier taking the previous sample's modulator value",
    "lookup_argument": "the modulator added to the carrier's lookup argument for one sample, "
                       "not into its accumulator",
}
# Constants searched, one at a time, with the tone's own for the others.
SEARCHED = (("freq", FREQ, np.arange(1, 1 << 17)), ("op1_ratio", OP1_RATIO, np.arange(0, 257)),
            ("op2_ratio", OP2_RATIO, np.arange(0, 257)))
# The modulator's value as it enters the carrier's accumulator: shifted right
# by this many bits (left where negative); None leaves it out.
WEIGHTS = (None, *range(-12, 0), *range(1, 16))
RAW_FORMATS = (("<i4", 0, "32-bit integer"), ("<f4", 0, "32-bit float"), ("<f8", 0, "64-bit float"),
               ("i1", 0, "8-bit signed"), ("u1", 128, "8-bit unsigned"),
               ("<u2", 32768, "unsigned 16-bit (offset binary)"), (">i2", 0, "big-endian 16-bit"))
# The quarter-wave table, truncated as audiosim builds it, and rounded.
SCALED_SINES = np.sin(np.arange(256) / 256.0 * 1.5707963267948966) * 32767.0
TABLES = {False: np.trunc(SCALED_SINES).astype(np.int64), True: np.round(SCALED_SINES).astype(np.int64)}
STATE = ("op2_phase", "op2_phase >> 10", "op2_val", "op1_phase", "op1_phase >> 10", "idx", "sample")


def lookup_sin(table, phase, negated=False):
    """The sine of each lookup phase (only bits 0 to 9 count), and the table index read."""
    idx = np.where(phase & 0x100, ~phase, phase) & 0xFF
    val = table[idx]
    return np.where(phase & 0x200, -val if negated else ~val, val), idx  # ~val is -val - 1


def render(mistakes=(), count=SAMPLE_COUNT, freq=FREQ, op1_ratio=OP1_RATIO, op2_ratio=OP2_RATIO, weight=0,
           state=False):
    """The tone's samples as audiosim renders them, or with the named mistakes
    or other constants (arrays of them render one row each); with state, the
    values of STATE per sample."""
    table = TABLES["rounded" in mistakes]
    negated, first = "negated" in mistakes, "read_first" in mistakes
    k = np.arange(1, count + 1, dtype=np.int64)
    op2_freq = op2_ratio * freq // RATIO_UNIT
    op1_freq = op1_ratio * freq // RATIO_UNIT
    op2_phase = k * op2_freq
    op2_val = lookup_sin(table, (op2_phase - op2_freq if first else op2_phase) >> FRACTION_BITS, negated)[0]
    if "previous_modulator" in mistakes:
        op2_val = np.concatenate(([0], op2_val[:-1]))
    entering = 0 * op2_val if weight is None else op2_val >> weight if weight >= 0 else op2_val << -weight
    if "lookup_argument" in mistakes:
        op1_phase = k * op1_freq
        argument = op1_phase - (op1_freq if first else 0) + entering
    else:
        steps = entering + op1_freq
        op1_phase = np.cumsum(steps, axis=-1)
        argument = op1_phase - steps if first else op1_phase
    sample, idx = lookup_sin(table, argument >> FRACTION_BITS, negated)
    if state:
        return dict(zip(STATE, (op2_phase, op2_phase >> FRACTION_BITS, op2_val, op1_phase,
                                op1_phase >> FRACTION_BITS, idx, sample)))
    return sample


def at(index):
    """A sample's place: its index and its time in milliseconds."""
    return f"sample {index:,} ({index * 1000 / SAMPLE_RATE:,.3f} ms)"


def span(count):
    """A number of samples and the time they take."""
    return f"{count:,} sample{'' if count == 1 else 's'} ({count * 1000 / SAMPLE_RATE:,.3f} ms)"


def gain_of(x, reference, integers=True):
    """The constant that x is reference times, to within x's rounding; None if none."""
    x, reference = np.asarray(x, dtype=np.float64), np.asarray(reference, dtype=np.float64)
    if not np.any(reference) or not np.isfinite(x).all():
        return None
    gain = float(np.dot(x, reference) / np.dot(reference, reference))
    tolerance = 1.5 if integers else 1e-6 * float(np.abs(x).max())
    power = math.copysign(2.0 ** round(math.log2(abs(gain))), gain) if gain else 0.0
    for tried in (power, gain):  # a power of two where it fits as well (8 bits: / 256)
        if abs(tried) * np.abs(reference).max() > 2 * tolerance and np.abs(x - tried * reference).max() <= tolerance:
            return tried
    return None


def times_words(gain):
    return f"x {gain:,.6g}" if abs(gain) >= 1 else f"/ {1 / gain:,.6g}"


def raw_format(data, reference, name):
    for dtype, offset, words in RAW_FORMATS:
        if len(data) == np.dtype(dtype).itemsize * len(reference):
            with np.errstate(invalid="ignore"):  # NaN bytes, as floats
                x = np.frombuffer(data, dtype).astype(np.float64) - offset
            gain = gain_of(x, reference, np.dtype(dtype).kind != "f")
            if gain is not None and dtype == ">i2" and gain == 1:
                return ["the byte order is swapped: each sample's high byte comes first"]
            if gain is not None:
                return [f"raw {words} samples, not signed 16-bit: {name}'s values {times_words(gain)}"]
    return None


def made_otherwise(candidate):
    """How the model makes candidate with one or two mistakes or other constants; None if it does not."""
    for count in (1, 2):
        for chosen in itertools.combinations(MISTAKES, count):
            if np.array_equal(render(chosen), candidate):
                return "this is the tone made with " + " and ".join(MISTAKES[m] for m in chosen)
    head = candidate[:PREFIX]
    for constant, own, values in SEARCHED:
        hits = [part[(render(count=PREFIX, **{constant: part[:, None]}) == head).all(axis=1)]
                for part in np.array_split(values, -(-len(values) // TRIALS_AT_ONCE))]
        for value in np.concatenate(hits):
            if value != own and np.array_equal(render(**{constant: int(value)}), candidate):
                return f"this is the tone made with {constant} {value:,}, not {own:,}"
    for weight in WEIGHTS:
        if np.array_equal(render(weight=weight), candidate):
            how = ("left out" if weight is None else
                   f"shifted {'right' if weight > 0 else 'left'} by {abs(weight)} ({times_words(2.0 ** -weight)})")
            return f"this is the tone made with the modulator's value {how} as it enters the carrier's " \
                   f"accumulator, not added whole"
    return None


def scaled(candidate, reference, name):
    gain = gain_of(candidate, reference)
    if gain is None or abs(gain - 1) < 1e-3:
        return None
    if abs(gain + 1) < 1e-3:
        how = ("each sample negated" if np.array_equal(candidate, -reference) else
               "each sample complemented (-v - 1)" if np.array_equal(candidate, -1 - reference) else
               "each sample negated, give or take 1")
        return f"{name} with its polarity flipped: {how}"
    return f"{name} scaled by {gain:,.6g} ({20 * math.log10(abs(gain)):+.1f} dB)" + \
        (", polarity flipped" if gain < 0 else "")


def correlate(candidate, reference):
    """The best peaks of the normalised cross-correlation of candidate with
    reference, best first, as (score, lag): 1 for the same samples, lag where
    candidate[lag + k] meets reference[k] (negative where the candidate starts
    inside it). By FFT, a block of lags at a time, so memory stays bounded."""
    n = len(reference)
    reference = np.asarray(reference, dtype=np.float64)
    energy = float(np.dot(reference, reference))
    lags = len(candidate) + n - 1
    block = min(lags, CORRELATION_BLOCK)
    size = 1 << (block + n - 2).bit_length()
    spectrum = np.conj(np.fft.rfft(reference, size))
    peaks = []
    for first in range(-(n - 1), len(candidate), block):
        segment = np.zeros(block + n - 1)
        start, stop = max(first, 0), min(first + block + n - 1, len(candidate))
        segment[start - first:stop - first] = candidate[start:stop]
        products = np.fft.irfft(np.fft.rfft(segment, size) * spectrum, size)[:block]
        sums = np.concatenate(([0.0], np.cumsum(segment * segment)))
        window = sums[n:n + block] - sums[:block]
        score = np.where(window > 0.5, products / np.sqrt(np.maximum(window, 0.5) * energy), 0.0)
        inner = score[1:-1]
        tops = np.flatnonzero((inner > 0.5) & (inner >= score[:-2]) & (inner >= score[2:])) + 1
        if len(score) < 3:
            tops = np.array([int(score.argmax())])
        peaks += [(float(score[j]), first + int(j)) for j in tops[np.argsort(score[tops])[-PEAKS:]]]
        peaks = sorted(peaks, reverse=True)[:PEAKS]
    return peaks


def shifted(candidate, reference, name):
    n = len(reference)
    for _, lag in correlate(candidate, reference):
        start, skipped = max(lag, 0), max(-lag, 0)
        overlap = min(len(candidate) - start, n - skipped)
        if lag != 0 and overlap > 0 and np.array_equal(candidate[start:start + overlap],
                                                       reference[skipped:skipped + overlap]):
            break
    else:
        return None
    if lag > 0:
        before = candidate[:lag]
        what = "silence" if not before.any() else f"the value {before[0]}" if (before == before[0]).all() \
            else "other samples"
        lines = [f"{name} delayed by {span(lag)}: {what} first"]
    else:
        lines = [f"{name} advanced by {span(-lag)}: it starts at {at(-lag)} of {name}"]
    if skipped + overlap < n:
        lines.append(f"cut short: the last {span(n - skipped - overlap)} of {name} are missing")
    if start + overlap < len(candidate):
        lines.append(f"{span(len(candidate) - start - overlap)} more follow")
    return lines


def resampled(candidate, reference, name, rate):
    for other in COMMON_RATES:
        if other != rate and abs(len(candidate) - len(reference) * other / rate) < 1:
            moved = np.interp(np.arange(len(candidate)) * rate / other, np.arange(len(reference)), reference)
            values = np.asarray(candidate, dtype=np.float64)
            score = max(np.dot(values[lag:], moved[:len(moved) - lag]) /
                        (np.linalg.norm(values[lag:]) * np.linalg.norm(moved[:len(moved) - lag]) or 1)
                        for lag in range(RESAMPLER_DELAY + 1))
            if score > 0.9:
                return [f"{name} resampled to {other:,} samples a second: {len(candidate):,} samples, "
                        f"{name} has {len(reference):,}; they correlate by {score:.3f} at that rate"]
    return None


def state_words(k):
    state = {key: int(values[k]) for key, values in render(count=k + 1, state=True).items()}
    return (f"the tone's state at sample {k:,}: op2_phase {state['op2_phase']:,} (lookup phase "
            f"{state['op2_phase >> 10']:,}), op2_val {state['op2_val']}; op1_phase {state['op1_phase']:,} "
            f"(lookup phase {state['op1_phase >> 10']:,}), sin_table index {state['idx']}, "
            f"sample {state['sample']}")


def diagnose(candidate, reference, modelled, name="the tone", rate=SAMPLE_RATE):
    """The lines that say how candidate (a Samples) differs from reference
    (called name, at rate samples a second); [] if it does not."""
    values, n = candidate.values, len(reference)
    if np.array_equal(values, reference):
        return []
    if candidate.data is not None and (lines := raw_format(candidate.data, reference, name)):
        return lines
    if len(values) == n:
        words = (modelled and made_otherwise(values)) or scaled(values, reference, name)
        if words:
            return [words]
        if np.array_equal(values, reference[::-1]):
            return [f"{name} reversed in time"]
    times, rest = divmod(len(values), n)
    copies = (values.reshape(times, n) == reference).all(axis=1) if times > 1 and rest == 0 else [False]
    if all(copies):
        return [f"{name} {times} times over, back to back"]
    if sum(copies) * 2 > len(copies):
        wrong = int(np.flatnonzero(~copies)[0])
        first = int(np.flatnonzero(values[wrong * n:(wrong + 1) * n] != reference)[0])
        return [f"{name} {times} times over, back to back, but {len(copies) - sum(copies):,} of the copies "
                f"differ: the first, copy {wrong + 1:,}, at its {at(first)}"]
    if times == 2 and rest == 0:
        channels = [side for side, first in (("left", 0), ("right", 1)) if np.array_equal(values[first::2], reference)]
        if len(channels) == 2:
            return [f"{name} in two interleaved channels, each sample twice: stereo, not mono"]
        if channels:
            return [f"{name} in the {channels[0]} of two interleaved channels: stereo, not mono"]
    lines = shifted(values, reference, name) or resampled(values, reference, name, rate) or []
    if lines:
        return lines
    shared = min(len(values), n)
    differing = np.flatnonzero(values[:shared] != reference[:shared])
    if len(values) != n:
        missing = n - len(values)
        lines.append(f"{span(abs(missing))} {'short' if missing > 0 else 'too long'}: "
                     f"{len(values):,} samples, {name} has {n:,}")
    if not len(differing):
        return lines + [f"the first {shared:,} samples agree"]
    first = int(differing[0])
    largest = np.abs(values[differing] - reference[differing]).max()
    lines.append(f"first difference at {at(first)}: {values[first]}, {name} has {reference[first]}; "
                 f"{len(differing):,} of {shared:,} samples differ, by {largest:g} at most")
    return lines + ([state_words(first)] if modelled else [])


def print_trace(count):
    state = render(count=count, state=True)
    print(f"{'i':>5}" + "".join(f"{key:>{max(len(key), 6) + 2}}" for key in STATE))
    for k in range(count):
        print(f"{k:>5}" + "".join(f"{int(state[key][k]):>{max(len(key), 6) + 2}}" for key in STATE))


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog=PROG, description="Tell whether CANDIDATE (any file libsndfile reads, else raw signed 16-bit "
        "little-endian mono) holds audiosim's tone and, if not, why.",
        epilog=__doc__.split("\n\n", 1)[1], formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("candidate", nargs="?", help="the file to check")
    parser.add_argument("--reference", metavar="FILE",
                        help="the tone to compare with (default: this tool's own model of it)")
    parser.add_argument("--trace", metavar="N", type=int, default=0,
                        help="print the tone's state for its first N samples, in audiosim's names")
    parser.add_argument("--plot", metavar="PICTURE",
                        help="draw the candidate over the reference around the first difference, and their "
                        "difference (needs matplotlib)")
    args = parser.parse_args(argv)
    if args.trace < 0 or (args.candidate is None and not args.trace):
        parser.error("give a CANDIDATE, or --trace N with N of 1 or more")
    if args.trace:
        print_trace(args.trace)
        if args.candidate is None:
            return 0
    name = "the reference" if args.reference else "the tone"
    try:
        candidate = read(args.candidate)
        model, rate, reference_rate = render(), SAMPLE_RATE, None
        if args.reference:
            other = read(args.reference)
            reference, rate, reference_rate = other.values, other.rate or SAMPLE_RATE, other.rate
        else:
            reference = model
        modelled = np.array_equal(reference, model)
        if candidate.header:
            print(f"{args.candidate}: read as {candidate.header}")
        lines = diagnose(candidate, reference, modelled, name, rate)
    except (ToneError, MemoryError) as error:
        print(f"{PROG}: {error if isinstance(error, ToneError) else 'out of memory'}", file=sys.stderr)
        return 2
    if candidate.rate not in (None, rate):  # the right samples at another rate play at another pitch
        lines = [f"its header says {candidate.rate:,} samples a second; {name} is at {rate:,}",
                 *(lines or [f"its samples are {name}'s"])]
    if not lines:
        print(f"{args.candidate}: {'its samples are ' if candidate.header else ''}identical to {name} "
              f"({len(candidate.values):,} samples)")
        if reference_rate is not None and candidate.rate is None:  # a raw file plays at whatever rate it is given
            print(f"  it records no rate; {name}'s header says {reference_rate:,} samples a second")
    else:
        print(f"{args.candidate}: differs from {name}")
        for line in lines:
            print(f"  {line}")
    if args.plot:
        import plot_tone

        try:
            plot_tone.draw_difference(candidate.values[::candidate.channels], reference, rate, args.plot,
                                      f"{args.candidate} against {name}")
        except ToneError as error:
            print(f"{PROG}: {error}", file=sys.stderr)
            return 2
    return 1 if lines else 0


if __name__ == "__main__":
    sys.exit(main())
