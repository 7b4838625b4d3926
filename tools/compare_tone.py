#!/usr/bin/python3
"""Tell whether a file holds audiosim's tone and, if not, why.

The candidate is any file libsndfile reads (WAV, FLAC, AIFF, ...: its header
is named on the first line, and a WAV header is checked against itself and
its bytes; 24-bit or float samples hold the tone when they hold its 16-bit
values exactly), a NumPy .npy file, text (a porter's trace: a line of the
column names --trace prints, then a row a sample; or one number a line), or
else raw signed 16-bit little-endian mono, as audiosim writes result.bin.
A trace is compared value by value: the first that departs is named, the
tone's explained, and the slips that give yours (a 16- or 32-bit wrap, an
unsigned reading, assigned not accumulated, another table entry). Samples'
lengths and times are in frames; of several channels each is judged. A
difference is explained by the first of these that fits: values that are
not numbers, silence; interleaved channels, another raw sample format, text
bytes or one byte a sample; the tone made with a common mistake, another
freq or ratio, or a port's slip: the modulator's weight, the bits lookup_sin
tests, the shift to the lookup phase, sin_table's scale and span, an
accumulator, the carrier's sum or op2_val kept in 16 bits; flipped or
scaled, reversed, repeated, delayed or advanced (by cross-correlation),
resampled (where it correlates so); else the first differing sample, the
tone's state there, the sin_table entry yours is, and the kind of
difference. --trace prints the state (N samples, FIRST:STOP, or around the
first difference beside yours), --plot draws the difference, by time and by
the carrier's lookup phase. The reference is --reference FILE, or else this
tool's own model of the tone.

Exit status: 0 identical, 1 different, 2 could not (bad arguments,
unreadable or unusable input, a picture it cannot write), with one line on
standard error. Needs numpy and soundfile; a few seconds at most.
"""
import argparse
import dataclasses
import itertools
import math
import sys

from tone_cli import COULD_NOT, Parser, program_name, run

PROG = program_name("compare_tone")
try:
    import numpy as np

    import tone_model
    import tone_trace
    from tone_file import read, with_samples
except ImportError as missing:
    print(f"{PROG}: needs python3-numpy and python3-soundfile ({missing})", file=sys.stderr)
    sys.exit(COULD_NOT)

# Judgement thresholds, each with its reason.
ROUNDING = 1.5  # an integer format's values may be off by its own rounding and the tone's by 1
FLOAT_ROUNDING = 1e-6  # a float format's values, relative to the largest: 32-bit floats hold 24 bits
NO_GAIN = 1e-3  # gains this close to 1 are not called scaling: 0.009 dB, below one 16-bit step at full scale
SILENT = 0.5  # stretches of less energy than this (squared 16-bit units) are silence: no correlation
PEAK_SCORE = 0.5  # correlation peaks below this are not tried: unrelated sounds score near 0
RESAMPLED_SCORE = 0.9  # a resampled tone correlates above this with the tone moved to its rate
RESAMPLER_DELAY = 2  # frames a resampled file may lag by
# Rates a file may have been resampled to, in samples a second.
COMMON_RATES = (8000, 11025, 16000, 22050, 24000, 32000, 48000, 88200, 96000, 176400, 192000)
FIRST_JUDGED = 2  # frames every trial of another constant is judged by, side by side
PREFIX = 32  # frames the trials that agree on those are judged by next
CORRELATION_BLOCK = 1 << 20  # lags cross-correlated at once, to bound memory
# The tone nearly repeats every 512 samples, so the true lag need not be the
# best-correlated one: this many of the best peaks are tried.
PEAKS = 64
DEPARTED = 0.5  # a share of differing samples from the first on that is one departure, not slips
AROUND = 8  # samples traced either side of the first difference
MOST_INTERLEAVED = 8  # interleaved channels looked for in a raw file
MOST_CHANNELS_JUDGED = 4  # channels judged one by one; the others are only compared
# Constants searched, one at a time with the tone's own for the others, and
# both ratios at once: their names, and a row of values a trial.
RATIOS = np.arange(0, 257)
RATIO_PAIRS = np.stack(np.meshgrid(RATIOS, RATIOS, indexing="ij"), -1).reshape(-1, 2)
SEARCHED = ((("freq",), np.arange(1, 1 << 17)[:, None]), (("op1_ratio",), RATIOS[:, None]),
            (("op2_ratio",), RATIOS[:, None]), (("op1_ratio", "op2_ratio"), RATIO_PAIRS))
