"""A porter's own trace of the tone, read and compared with the model's state:
a first line of column names (those that compare_tone --trace prints), then a
row of numbers a sample, separated by spaces, tabs or commas. The first value
that departs is named, the tone's value explained from those before it, and
the porter's value matched with the slips that give it.
"""
import dataclasses
import math
import re

import numpy as np

import tone_model
from tone_cli import ToneError

SEPARATORS = re.compile(r"[\s,;]+")
TEXT = re.compile(rb"[\x20-\x7e\t\r\n]+")  # printable ASCII and line ends only
# Column names as a trace may write them, and the state each one is.
ALIASES = {**{name: name for name in tone_model.STATE}, "idx": "op1_idx", "op1_val": "sample"}
ACCUMULATORS = ("op2_phase", "op1_phase")


@dataclasses.dataclass
class Trace:
    """The columns of a trace by state name, the sample each row is, and
    whether a header line named them (a bare column of numbers is samples)."""

    columns: dict
    index: np.ndarray
    named: bool = True
    ignored: tuple = ()


def is_text(data):
    """Whether data reads as lines of text: printable ASCII in two lines or more (a raw
    sample such as 2610 is the bytes "2\\n" too)."""
    return TEXT.fullmatch(data) is not None and len(data.split()) > 1


def number(token, path, line):
    try:
        return int(token)
    except ValueError:
        pass
    try:
        return float(token)
    except ValueError:
        raise ToneError(f"{path}: line {line}: {token!r} is not a number") from None


def read(data, path):
    """The Trace in data, a text file; ToneError where it is not one."""
    text = data.decode("ascii").splitlines()
    lines = [(k + 1, SEPARATORS.split(line.strip())) for k, line in enumerate(text) if line.strip()]
    first = lines[0][1]
    named = not all(re.fullmatch(r"[-+.\deE]+", token) for token in first)
    if named:
        lines = lines[1:]
    elif len(first) != 1:
        raise ToneError(f"{path}: text of {len(first)} numbers a line and no line of column names; a trace "
                        f"starts with one (see --trace)")
    names = first if named else ["sample"]
    rows = [[number(token, path, k) for token in tokens] for k, tokens in lines[:tone_model.sample_count]]
    for (k, tokens), row in zip(lines, rows):
        if len(row) != len(names):
            raise ToneError(f"{path}: line {k}: {len(row)} values, but the first line names {len(names)}")
    known = {ALIASES[name]: k for k, name in enumerate(names) if name in ALIASES}
    if not known:
        raise ToneError(f"{path}: text whose first line names none of the trace's columns "
                        f"({', '.join(tone_model.STATE)})")
    columns = {key: [row[k] for row in rows] for key, k in known.items()}
    index = np.arange(len(rows))
    if "i" in names:
        index = np.array([row[names.index("i")] for row in rows])
        if index.dtype.kind != "i":
            raise ToneError(f"{path}: its column i holds other than whole sample numbers")
    ignored = tuple(name for name in names if name not in ALIASES and name != "i")
    return Trace(columns, index, named, ignored)


def compare(trace):
    """The lines that say where trace departs from the tone's state; [] where it does not."""
    if len(trace.index) and not (np.all(trace.index >= 0) and np.all(trace.index < tone_model.sample_count)):
        return [f"its column i runs outside the tone's samples, 0 to {tone_model.sample_count - 1:,}"]
    state = tone_model.state(count=tone_model.sample_count)
    order = [key for key in tone_model.STATE if key in trace.columns]
    departs = np.zeros(len(trace.index), dtype=bool)
    for key in order:
        departs |= np.array([c != r for c, r in zip(trace.columns[key], state[key][trace.index].tolist())])
    if not departs.any():
        return []
    row = int(np.flatnonzero(departs)[0])
    i = int(trace.index[row])
    key = next(key for key in order if trace.columns[key][row] != state[key][i])
    yours, tone = trace.columns[key][row], int(state[key][i])
    lines = [f"first difference at sample {i:,}, in {key}: yours is {yours}, the tone's is {tone}"
             f" ({int(departs.sum()):,} of {len(departs):,} rows differ)"]
    lines.append(f"the tone's {key} = {explain(key, i, state)}")
    return lines + slips(key, yours, i, state)


def previous(state, key, i):
    return int(state[key][i - 1]) if i else 0


