#!/usr/bin/python3
"""Tell whether a file holds audiosim's tone and, if not, why.

The candidate is raw signed 16-bit little-endian mono (as audiosim writes
result.bin) or a 16-bit mono WAV, which holds the tone only if its header
says 44,100 samples a second. The samples are compared first: the tone cut
short, written twice over or in two interleaved channels is named so; only
samples that are not the tone's own are judged by their length (one second
at another common rate: the tone resampled). The reference is --reference
FILE, or else this tool's own model of the algorithm, which can also render
the tone with the mistakes that implementers make. Exit status: 0 identical,
1 different (with a diagnosis in samples and milliseconds), 2 unreadable or
unusable input. Standard library only; a few seconds at most.
"""
import argparse
import itertools
import math
import struct
import sys

from tone_file import SAMPLE_RATE, ToneError, read_sample_bytes

PROG = "compare_tone"
SAMPLE_COUNT = 44100  # one second
FREQ = 10240  # base phase increment per sample; one cycle is 2**20 units
OP1_RATIO, OP2_RATIO = 16, 32  # carrier and modulator, in sixteenths of FREQ
MOST_SHIFT = 64  # samples a shifted copy is looked for at, either way
# Rates a file may have been resampled to, in samples a second.
COMMON_RATES = (8000, 11025, 16000, 22050, 24000, 32000, 48000, 88200, 96000, 176400, 192000)

MISTAKES = {
    "rounded": "the table rounded instead of truncated",
    "negated": "the negative half negated instead of complemented",
    "read_first": "each accumulator read before it is advanced",
    "previous_modulator": "the carrier taking the previous sample's modulator value",
    "lookup_argument": "the modulator added to the carrier's lookup argument for one sample, "
                       "not into its accumulator",
}


def render(mistakes=()):
    """The tone's samples, as audiosim renders them, or with the named mistakes."""
    scale = round if "rounded" in mistakes else int  # int() truncates toward zero
    table = [scale(math.sin(i / 256.0 * 1.5707963267948966) * 32767.0) for i in range(256)]

    def lookup_sin(phase):  # only bits 0 to 9 of phase count
        val = table[(~phase if phase & 0x100 else phase) & 0xFF]
        if phase & 0x200:
            return -val if "negated" in mistakes else ~val  # ~val is -val - 1
        return val

    op1_phase = op2_phase = previous = 0
    samples = []
    for _ in range(SAMPLE_COUNT):
        op2_read = op2_phase  # the modulator's accumulator before it is advanced
        op2_phase += OP2_RATIO * FREQ // 16
        op2_val = lookup_sin((op2_read if "read_first" in mistakes else op2_phase) >> 10)
        if "previous_modulator" in mistakes:
            op2_val, previous = previous, op2_val
        op1_read = op1_phase
        if "lookup_argument" in mistakes:
            op1_phase += OP1_RATIO * FREQ // 16
            argument = (op1_read if "read_first" in mistakes else op1_phase) + op2_val
        else:
            op1_phase += op2_val + OP1_RATIO * FREQ // 16
            argument = op1_read if "read_first" in mistakes else op1_phase
        samples.append(lookup_sin(argument >> 10))
    return samples


def samples_of(data):
    return list(struct.unpack(f"<{len(data) // 2}h", data))


def at(index):
    """A sample's place: its index and its time in milliseconds."""
    return f"sample {index:,} ({index * 1000 / SAMPLE_RATE:.3f} ms)"


def span(count):
    """A number of samples and the time they take."""
    return f"{count:,} sample{'' if count == 1 else 's'} ({count * 1000 / SAMPLE_RATE:.3f} ms)"