# The ways a port goes wrong inside the synthesis, searched as structure: a
# Variant's fields, and the words that name them in the program's terms.
WIDTHS = ((16, False, "16 bits"), (16, True, "16 bits, unsigned"))  # wider ones keep bits 10 to 19 whole
PORT_SLIPS = (
    (dict(weight=None), "the modulator's value left out as it enters the carrier's accumulator, "
                        "not added whole"),
    *((dict(weight=bits), f"the modulator's value shifted {'right' if bits > 0 else 'left'} by {abs(bits)} "
       f"({'/' if bits > 0 else 'x'} {2 ** abs(bits)}) as it enters the carrier's accumulator, "
       f"not added whole")
      for bits in (*range(-12, 0), *range(1, 16))),
    *((dict(mirror_bit=mirror, negative_bit=sign), f"lookup_sin testing bit {mirror} to mirror the index and "
       f"bit {sign} for the sign, not bits 8 and 9") for mirror in range(6, 12) for sign in range(6, 12)
      if mirror != sign and (mirror, sign) != (8, 9)),
    *((dict(fraction_bits=bits), f"each accumulator shifted right by {bits}, not 10, to its lookup phase")
      for bits in (8, 9, 11, 12, 16)),
    (dict(table_divisor=255.0), "sin_table spanning 0 to pi/2 inclusive (i / 255.0), not i / 256.0"),
    *((dict(table_scale=scale), f"sin_table scaled by {scale:g}, not 32767")
      for scale in (32768.0, 32000.0, 16384.0, 16383.0)),
    *((dict(op1_width=(bits, unsigned)), f"op1_phase kept in {words}") for bits, unsigned, words in WIDTHS),
    *((dict(op2_width=(bits, unsigned)), f"op2_phase kept in {words}") for bits, unsigned, words in WIDTHS),
    *((dict(sum_width=(bits, unsigned)), f"the sum op2_val + op1_freq kept in {words}")
      for bits, unsigned, words in WIDTHS),
    (dict(val_width=(16, True)), "op2_val kept unsigned: a negative value enters the carrier as 65,536 more"),
    (dict(val_width=(8, False)), "op2_val kept in 8 bits"),
    (dict(table_width=(8, False)), "sin_table's entries kept in 8 bits"),
    (dict(full_cycle=True), "the sine of the whole cycle in 1024 steps (a table of 1024 entries, or sin() as "
                            "it runs), not a quarter-wave table of 256 mirrored and complemented"),
)
RAW_FORMATS = (("<i4", 0, "32-bit integer"), ("<f4", 0, "32-bit float"), ("<f8", 0, "64-bit float"),
               ("i1", 0, "8-bit signed"), ("u1", 128, "8-bit unsigned"),
               ("<u2", 32768, "unsigned 16-bit (offset binary)"), (">i2", 0, "big-endian 16-bit"))


@dataclasses.dataclass
class Case:
    """One channel of a candidate against the reference: their values, the
    reference's name and rate, whether the model made the reference (so that
    it can explain it), and the raw bytes of a raw candidate."""

    values: np.ndarray
    reference: np.ndarray
    name: str = "the tone"
    rate: int = tone_model.sample_rate
    modelled: bool = True
    data: bytes | None = None

    def at(self, frame):
        """A frame's place: its index and its time."""
        return f"sample {frame:,} ({frame * 1000 / self.rate:,.3f} ms)"

    def span(self, count):
        """A number of frames and the time they take."""
        return f"{count_words(count)} ({count * 1000 / self.rate:,.3f} ms)"

    def same_length(self):
        return len(self.values) == len(self.reference)


