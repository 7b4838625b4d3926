"""audiosim's tone as a model, in the program's names: the quarter-wave
sine table, lookup_sin, the render loop with its state per sample, and the
variants of it that a port may make by mistake. Vectorised with numpy: a
variant's constants may be arrays, one rendered row each.
"""
import dataclasses
import functools

import numpy as np

sample_count = 44100  # one second
sample_rate = 44100  # samples a second
ratio_unit = 16  # ratios are in sixteenths of freq
phase_fraction_bits = 10  # accumulator bits below the 10-bit lookup phase
phase_units_per_cycle = 1 << 20  # accumulator units in one sine cycle
mirror_bit = 8  # lookup phase bit set where a quarter reads the table backwards
negative_bit = 9  # lookup phase bit set in the negative half-wave
sin_table_size = 256
sin_scale = 32767.0
quarter_cycle_radians = 1.5707963267948966


@functools.lru_cache(maxsize=16)
def table_of(scale, divisor, rounded):
    """A quarter-wave table: audiosim's, or one a port builds otherwise; divided
    first, then scaled, as audiosim does."""
    sines = np.sin(np.arange(sin_table_size) / divisor * quarter_cycle_radians) * scale
    return (np.round(sines) if rounded else np.trunc(sines)).astype(np.int64)


def wrapped(values, width):
    """values kept in width = (bits, unsigned), as a port's narrower variable keeps them."""
    if width is None:
        return values
    bits, unsigned = width
    kept = values % (1 << bits)
    if unsigned:
        return kept
    return np.where(kept >= 1 << (bits - 1), kept - (1 << bits), kept)


sin_table = table_of(sin_scale, float(sin_table_size), False)  # truncated toward zero

# The mistakes a variant may make, in the words that name them.
MISTAKES = {
    "rounded": "the table rounded instead of truncated",
    "negated": "the negative half negated instead of complemented",
    "read_first": "each accumulator read before it is advanced",
    "previous_modulator": "the carrier taking the previous sample's modulator value",
    "lookup_argument": "the modulator added to the carrier's lookup argument for one sample, "
                       "not into its accumulator",
    "assigned": "op1_phase assigned (=) each sample, not accumulated (+=)",
}

# The per-sample values of the render loop, in the order it computes them:
# each accumulator, its lookup phase (the accumulator >> 10), that phase's
# bit 8 (mirror) and bit 9 (negative half), the table index its lookup reads,
# and the lookup's result (the carrier's is the sample).
STATE = ("op2_phase", "op2_lookup", "op2_b8", "op2_b9", "op2_idx", "op2_val",
         "op1_phase", "op1_lookup", "op1_b8", "op1_b9", "op1_idx", "sample")


@dataclasses.dataclass(frozen=True)
class Variant:
    """How a tone is made: audiosim's constants, or others, and mistakes
    (names from MISTAKES). weight is the right shift of the modulator's value
    as it enters the carrier's accumulator (negative: a left shift; None: left
    out). A misspelt mistake is a ValueError."""

    mistakes: frozenset = frozenset()
    freq: object = 10240  # base phase increment per sample
    op1_ratio: object = 16  # the carrier's frequency, in sixteenths of freq
    op2_ratio: object = 32  # the modulator's
    weight: int | None = 0
    mirror_bit: int = mirror_bit  # the lookup phase's bit that mirrors the table index
    negative_bit: int = negative_bit  # and the one that complements the value
    fraction_bits: int = phase_fraction_bits  # the shift from accumulator to lookup phase
    table_scale: float = sin_scale
    table_divisor: float = float(sin_table_size)  # entry i is the sine of i / table_divisor of a quarter
    table_width: tuple | None = None  # sin_table's entries kept narrower than 16 bits
    full_cycle: bool = False  # a 1024-entry table of the whole cycle, read directly
    # Widths as (bits, unsigned) where a port keeps a value narrower than
    # the tone needs: each accumulator, the sum that enters the carrier, and
    # the modulator's value as it is kept. None: wide enough.
    op1_width: tuple | None = None
    op2_width: tuple | None = None
    sum_width: tuple | None = None
    val_width: tuple | None = None

    def __post_init__(self):
        object.__setattr__(self, "mistakes", frozenset(self.mistakes))
        unknown = self.mistakes - MISTAKES.keys()
        if unknown:
            raise ValueError(f"no such mistake: {', '.join(sorted(unknown))}")
        if self.weight is not None and not isinstance(self.weight, int):
            raise ValueError(f"weight must be a whole number of bits or None, not {self.weight!r}")

    def made(self, mistake):
        return mistake in self.mistakes