def diagnose(candidate, reference, modelled, name="the tone", rate=SAMPLE_RATE):
    """The lines that say how candidate differs from reference (called name,
    at rate samples a second); [] if it does not. The samples are looked at
    first: only a file that is not the reference's own samples rearranged is
    judged by its length."""
    if candidate == reference:
        return []
    if len(candidate) == len(reference):
        swapped = samples_of(struct.pack(f">{len(candidate)}h", *candidate))
        if swapped == reference:
            return ["the byte order is swapped: each sample's high byte comes first"]
        if modelled:
            for count in (1, 2):
                for chosen in itertools.combinations(MISTAKES, count):
                    if render(chosen) == candidate:
                        return ["this is the tone made with " + " and ".join(MISTAKES[m] for m in chosen)]
    times, rest = divmod(len(candidate), len(reference))
    if times > 1 and rest == 0 and candidate == reference * times:
        return [f"{name} {times} times over, back to back"]
    if times == 2 and rest == 0:
        channels = [side for side, first in (("left", 0), ("right", 1)) if candidate[first::2] == reference]
        if len(channels) == 2:
            return [f"{name} in two interleaved channels, each sample twice: stereo, not mono"]
        if channels:
            return [f"{name} in the {channels[0]} of two interleaved channels: stereo, not mono"]
    for shift in range(1, MOST_SHIFT + 1):
        for late, early, word in ((candidate, reference, "later"), (reference, candidate, "earlier")):
            overlap = min(len(late) - shift, len(early))
            if overlap > MOST_SHIFT and late[shift:shift + overlap] == early[:overlap]:
                return [f"shifted {span(shift)} {word} than {name}"]
    shared = min(len(candidate), len(reference))
    differing = [k for k in range(shared) if candidate[k] != reference[k]]
    if differing:  # not a part of the reference: its length may tell the rate it was made at
        for other in COMMON_RATES:
            if other != rate and len(candidate) == round(len(reference) * other / rate):
                return [f"{len(candidate):,} samples, {name} has {len(reference):,}: the length of {name} "
                        f"resampled to {other:,} samples a second"]
    lines = []
    if len(candidate) != len(reference):
        missing = len(reference) - len(candidate)
        lines.append(f"{span(abs(missing))} {'short' if missing > 0 else 'too long'}: "
                     f"{len(candidate):,} samples, {name} has {len(reference):,}")
    if differing:
        first = differing[0]
        largest = max(abs(candidate[k] - reference[k]) for k in differing)
        lines.append(f"first difference at {at(first)}: {candidate[first]}, {name} has "
                     f"{reference[first]}; {len(differing):,} of {shared:,} samples differ, "
                     f"by {largest} at most")
    else:
        lines.append(f"the first {shared:,} samples agree")
    return lines


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog=PROG, description="Tell whether CANDIDATE (raw signed 16-bit little-endian mono, or a "
        "16-bit mono WAV) holds audiosim's tone and, if not, why.")
    parser.add_argument("candidate", help="the file to check")
    parser.add_argument("--reference", metavar="FILE",
                        help="the tone to compare with (default: this tool's own model of it)")
    args = parser.parse_args(argv)
    name = "the reference" if args.reference else "the tone"
    try:
        data, header_rate = read_sample_bytes(args.candidate)
        candidate = samples_of(data)
        model, rate, reference_rate = render(), SAMPLE_RATE, None
        if args.reference:
            data, reference_rate = read_sample_bytes(args.reference)
            reference, rate = samples_of(data), reference_rate or SAMPLE_RATE
        else:
            reference = model
    except ToneError as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        return 2
    lines = diagnose(candidate, reference, reference == model, name, rate)
    if header_rate not in (None, rate):  # the right samples at another rate play at another pitch
        lines = [f"its header says {header_rate:,} samples a second; {name} is at {rate:,}",
                 *(lines or [f"its samples are {name}'s"])]
    if not lines:
        print(f"{args.candidate}: identical to {name} ({len(candidate):,} samples)")
        if reference_rate is not None and header_rate is None:  # a raw file plays at whatever rate it is given
            print(f"  it records no rate; {name}'s header says {reference_rate:,} samples a second")
        return 0
    print(f"{args.candidate}: differs from {name}")
    for line in lines:
        print(f"  {line}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