def gain_of(x, reference, integers=True):
    """The constant that x is reference times, to within x's rounding; None if none."""
    x, reference = np.asarray(x, dtype=np.float64), np.asarray(reference, dtype=np.float64)
    if not np.any(reference) or not np.isfinite(x).all():
        return None
    gain = float(np.dot(x, reference) / np.dot(reference, reference))
    tolerance = ROUNDING if integers else FLOAT_ROUNDING * float(np.abs(x).max())
    tried = [gain]
    if gain:  # a power of two where it fits as well (8 bits: / 256)
        tried.insert(0, math.copysign(2.0 ** round(math.log2(abs(gain))), gain))
    for each in tried:
        large_enough = abs(each) * np.abs(reference).max() > 2 * tolerance
        if large_enough and np.abs(x - each * reference).max() <= tolerance:
            return each
    return None


def times_words(gain):
    if abs(gain) >= 1:
        return f"x {gain:,.6g}"
    return f"/ {1 / gain:,.6g}"


# The checks. Each takes a Case whose values differ from its reference and
# gives the lines that explain how, or [] where it explains nothing.

def not_numbers(case):
    bad = int(np.count_nonzero(~np.isfinite(case.values)))
    if not bad:
        return []
    first = int(np.flatnonzero(~np.isfinite(case.values))[0])
    return [f"{bad:,} of its {len(case.values):,} values are not numbers (NaN or infinite), the first at "
            f"{case.at(first)}"]


def silent(case):
    if np.any(case.values):
        return []
    return [f"silence: every one of its {case.span(len(case.values))} is 0"]


def interleaved(case):
    """A raw file whose samples are interleaved channels, one or more of them
    the tone and the others silent (else the bytes may be another format)."""
    n = len(case.reference)
    for count in range(2, MOST_INTERLEAVED + 1):
        if case.data is None or len(case.values) != count * n:
            continue
        channels = case.values.reshape(n, count).T
        holding = [k for k in range(count) if np.array_equal(channels[k], case.reference)]
        silence = [channel_name(k, count) for k in range(count) if not channels[k].any()]
        if not holding or len(holding) + len(silence) < count:
            continue
        if len(holding) == count:
            return [f"{case.name} in {count} interleaved channels, each sample {count} times: "
                    f"{count} channels, not mono"]
        named = ", ".join(channel_name(k, count) for k in holding)
        return [f"{case.name} in {named} of {count} interleaved channels; silent: {', '.join(silence)}: "
                f"{count} channels, not mono"]
    return []


def channel_name(k, count):
    """Channel k (from 0) of count, as a listener calls it."""
    side = {0: " (left)", 1: " (right)"}.get(k, "") if count == 2 else ""
    return f"channel {k + 1}{side}"


def raw_format(case):
    """A raw file of another sample format that holds the tone's values."""
    if case.data is None:
        return []
    for dtype, offset, words in RAW_FORMATS:
        if len(case.data) != np.dtype(dtype).itemsize * len(case.reference):
            continue
        with np.errstate(invalid="ignore"):  # NaN bytes, as floats
            x = np.frombuffer(case.data, dtype).astype(np.float64) - offset
        gain = gain_of(x, case.reference, np.dtype(dtype).kind != "f")
        if gain is not None and dtype == ">i2" and gain == 1:
            return ["the byte order is swapped: each sample's high byte comes first"]
        if gain is not None:
            return [f"raw {words} samples, not signed 16-bit: {case.name}'s values {times_words(gain)}"]
    return []