TONE = Variant()
operator_hz = {"carrier": TONE.freq * TONE.op1_ratio / ratio_unit * sample_rate / phase_units_per_cycle,
               "modulator": TONE.freq * TONE.op2_ratio / ratio_unit * sample_rate / phase_units_per_cycle}


def lookup_sin(phase, table=sin_table, negated=False, mirror=mirror_bit, sign=negative_bit):
    """The sine of each lookup phase (only bits 0 to 9 count), and the table index read; a port
    may test other bits (mirror, sign) or negate the negative half."""
    mirrored = (phase >> mirror) & 1 == 1
    idx = np.where(mirrored, ~phase, phase) & 0xFF
    val = table[idx]
    negative = (phase >> sign) & 1 == 1
    if negated:
        return np.where(negative, -val, val), idx
    return np.where(negative, ~val, val), idx  # ~val is -val - 1


def full_cycle_lookup(phase):
    """A port's lookup in a 1024-entry table of the whole sine cycle, and the index read."""
    idx = phase & 0x3FF
    return np.trunc(np.sin(idx / 1024.0 * 4 * quarter_cycle_radians) * sin_scale).astype(np.int64), idx


def entering(op2_val, weight):
    """The modulator's value as it enters the carrier's accumulator."""
    if weight is None:
        return 0 * op2_val
    if weight >= 0:
        return op2_val >> weight
    return op2_val << -weight


def state(variant=TONE, count=sample_count):
    """The values of STATE for the first count samples of variant."""
    table = wrapped(table_of(variant.table_scale, variant.table_divisor, variant.made("rounded")),
                    variant.table_width)
    look = functools.partial(lookup_sin, table=table, negated=variant.made("negated"),
                             mirror=variant.mirror_bit, sign=variant.negative_bit)
    if variant.full_cycle:
        look = full_cycle_lookup
    shift, read_first = variant.fraction_bits, variant.made("read_first")
    k = np.arange(1, count + 1, dtype=np.int64)
    op2_freq = variant.op2_ratio * variant.freq // ratio_unit
    op1_freq = variant.op1_ratio * variant.freq // ratio_unit
    op2_phase = wrapped(k * op2_freq, variant.op2_width)
    looked_up = op2_phase - op2_freq if read_first else op2_phase
    op2_val, op2_idx = look(looked_up >> shift)
    op2_val = wrapped(op2_val, variant.val_width)
    if variant.made("previous_modulator"):
        op2_val = np.concatenate((np.zeros_like(op2_val[..., :1]), op2_val[..., :-1]), axis=-1)
    added = entering(op2_val, variant.weight)
    if variant.made("lookup_argument"):
        op1_phase = k * op1_freq
        argument = op1_phase - (op1_freq if read_first else 0) + added
    else:
        steps = wrapped(added + op1_freq, variant.sum_width)
        op1_phase = steps if variant.made("assigned") else np.cumsum(steps, axis=-1)
        op1_phase = wrapped(op1_phase, variant.op1_width)
        argument = op1_phase - steps if read_first else op1_phase
    sample, idx = look(argument >> shift)
    op2_lookup, op1_lookup = op2_phase >> shift, op1_phase >> shift
    op2_bits = (op2_lookup >> mirror_bit & 1, op2_lookup >> negative_bit & 1)
    op1_bits = (op1_lookup >> mirror_bit & 1, op1_lookup >> negative_bit & 1)
    values = (op2_phase, op2_lookup, *op2_bits, op2_idx, op2_val,
              op1_phase, op1_lookup, *op1_bits, idx, sample)
    return dict(zip(STATE, values))


def render(variant=TONE, count=sample_count):
    """The first count samples of variant (audiosim's tone by default)."""
    return state(variant, count)["sample"]