def explain(key, i, state):
    """How the render loop makes the tone's value of key at sample i."""
    value = int(state[key][i])
    if key == "op2_phase":
        step = int(state["op2_phase"][0])
        return f"the previous op2_phase + op2_freq = {previous(state, key, i):,} + {step:,} = {value:,}"
    if key == "op1_phase":
        step = value - previous(state, key, i) - int(state["op2_val"][i])
        return (f"the previous op1_phase + op2_val + op1_freq = {previous(state, key, i):,} + "
                f"{int(state['op2_val'][i])} + {step:,} = {value:,}")
    operator = "op2" if key.startswith("op2") else "op1"
    if key.endswith("_lookup"):
        return f"{operator}_phase >> 10 = {int(state[operator + '_phase'][i]):,} >> 10 = {value:,}"
    lookup = int(state[operator + "_lookup"][i])
    if key[-3:] in ("_b8", "_b9"):
        return f"bit {key[-1]} of {operator}_lookup {lookup:,} (binary {lookup & 0x3FF:010b}) = {value}"
    if key.endswith("_idx"):
        return lookup_words(lookup).split(";")[0]
    return f"lookup_sin({lookup:,}): {lookup_words(lookup)}"


def lookup_words(lookup):
    """How lookup_sin reads the table for a lookup phase: its bit 8 and bit 9 decisions."""
    phase = lookup & 0x3FF
    position = phase & 0xFF
    if phase >> tone_model.mirror_bit & 1:
        idx = 0xFF - position
        index = f"bit 8 set, so the index is mirrored: 255 - {position} = {idx}"
    else:
        idx = position
        index = f"bit 8 clear, so the index is {idx}"
    val = int(tone_model.sin_table[idx])
    if phase >> tone_model.negative_bit & 1:
        return f"{index}; sin_table[{idx}] = {val}; bit 9 set, so complemented: ~{val} = {~val}"
    return f"{index}; sin_table[{idx}] = {val}; bit 9 clear, so {val} as it is"


def slips(key, yours, i, state):
    """The known slips that turn the tone's value of key at sample i into yours."""
    tone = int(state[key][i])
    if not math.isfinite(yours):
        return ["yours is not a number (NaN or infinite): the tone's every value is a whole number"]
    if not float(yours).is_integer():
        return ["yours is a fraction: the tone's every value is a whole number (integer arithmetic)"]
    yours = int(yours)
    found = []
    if yours == wrapped(tone, 16) != tone:
        found.append("the tone's value wrapped at 16 bits: your variable is 16 bits wide")
    if yours == wrapped(tone, 32) != tone:
        found.append("the tone's value wrapped at 32 bits: your variable is 32 bits wide")
    if tone < 0 and yours in (tone + (1 << 16), tone + (1 << 32), tone + (1 << 64)):
        found.append(f"the unsigned reading of the tone's {tone}: your variable or its printing is unsigned")
    if key in ACCUMULATORS and i and yours == tone - previous(state, key, i):
        found.append(f"this sample's step alone: {key} is assigned, not accumulated (+=)")
    if key in ACCUMULATORS and i and yours == previous(state, key, i):
        found.append(f"the previous sample's {key}: not advanced before it is read")
    if key in ("op2_val", "sample") and not found:
        lookup = int(state["op2_lookup" if key == "op2_val" else "op1_lookup"][i])
        found.append(table_words(yours, lookup))
    return found


def wrapped(value, bits):
    half = 1 << (bits - 1)
    return (value + half) % (1 << bits) - half


def table_words(value, lookup):
    """Which entry of sin_table gives value (as it is, complemented or negated),
    beside the entry that the tone reads at this lookup phase."""
    table = tone_model.sin_table
    for sign, words in ((1, "sin_table[{}]"), (-1, "-sin_table[{}] (negated)")):
        matches = np.flatnonzero(sign * table == value)
        if len(matches):
            entry = int(matches[0])
            return f"yours is {words.format(entry)}, {reading(entry, lookup)}"
    matches = np.flatnonzero(~table == value)
    if len(matches):
        entry = int(matches[0])
        return f"yours is ~sin_table[{entry}] (complemented), {reading(entry, lookup)}"
    near = int(np.abs(table - abs(value)).argmin())
    return (f"{value} is not a value of sin_table, its complement or negation: your table differs near "
            f"entry {near} (sin_table[{near}] = {int(table[near])})")


def reading(entry, lookup):
    """How an entry stands to this lookup phase's position: read forwards or mirrored."""
    position = lookup & 0xFF
    if entry == position == 0xFF - position:
        return "at this position"
    if entry == position:
        return "read forwards at this position"
    if entry == 0xFF - position:
        return "read backwards (mirrored) at this position"
    return f"another entry than this position's ({position}, or {0xFF - position} mirrored)"