def bytes_otherwise(case):
    """A raw file whose bytes are the tone's, written as text or one byte a sample."""
    if case.data is None or not np.all(np.abs(case.reference) < 1 << 15):
        return []
    tone = np.asarray(case.reference, dtype="<i2").tobytes()
    expanded = tone.decode("latin-1").encode("utf-8")
    if case.data == expanded:
        return [f"{case.name}'s bytes expanded as UTF-8 text: each byte of 128 or more became two, "
                f"{len(expanded):,} bytes where {case.name} has {len(tone):,}; write bytes, not text"]
    if case.data == tone[0::2]:
        return [f"one byte a sample, the low byte of each: {len(tone) // 2:,} bytes where {case.name} has "
                f"{len(tone):,}"]
    return []


def made_with_mistakes(case):
    """The tone made with one or two of the common mistakes."""
    if not (case.modelled and case.same_length()):
        return []
    for count in (1, 2):
        for chosen in itertools.combinations(tone_model.MISTAKES, count):
            if np.array_equal(tone_model.render(tone_model.Variant(chosen)), case.values):
                return ["this is the tone made with " + " and ".join(tone_model.MISTAKES[m] for m in chosen)]
    return []


def made_with_constant(case):
    """The tone made with another freq or ratio: all trials are judged side by
    side on the first samples, those that agree on more, then in full."""
    if not (case.modelled and case.same_length()):
        return []
    for names, values in SEARCHED:
        own = [getattr(tone_model.TONE, name) for name in names]
        for count in (FIRST_JUDGED, PREFIX):
            columns = {name: values[:, [k]] for k, name in enumerate(names)}
            trials = dataclasses.replace(tone_model.TONE, **columns)
            values = values[(tone_model.render(trials, count) == case.values[:count]).all(axis=1)]
        for row in values.tolist():
            variant = dataclasses.replace(tone_model.TONE, **dict(zip(names, row)))
            if row != own and np.array_equal(tone_model.render(variant), case.values):
                made = " and ".join(f"{name} {value:,}" for name, value in zip(names, row))
                tone = " and ".join(f"{value:,}" for value in own)
                return [f"this is the tone made with {made}, not {tone}"]
    return []


def made_in_port(case):
    """The tone made with one of the slips a port makes inside the synthesis."""
    if not (case.modelled and case.same_length()):
        return []
    for fields, words in PORT_SLIPS:
        variant = dataclasses.replace(tone_model.TONE, **fields)
        if np.array_equal(tone_model.render(variant, PREFIX), case.values[:PREFIX]) and \
                np.array_equal(tone_model.render(variant), case.values):
            return [f"this is the tone made with {words}"]
    return []


def scaled(case):
    """The tone times a constant: flipped, louder or softer."""
    if not case.same_length():
        return []
    gain = gain_of(case.values, case.reference)
    if gain is None or abs(gain - 1) < NO_GAIN:
        return []
    if abs(gain + 1) < NO_GAIN:
        if np.array_equal(case.values, -case.reference):
            how = "each sample negated"
        elif np.array_equal(case.values, -1 - case.reference):
            how = "each sample complemented (-v - 1)"
        else:
            how = "each sample negated, give or take 1"
        return [f"{case.name} with its polarity flipped: {how}"]
    flipped = ", polarity flipped" if gain < 0 else ""
    return [f"{case.name} scaled by {gain:,.6g} ({20 * math.log10(abs(gain)):+.1f} dB){flipped}"]


def reversed_in_time(case):
    if case.same_length() and np.array_equal(case.values, case.reference[::-1]):
        return [f"{case.name} reversed in time"]
    return []


def repeated(case):
    """The tone back to back, every copy or most of them exact."""
    n = len(case.reference)
    times, rest = divmod(len(case.values), n)
    if times < 2 or rest:
        return []
    copies = (case.values.reshape(times, n) == case.reference).all(axis=1)
    if copies.all():
        return [f"{case.name} {times} times over, back to back"]
    if copies.sum() * 2 <= times:
        return []
    wrong = int(np.flatnonzero(~copies)[0])
    first = int(np.flatnonzero(case.values[wrong * n:(wrong + 1) * n] != case.reference)[0])
    return [f"{case.name} {times} times over, back to back, but {times - copies.sum():,} of the copies "
            f"differ: the first, copy {wrong + 1:,}, at its {case.at(first)}"]


def correlate(candidate, reference):
    """The best peaks of the normalised cross-correlation of candidate with
    reference, best first, as (score, lag): 1 for the same samples, lag where
    candidate[lag + k] meets reference[k] (negative where the candidate starts
    inside it). By FFT, a block of lags at a time, so memory stays bounded."""
    n = len(reference)
    reference = np.asarray(reference, dtype=np.float64)
    energy = float(np.dot(reference, reference))
    block = min(len(candidate) + n - 1, CORRELATION_BLOCK)
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
        score = np.where(window > SILENT, products / np.sqrt(np.maximum(window, SILENT) * energy), 0.0)
        peaks += [(float(score[j]), first + int(j)) for j in best_peaks(score)]
        peaks = sorted(peaks, reverse=True)[:PEAKS]
    return peaks


def best_peaks(score):
    """The indices of score's best local maxima above PEAK_SCORE."""
    if len(score) < 3:
        return [int(score.argmax())]
    inner = score[1:-1]
    tops = np.flatnonzero((inner > PEAK_SCORE) & (inner >= score[:-2]) & (inner >= score[2:])) + 1
    return tops[np.argsort(score[tops])[-PEAKS:]]


def shifted(case):
    """The tone delayed or advanced, perhaps cut short or with more after it."""
    values, reference, n = case.values, case.reference, len(case.reference)
    if not np.any(reference) or not np.isfinite(values).all():
        return []
    for _, lag in correlate(values, reference):
        start, skipped = max(lag, 0), max(-lag, 0)
        overlap = min(len(values) - start, n - skipped)
        if lag != 0 and overlap > 0 and np.array_equal(values[start:start + overlap],
                                                       reference[skipped:skipped + overlap]):
            return shift_words(case, lag, overlap)
    return []


def shift_words(case, lag, overlap):
    start, skipped = max(lag, 0), max(-lag, 0)
    if lag > 0:
        before = case.values[:lag]
        if not before.any():
            what = "silence"
        elif (before == before[0]).all():
            what = f"the value {before[0]}"
        else:
            what = "other samples"
        lines = [f"{case.name} delayed by {case.span(lag)}: {what} first"]
    else:
        lines = [f"{case.name} advanced by {case.span(-lag)}: it starts at {case.at(-lag)} of {case.name}"]
    if skipped + overlap < len(case.reference):
        lines.append(f"cut short: the last {case.span(len(case.reference) - skipped - overlap)} of "
                     f"{case.name} are missing")
    if start + overlap < len(case.values):
        lines.append(f"{case.span(len(case.values) - start - overlap)} more follow")
    return lines


def resampled(case):
    """The tone at another common rate, where the samples correlate with it so."""
    n, count = len(case.reference), len(case.values)
    for other in COMMON_RATES:
        if other == case.rate or abs(count - n * other / case.rate) >= 1:
            continue
        moved = np.interp(np.arange(count) * case.rate / other, np.arange(n), case.reference)
        values = np.asarray(case.values, dtype=np.float64)
        score = max(similarity(values[lag:], moved[:len(moved) - lag]) for lag in range(RESAMPLER_DELAY + 1))
        if score > RESAMPLED_SCORE:
            return [f"{case.name} resampled to {other:,} samples a second: {count:,} samples, "
                    f"{case.name} has {n:,}; they correlate by {score:.3f} at that rate"]
    return []


def similarity(a, b):
    """The normalised correlation of a and b at no lag (0 where either is silent)."""
    norms = np.linalg.norm(a) * np.linalg.norm(b)
    return float(np.dot(a, b) / norms) if norms else 0.0


# The order in which the checks are tried: the first that explains the
# difference answers. Values that are not samples at all, and silence, first;
# then the raw bytes read another way (channels, sample formats, text, one
# byte a sample), before the values are judged as samples; then the whole
# tone made otherwise (mistakes, constants, a port's slips in the modulator's
# weight, the lookup, the table and the widths), which needs the same
# length; then the tone transformed sample by sample (gain, reversal); then
# copies and shifts; the rate last, since a resampled length is also what a
# cut or a delay gives.
CHECKS = (not_numbers, silent, interleaved, raw_format, bytes_otherwise, made_with_mistakes,
          made_with_constant, made_in_port, scaled, reversed_in_time, repeated, shifted,
          resampled)


def diagnose(case):
    """The lines that say how case's values differ from its reference; [] if they do not."""
    if np.array_equal(case.values, case.reference):
        return []
    for check in CHECKS:
        lines = check(case)
        if lines:
            return lines
    return first_difference(case)


def first_difference(case):
    """The length, and the first differing sample with the tone's state there."""
    values, reference = case.values, case.reference
    lines, shared = [], min(len(values), len(reference))
    missing = len(reference) - len(values)
    if missing:
        lines.append(f"{case.span(abs(missing))} {'short' if missing > 0 else 'too long'}: "
                     f"{count_words(len(values))}, {case.name} has {len(reference):,}")
    differing = np.flatnonzero(values[:shared] != reference[:shared])
    if not len(differing):
        return lines + ["that sample agrees" if shared == 1 else f"the first {shared:,} samples agree"]
    first = int(differing[0])
    largest = np.abs(values[differing] - reference[differing]).max()
    lines.append(f"first difference at {case.at(first)}: {value_words(values[first])}, {case.name} has "
                 f"{value_words(reference[first])}; {len(differing):,} of {shared:,} samples differ, by "
                 f"{value_words(largest)} at most")
    lines += difference_kind(values[:shared], reference[:shared], differing)
    if case.modelled:
        state = {key: int(column[-1]) for key, column in tone_model.state(count=first + 1).items()}
        lines.append(state_words(first, state))
        lookup = state["op1_lookup"]
        if float(values[first]).is_integer():
            lines.append(f"{tone_trace.table_words(int(values[first]), lookup)}; the tone reads "
                         f"{tone_trace.lookup_words(lookup)}")
    return lines


def difference_kind(values, reference, differing):
    """What kind of difference it is: the set of the values, and isolated
    slips against one departure after which everything differs."""
    lines = []
    if set(np.unique(values).tolist()) <= {0, -1}:
        lines.append("its values are only 0 and -1: the lookup reads a table of zeros")
    elif np.abs(values).max() < 128:
        lines.append("its values all fit in 8 bits: a sample or table entry kept in 8 bits")
    steps = values[differing] - reference[differing]
    if (reference[differing] < 0).all() and (steps == -1).all():
        lines.append("every differing sample is a negative one, one low")
    elif (reference[differing] < 0).all() and (steps == 1).all():
        lines.append("every differing sample is a negative one, one high: -v where the tone has ~v = -v - 1")
    after = len(values) - int(differing[0])
    if len(differing) >= DEPARTED * after:
        lines.append(f"one departure: from sample {int(differing[0]):,} on, {len(differing):,} of the "
                     f"{after:,} samples differ")
    else:
        verb = "differs" if len(differing) == 1 else "differ"
        lines.append(f"isolated slips: {count_words(len(differing))} {verb} here and there, the rest agree")
    return lines


def count_words(count):
    return f"{count:,} sample{'' if count == 1 else 's'}"


def value_words(value):
    """A value as the file holds it: an integer as an integer, else to six figures."""
    if float(value).is_integer():
        return f"{int(value)}"
    return f"{value:.6g}"


def state_words(k, state):
    """The tone's state at sample k, in the program's names."""
    return (f"the tone's state at sample {k:,}: op2_phase {state['op2_phase']:,} (lookup phase "
            f"{state['op2_lookup']:,}), op2_val {state['op2_val']}; op1_phase {state['op1_phase']:,} "
            f"(lookup phase {state['op1_lookup']:,}), sin_table index {state['op1_idx']}, "
            f"sample {state['sample']}")


def judge(candidate, reference=None):
    """The lines that say how candidate (a Samples) differs from reference
    (a Samples; None for the model's tone); [] if it does not."""
    if reference is None:
        name, rate, ref_values = "the tone", tone_model.sample_rate, tone_model.render()[:, None]
    else:
        name, rate, ref_values = "the reference", reference.rate or tone_model.sample_rate, reference.values
    modelled = reference is None or np.array_equal(ref_values, tone_model.render()[:, None])
    lines = list(candidate.faults)
    if candidate.trace is not None and candidate.trace.named and reference is None:
        return lines + tone_trace.compare(candidate.trace)
    if candidate.rate not in (None, rate):  # the right samples at another rate play at another pitch
        lines.append(f"its header says {candidate.rate:,} samples a second; {name} is at {rate:,}")
    last = ref_values.shape[1] - 1
    cases = [Case(candidate.values[:, k], ref_values[:, min(k, last)], name, rate, modelled, candidate.data)
             for k in range(candidate.channels)]
    if candidate.channels == ref_values.shape[1] == 1:
        differences = diagnose(cases[0])
    else:
        differences = channel_lines(cases, ref_values.shape[1])
    if lines and not differences:
        differences = [f"its samples are {name}'s"]
    return lines + differences


def channel_lines(cases, reference_channels):
    """The lines for each channel of a candidate with several channels, or
    for one against a reference with several."""
    lines = []
    if len(cases) != reference_channels:
        lines.append(f"{len(cases):,} channel{'' if len(cases) == 1 else 's'}; {cases[0].name} has "
                     f"{reference_channels:,}")
    judged = 0
    for k, case in enumerate(cases):
        own = channel_name(k, len(cases))
        if reference_channels > 1:
            case.name = f"{case.name}'s {channel_name(min(k, reference_channels - 1), reference_channels)}"
        if np.array_equal(case.values, case.reference):
            if len(cases) != reference_channels:
                lines.append(f"{own}: {case.name}, exactly")
            continue
        if judged == MOST_CHANNELS_JUDGED:
            lines.append(f"{own} and those after it: not judged one by one (only {MOST_CHANNELS_JUDGED} are)")
            break
        judged += 1
        lines += [f"{own}: {line}" for line in diagnose(case)]
    return lines


def print_trace(first, stop, yours=None):
    """The tone's state for samples first to stop - 1, and yours beside it,
    marked * where they differ."""
    state = tone_model.state(count=stop)
    columns = [(key, max(len(key), 6) + 1) for key in tone_model.STATE]
    mine = "  yours" if yours is not None else ""
    print(f"{'i':>5}" + "".join(f"{key:>{width}}" for key, width in columns) + mine)
    for k in range(first, stop):
        row = f"{k:>5}" + "".join(f"{int(state[key][k]):>{width}}" for key, width in columns)
        if yours is not None and k < len(yours):
            mark = "" if yours[k] == state["sample"][k] else "  *"
            row += f"{value_words(yours[k]):>7}{mark}"
        print(row)


def trace_span(text):
    """--trace's samples: N (the first N), FIRST:STOP (FIRST to STOP - 1) or
    around (a few either side of the first difference), as (first, stop), or None for around."""
    if text == "around":
        return None
    first, _, stop = text.rpartition(":")
    first = first or "0"
    if not (first.isdigit() and stop.isdigit() and 0 <= int(first) < int(stop) <= tone_model.sample_count):
        raise argparse.ArgumentTypeError(f"N (1 to {tone_model.sample_count:,}), FIRST:STOP or around, "
                                         f"not {text!r}")
    return int(first), int(stop)


def parse_arguments(argv):
    parser = Parser(
        prog=PROG, description="Tell whether CANDIDATE (any file libsndfile reads, else raw signed 16-bit "
        "little-endian mono; - for standard input) holds audiosim's tone and, if not, why.",
        epilog=__doc__.split("\n\n", 1)[1])
    parser.add_argument("candidate", nargs="?", help="the file to check")
    parser.add_argument("--reference", metavar="FILE",
                        help="the tone to compare with (default: this tool's own model of it)")
    parser.add_argument("--trace", metavar="N", type=trace_span, default=False,
                        help=f"print the tone's state, in audiosim's names, for its first N samples (1 to "
                        f"{tone_model.sample_count:,}), for samples FIRST:STOP, or around the first "
                        f"difference; with a CANDIDATE, its samples beside the tone's, marked * where they "
                        f"differ")
    parser.add_argument("--plot", metavar="PICTURE",
                        help="draw the candidate over the reference around the first difference, and their "
                        "difference (needs matplotlib; the name's ending picks the format)")
    args = parser.parse_args(argv)
    if args.candidate is None and args.trace is None:
        parser.error("--trace around needs a CANDIDATE")
    if args.candidate is None and args.trace is False:
        parser.error("give a CANDIDATE, or --trace N")
    return args


def trace_beside(yours, span):
    """The trace over span, or around the first difference where span is None."""
    if span is None:
        tone = tone_model.render()
        shared = min(len(yours), len(tone))
        differing = np.flatnonzero(yours[:shared] != tone[:shared])
        if not len(differing):
            return
        first = int(differing[0])
        span = max(first - AROUND, 0), min(first + AROUND + 1, tone_model.sample_count)
    print_trace(*span, yours)


def print_verdict(path, candidate, reference, lines):
    name = "the reference" if reference else "the tone"
    if lines:
        print(f"{path}: differs from {name}")
        for line in lines:
            print(f"  {line}")
        return
    if candidate.trace is not None and candidate.trace.named and not reference:
        print(f"{path}: its {len(candidate.trace.index):,} rows agree with the tone's state")
        return
    held = "its samples are " if candidate.header else ""
    print(f"{path}: {held}identical to {name} ({len(candidate.values):,} samples)")
    if reference and reference.rate is not None and candidate.rate is None:  # a raw file plays at any rate
        print(f"  it records no rate; {name}'s header says {reference.rate:,} samples a second")


def main(argv=None):
    args = parse_arguments(argv)
    if args.plot:
        import plot_tone

        plot_tone.picture_format(args.plot)
    if args.candidate is None:
        print_trace(*args.trace)
        return 0
    candidate = read(args.candidate)
    reference = None
    if args.reference:
        reference = with_samples(read(args.reference), args.reference)
        with_samples(candidate, args.candidate)
    if candidate.header:
        print(f"{args.candidate}: read as {candidate.header}")
    lines = judge(candidate, reference)
    print_verdict(args.candidate, candidate, reference, lines)
    if args.trace is not False:
        trace_beside(candidate.values[:, 0], args.trace)
    if args.plot:
        name = "the reference" if reference else "the tone"
        ref_values = reference.values[:, 0] if reference else tone_model.render()
        lookup = None if reference else tone_model.state()["op1_lookup"]
        plot_tone.draw_difference(plot_tone.first_channel(candidate), ref_values,
                                  candidate.rate or tone_model.sample_rate, args.plot,
                                  f"{args.candidate} against {name}", lookup)
        print(f"{args.plot}: {args.candidate} over {name} around their first difference, and the difference")
    return 1 if lines else 0


if __name__ == "__main__":
    sys.exit(run(PROG, main))
