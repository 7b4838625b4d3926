"""The tools around audiosim: the checker's diagnoses (compare_tone.py, in
this process), both tools run as a user runs them, on good and hostile files,
the README's listening commands (against ALSA's null device), the install and
the Debian package.

Environment: AUDIOSIM_PROGRAM (the built program), CMAKE_COMMAND, CPACK_COMMAND
and BUILD_DIR (for the install and the package). Run one group by naming its
class.
"""
import concurrent.futures
import gzip
import io
import math
import os
import re
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COMPARE_TOOL = os.path.join(ROOT, "tools", "compare_tone.py")
sys.path.insert(0, os.path.join(ROOT, "tools"))
try:
    import numpy
    import soundfile
except ImportError:  # the groups Install and Package need neither
    pass
else:
    import compare_tone
    import plot_tone
    import tone_cli
    import tone_file
    import tone_model


def as_bytes(samples, dtype="<i2"):
    return numpy.asarray(samples).astype(dtype).tobytes()


def wav_bytes(frames, width=2, rate=44100):
    """A mono WAV file of frames, as Python's wave module writes it."""
    buffer = io.BytesIO()
    with wave.open(buffer, "wb") as wav:
        wav.setnchannels(1)
        wav.setsampwidth(width)
        wav.setframerate(rate)
        wav.writeframes(frames)
    return buffer.getvalue()


def readme_block(marker):
    """The text of the README's code block after <!-- check: marker -->."""
    with open(os.path.join(ROOT, "README.md")) as file:
        return re.search(f"<!-- check: {marker} -->\n```[a-z]*\n(.*?)```", file.read(), re.S).group(1)


PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_chunks(data):
    """The (type, body) chunks of a PNG; fails on a bad signature or chunk CRC."""
    assert data.startswith(PNG_SIGNATURE), "not a PNG signature"
    chunks, pos = [], len(PNG_SIGNATURE)
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert zlib.crc32(kind + body) == crc, f"bad CRC in chunk {kind!r}"
        chunks.append((kind, body))
        pos += 12 + length
    return chunks


class Folder(unittest.TestCase):
    """Each test runs in a fresh folder holding the program's result.bin."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="audiosim-tools-")
        self.addCleanup(shutil.rmtree, self.dir)
        subprocess.run([os.environ["AUDIOSIM_PROGRAM"]], cwd=self.dir, check=True)

    def run_here(self, command, **kwargs):
        return subprocess.run(command, cwd=self.dir, capture_output=True, text=True, **kwargs)

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as file:
            file.write(data)

    def tone(self):
        with open(os.path.join(self.dir, "result.bin"), "rb") as file:
            return file.read()


def own_tone(freq=10240, op1_ratio=16, op2_ratio=32, shift=0, rounded=False, negated=False, read_first=False,
             previous=False, in_argument=False, assigned=False, width=32, mirror=0x100, sign=0x200,
             entry=None, full=False, trace=None, shown=str):
    """The tone as a porter would write it, one sample at a time, with the slips named (shift: the
    modulator's value shifted right by that many bits; width: the carrier accumulator's bits; mirror and
    sign: the bits tested to read the table backwards and to complement; entry: (i, value) stored in the
    table; full: the sine of the whole cycle in 1024 steps), as raw bytes, or, with trace (the names of its
    columns), as the text of a trace of its first 60 samples, each value printed by shown: the tests' own,
    not the tools' model."""
    trim = round if rounded else math.trunc
    table = [trim(math.sin(i / 256.0 * 1.5707963267948966) * 32767.0) for i in range(256)]
    if entry:
        table[entry[0]] = entry[1]

    def lookup(phase):
        if full:
            return math.trunc(math.sin((phase & 1023) / 1024 * 2 * math.pi) * 32767.0)
        val = table[(~phase if phase & mirror else phase) & 0xFF]
        if phase & sign:
            return -val if negated else ~val
        return val

    op1_phase = op2_phase = previous_val = 0
    samples, rows = [], [" ".join(trace or ())]
    for _ in range(44100 if trace is None else 60):
        op2_freq, op1_freq = op2_ratio * freq // 16, op1_ratio * freq // 16
        op2_phase += op2_freq
        op2_val = lookup((op2_phase - op2_freq if read_first else op2_phase) >> 10)
        added = (previous_val if previous else op2_val) >> shift
        previous_val = op2_val
        if in_argument:
            argument = (len(samples) + 1 - read_first) * op1_freq + added
        else:
            op1_phase = (0 if assigned else op1_phase) + added + op1_freq
            op1_phase = (op1_phase + (1 << (width - 1))) % (1 << width) - (1 << (width - 1))
            argument = op1_phase - (added + op1_freq) * read_first
        values = dict(i=len(samples), op2_phase=op2_phase, op2_val=op2_val, op1_phase=op1_phase)
        samples.append(lookup(argument >> 10))
        rows.append(" ".join(shown(values.get(name, samples[-1])) for name in trace or ()))
    if trace:
        return "\n".join(rows).encode()
    return struct.pack(f"<{len(samples)}h", *samples)


TONE = own_tone()
PCM = numpy.frombuffer(TONE, "<i2").astype(numpy.int64) if "numpy" in sys.modules else None


def changed(data, at, xor):
    edited = bytearray(data)
    edited[at] ^= xor
    return bytes(edited)


def wav_fields(channels=1, rate=44100, byte_rate=88200, block=2, bits=16, data=TONE, size=None):
    """A WAV header of these fields, written by hand, and data."""
    fmt = struct.pack("<HHIIHH", 1, channels, rate, byte_rate, block, bits)
    body = b"WAVEfmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data) if size is None
                                                                             else size) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def frames_bytes(frames, format="WAV", rate=44100, subtype=None):
    """frames (16-bit values, a column a channel) as a file libsndfile writes."""
    buffer = io.BytesIO()
    soundfile.write(buffer, numpy.asarray(frames) / 32768, rate, subtype, format=format)
    return buffer.getvalue()


NAMES = ("i", "op2_phase", "op2_val", "op1_phase", "sample")


def npy_bytes(array):
    buffer = io.BytesIO()
    numpy.save(buffer, array)
    return buffer.getvalue()


def nearest(rate):
    """The tone resampled to rate by taking the nearest earlier sample."""
    return as_bytes(PCM[numpy.arange(rate) * 44100 // rate])


class Diagnoses(unittest.TestCase):
    """What compare_tone says of a file, judged in this process from its bytes."""

    def verdict(self, data, reference=None):
        try:
            candidate = tone_file.parse(data, "x")
            lines = compare_tone.judge(candidate, reference and tone_file.parse(reference, "reference"))
        except tone_cli.ToneError as error:
            return 2, str(error)
        return (1 if lines else 0), "\n".join([candidate.header or "raw", *lines])

    def test_rows(self):
        stereo = numpy.stack([PCM, PCM], axis=1)
        right = numpy.stack([0 * PCM, PCM], axis=1)
        other_right = numpy.stack([PCM, -PCM], axis=1)
        half = PCM[:22050].copy()
        half[100] += 5
        rows = [  # name, the candidate's bytes, the reference's (None: the tone), status, words
            ("raw", TONE, None, 0, "^raw$"),
            ("WAV", wav_bytes(TONE), None, 0, r"^WAV \(Microsoft\), Signed 16 bit PCM, 1 channel, 44,100"),
            ("WAVEX", frames_bytes(PCM, "WAVEX"), None, 0, "^WAVEX"),
            ("24-bit", frames_bytes(PCM, subtype="PCM_24"), None, 0, "24 bit PCM"),
            ("float", frames_bytes(PCM, subtype="FLOAT"), None, 0, "32 bit float"),
            ("FLAC", frames_bytes(PCM, "FLAC"), None, 0, "^FLAC"),
            ("AIFF", frames_bytes(PCM, "AIFF"), None, 0, "^AIFF"),
            ("damaged", b"RIFG" + wav_bytes(TONE)[4:], None, 2, "starts like a WAV header, but libsndfile"),
            ("cut AIFF", frames_bytes(PCM, "AIFF")[:20], None, 2, "starts like an AIFF header"),
            ("int32", as_bytes(PCM, "<i4"), None, 1, "raw 32-bit integer samples, not .* x 1$"),
            ("f32", as_bytes(PCM / 32768, "<f4"), None, 1, "raw 32-bit float samples.*values / 32,768$"),
            ("u8", as_bytes((PCM >> 8) + 128, "u1"), None, 1, "raw 8-bit unsigned samples.*values / 256$"),
            ("u16", as_bytes(PCM + 32768, "<u2"), None, 1, r"raw unsigned 16-bit \(offset binary\) samples"),
            ("swapped", as_bytes(PCM, ">i2"), None, 1, "byte order is swapped"),
            ("flipped", as_bytes(-PCM), None, 1, "the tone with its polarity flipped: each sample negated"),
            ("halved", as_bytes(PCM >> 1), None, 1, r"the tone scaled by 0.5 \(-6.0 dB\)"),
            ("reversed", as_bytes(PCM[::-1]), None, 1, "the tone reversed in time"),
            ("shifted", bytes(2) + TONE, None, 1, r"tone delayed by 1 sample \(0.023 ms\): silence"),
            ("late", bytes(2000) + TONE[:-2000], None, 1, r"delayed by 1,000 samples \(22.676 ms\)"
             r": silence first\ncut short: the last 1,000 samples"),
            ("early", TONE[1000:], None, 1, r"the tone advanced by 500 samples .*: it starts at sample 500 "),
            ("op2_ratio", own_tone(op2_ratio=48), None, 1, "made with op2_ratio 48, not 32"),
            ("freq", own_tone(freq=10000), None, 1, "made with freq 10,000, not 10,240"),
            ("ratios", own_tone(op1_ratio=24, op2_ratio=40), None, 1,
             "made with op1_ratio 24 and op2_ratio 40, not 16 and 32$"),
            ("weight", own_tone(shift=2), None, 1, r"modulator's value shifted right by 2 "),
            ("rounded", own_tone(rounded=True), None, 1, "made with the table rounded instead of truncated$"),
            ("negated", own_tone(negated=True), None, 1, "the negative half negated instead of comp"),
            ("read first", own_tone(read_first=True), None, 1, "each accumulator read before it is adv"),
            ("previous", own_tone(previous=True), None, 1, "the carrier taking the previous sample's"),
            ("argument", own_tone(in_argument=True), None, 1, "the modulator added to the carrier's look"),
            ("two mistakes", own_tone(rounded=True, negated=True), None, 1, "truncated and the neg"),
            ("noise", as_bytes(numpy.random.default_rng(1).integers(-32768, 32767, 48000)), None, 1,
             "too long.*\nfirst difference at sample 0"),
            ("silence", bytes(16000), None, 1, r"silence: every one of its 8,000 samples"),
            ("half changed", as_bytes(half), None, 1, r"short.*\n.*first difference at sample 100 "),
            ("one changed", changed(TONE, 20001, 0x40), None, 1, r"sample 10,000 \(226.757 ms\): -?\d+, the "
             r"tone has -?\d+; 1 of.*\nisolated slips: 1 sample differs.*\n"
             r"the tone's state at sample 10,000: op2_phase 204,820,480 \(lookup "
             r"phase 200,020\)"),
            ("odd", TONE[:-1], None, 1, r"88,199 bytes, an odd number.*\n1 sample \(0.023 ms\) short"),
            ("one sample", TONE[:2], None, 1, r"short: 1 sample, the tone has 44,100\nthat sample agrees"),
            ("48 kHz header", wav_bytes(TONE, rate=48000), None, 1, "header says 48,000 samples a second; "
             "the tone is at 44,100\nits samples are the tone's"),
            ("resampled", nearest(48000), None, 1, "resampled to 48,000 samples a second: 48,000"),
            ("twice", TONE * 2, None, 1, "the tone 2 times over, back to back"),
            ("interleaved", as_bytes(stereo.reshape(-1)), None, 1, "tone in 2 interleaved channels, each"),
            ("right of raw", as_bytes(right.reshape(-1)), None, 1, r"the tone in channel 2 \(right\) of 2 "
             r"interleaved channels; silent: channel 1 \(left\)"),
            ("half", TONE[:44100], None, 1, r"22,050 samples \(500.000 ms\) short.*\n.*first 22,050 samples"),
            ("5 channels", frames_bytes(numpy.repeat(PCM[:, None], 5, axis=1)), None, 1, "5 channels; the "
             "tone "
             "has 1\nchannel 1: the tone, exactly\n(.*\n){3}channel 5: the tone, exactly$"),
            ("right of WAV", frames_bytes(right), None, 1, r"channel 1 \(left\): silence.*\nchannel 2 "
             r"\(right\): the tone, exactly$"),
            ("NaN", frames_bytes([numpy.nan, 0.5, numpy.inf] * 10, subtype="FLOAT"), None, 1, "20 of its 30 "
             r"values are not numbers \(NaN or infinite\), the first at sample 0"),
            ("data size", wav_fields(size=2_000_000_000), None, 1, "its data chunk says 2,000,000,000 bytes, "
             "but 88,200 follow it\nits samples are the tone's"),
            ("byte rate", wav_fields(byte_rate=44100), None, 1, "byte rate is 44,100, but 44,100 frames a "
             "second of 2 bytes take 88,200"),
            ("block size", wav_fields(byte_rate=176400, block=4), None, 1, "block size is 4 bytes, but 1 "
             "channel of 16-bit samples take 2\n"),
            ("swapped bits", own_tone(mirror=0x200, sign=0x100), None, 1, "made with lookup_sin testing bit "
             "9 to mirror the index and bit 8 for the sign, not bits 8 and 9$"),
            ("16-bit carrier", own_tone(width=16), None, 1, "made with op1_phase kept in 16 bits$"),
            ("whole cycle", own_tone(full=True), None, 1, "made with the sine of the whole cycle in 1024 "),
            ("assigned carrier", own_tone(assigned=True), None, 1, r"op1_phase assigned \(=\) each sample"),
            ("carrier negated", as_bytes(numpy.where(PCM < 0, PCM + 1, PCM)), None, 1,
             r"every differing sample is a negative one, one high: -v where the tone has ~v = -v - 1\n"
             r"one departure: from sample 15 on"),
            ("trace agrees", own_tone(trace=NAMES), None, 0,
             "^a trace of 60 rows, columns op2_phase, op2_val, op1_phase, sample$"),
            ("trace of two", own_tone(trace=("sample", "op1_phase")).replace(b" ", b","), None, 0,
             "^a trace"),
            ("assigned", own_tone(assigned=True, trace=NAMES), None, 1,
             r"first difference at sample 1, in op1_phase: yours is 18201, the tone's is 32452 "
             r"\(59 of 60 rows differ\)\nthe tone's op1_phase = the previous op1_phase \+ op2_val \+ "
             r"op1_freq = 14,251 \+ 7961 \+ 10,240 = 32,452\n.*assigned, not accumulated"),
            ("16-bit accumulator", own_tone(width=16, trace=NAMES), None, 1,
             "in op1_phase: .*\n.*\nthe tone's value wrapped at 16 bits"),
            ("unsigned", own_tone(trace=NAMES, shown=lambda v: str(v % (1 << 64))), None, 1,
             "in sample: yours is 18446744073709547206, the tone's is -4410 .*\n.*\n"
             "the unsigned reading of the tone's -4410: your variable or its printing is unsigned$"),
            ("fraction", own_tone(trace=NAMES, shown=lambda v: f"{v}.25" if v > 99 else str(v)), None, 1,
             "in op2_phase: yours is 20480.25.*\n.*\nyours is a fraction"),
            ("mirror", own_tone(mirror=0), None, 1,
             r"yours is sin_table\[31\], read forwards at this position; the tone reads bit 8 set, "
             r"so the index is mirrored: 255 - 31 = 224"),
            ("table entry", own_tone(entry=(13, 2611)), None, 1,
             "2611 is not a value of sin_table, its complement or negation: your table differs near "
             "entry 13 "),
            ("text", "\n".join(map(str, PCM)).encode(), None, 1,
             r"^text, one number a line \(44,100 lines\)\nnumbers as text, not raw samples: the tone "
             r"is 88,200 bytes.*\nits samples are the tone's$"),
            ("npy", npy_bytes(PCM.astype(numpy.int16)), None, 1,
             r"^a NumPy .npy file, int16 \(44100,\)\na NumPy .npy file, not raw samples: a 128-byte "
             r"header"),
            ("UTF-8", TONE.decode("latin-1").encode("utf-8"), None, 1,
             "the tone's bytes expanded as UTF-8 text: each byte of 128 or more became two, 132,325 bytes"),
            ("byte a sample", TONE[0::2], None, 1, "one byte a sample, the low byte of each: 44,100 bytes"),
            ("columns unnamed", b"1 2\n3 4\n", None, 2, "text of 2 numbers a line and no line of column"),
            ("raw against 48k", TONE, wav_bytes(TONE, rate=48000), 0, "^raw$"),
            ("short against raw", TONE[:-2], TONE, 1, "1 sample .* short: 44,099 samples, the reference has"),
            ("mono against stereo", TONE, frames_bytes(stereo), 1, "1 channel; the reference has 2\n"
             r"channel 1: the reference's channel 1 \(left\), exactly$"),
            ("stereo against stereo", frames_bytes(other_right), frames_bytes(stereo), 1,
             r"^[^\n]*\nchannel 2 \(right\): the reference's channel 2 \(right\) with its polarity flipped: "
             "each sample negated$"),
        ]
        for name, data, reference, status, words in rows:
            with self.subTest(name):
                got_status, text = self.verdict(data, reference)
                self.assertEqual(got_status, status, text)
                self.assertRegex(text, words)

    def test_a_misspelt_variant_is_refused(self):
        with self.assertRaisesRegex(ValueError, "no such mistake: rounding"):
            tone_model.Variant({"rounding"})

    def test_spectrum_lines_at_the_readme_levels(self):
        freqs, level = plot_tone.spectrum_db(PCM.astype(float), 44100)
        for hz, db in ((430.7, -3.4), (861.3, -90.5), (1292.0, -3.6), (2153.3, -11.9), (3876.0, -36.3)):
            self.assertAlmostEqual(level[abs(freqs - hz) < plot_tone.LINE_HZ].max(), db, delta=0.05, msg=hz)
        # At 8,000 samples a second the lines above 4 kHz are not in the file, so not marked.
        freqs, level = plot_tone.spectrum_db(PCM[:8000].astype(float), 8000)
        self.assertEqual([round(hz) for hz, _ in plot_tone.line_levels(freqs, level, 8000)],
                         [861, 431, 1292, 2153, 3015, 3876])


def bounded():
    """Run limits for a tool's child: 600 MB of address space, 64 MiB files."""
    resource.setrlimit(resource.RLIMIT_AS, (600 << 20, 600 << 20))
    resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 20, 64 << 20))


class Commands(Folder):
    """The tools as a user runs them: exit status, standard output and error, pictures."""

    def runs(self, calls, **kwargs):
        """Each (tool, arguments) run here, two at a time, with result.bin as standard input: its status,
        output and error; each within 10 s and bounded memory, with at most its one line on standard error."""
        def run(call):
            name, args = call
            with open(os.path.join(self.dir, "result.bin"), "rb") as tone:
                return self.run_here([sys.executable, os.path.join(ROOT, "tools", name + ".py"), *args],
                                     stdin=tone, timeout=10, preexec_fn=bounded, **kwargs)
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            done = list(pool.map(run, calls))
        for (name, args), got in zip(calls, done):
            with self.subTest(args=[name, *args]):
                self.assertNotIn("Traceback", got.stderr)
                self.assertRegex(got.stderr, f"^({name}: [^\n]*\n)?$")  # one line at most, the tool's own
        return [(got.returncode, got.stdout, got.stderr) for got in done]

    def test_rows(self):
        self.write("late.bin", bytes(200) + TONE)
        self.write("tone.flac", frames_bytes(PCM, "FLAC"))
        self.write("one.bin", TONE[:2])
        self.write("slow.wav", frames_bytes(PCM[:500], rate=8000))
        self.write("mirror.bin", own_tone(mirror=0))
        self.write("phases.txt", own_tone(trace=("op2_phase", "op1_phase")))
        readme_trace = "^" + re.escape(readme_block("trace")) + "$"
        rows = [  # tool, arguments, status, standard output, standard error (regular expressions)
            ("compare_tone", ["result.bin"], 0, "^result.bin: identical to the tone", "^$"),
            ("compare_tone", ["late.bin"], 1, "^late.bin: differs from the tone\n  the tone del", "^$"),
            ("compare_tone", ["-"], 0, "^-: identical", "^$"),
            ("compare_tone", ["--trace", "3"], 0, readme_trace, "^$"),
            ("compare_tone", ["--trace", "44101"], 2, "^$", r"--trace: N \(1 to 44,100\), FIRST:STOP"),
            ("compare_tone", ["--trace", "5:7"], 0,
             r"^ +i op2_phase .*\n +5 +122880 .*\n +6 +143360 .* 28510\n$", "^$"),
            ("compare_tone", ["--trace", "around"], 2, "^$", "--trace around needs a CANDIDATE"),
            ("compare_tone", ["mirror.bin", "--trace", "around"], 1,
             r"\n +8 .* 32717  32717\n +9 .* 32137   6195  \*\n", "^$"),
            ("compare_tone", ["--bogus"], 2, "^$", "unrecognized arguments: --bogus"),
            ("compare_tone", [], 2, "^$", "give a CANDIDATE, or --trace N"),
            ("compare_tone", ["missing.bin"], 2, "^$", "^compare_tone: missing.bin: No such file or"),
            ("compare_tone", ["."], 2, "^$", r"^compare_tone: \.: Is a directory"),
            ("compare_tone", ["result.bin", "--plot", "c"], 2, "^$", "c: no ending that names a picture"),
            ("compare_tone", ["mirror.bin", "--plot", "c.png"], 1, "\nc.png: mirror.bin over the tone", "^$"),
            ("plot_tone", [], 0, "^result.png: the waveform and spectrum of result.bin\n$", "^$"),
            ("plot_tone", ["tone.flac", "-o", "x.svg"], 0, "^x.svg: ", "^$"),
            ("plot_tone", ["one.bin", "-o", "one.png"], 0, "^one.png: ", "^$"),
            ("plot_tone", ["slow.wav", "-o", "slow.png"], 0, "^slow.png: ", "^$"),
            ("plot_tone", ["late.bin", "--reference", "result.bin", "-o", "d.png"], 0, "^d.png: late", "^$"),
            ("plot_tone", ["-o", "result"], 2, "^$", r"result: no ending that names a picture .*\.png"),
            ("plot_tone", ["-o", "no/such/folder.png"], 2, "^$", "folder.png: No such file or directory"),
            ("plot_tone", ["-o", "x.pgf"], 2, "^$", r"x.pgf: a .pgf picture needs \w+ \(LaTeX\)"),
            ("plot_tone", ["missing.bin"], 2, "^$", "missing.bin: No such file or directory"),
            ("plot_tone", ["phases.txt"], 2, "^$", "phases.txt: a trace without a sample column"),
            ("compare_tone", ["phases.txt", "--reference", "result.bin"], 2, "^$", "phases.txt: a trace"),
        ]
        no_latex = dict(os.environ, PATH=self.dir)
        results = self.runs([(tool, args) for tool, args, *_ in rows], env=no_latex)
        for (tool, args, status, output, error), got in zip(rows, results):
            with self.subTest(args=[tool, *args]):
                self.assertEqual(got[0], status, got)
                self.assertRegex(got[1], output)
                self.assertRegex(got[2], error)
                picture = re.search(r"^(\S+\.(png|svg)): ", got[1], re.M)
                if picture:
                    self.assert_picture(picture.group(1))
        # The checker's picture has a third panel: the difference by the carrier's lookup phase.
        self.assertEqual([self.assert_picture(name)[1] for name in ("c.png", "d.png")], [1050, 700])

    def assert_picture(self, name):
        with open(os.path.join(self.dir, name), "rb") as file:
            data = file.read()
        if name.endswith(".svg"):
            self.assertIn(b"<svg", data)
            return
        chunks = png_chunks(data)
        self.assertEqual((chunks[0][0], chunks[-1][0]), (b"IHDR", b"IEND"))
        size = struct.unpack(">II", chunks[0][1][:8])
        self.assertGreater(min(size), 0)
        return size

    def test_hostile_inputs(self):
        """Each kind of damage, to both tools: the contract's status, at most one line on standard error."""
        flac = frames_bytes(PCM, "FLAC")
        ogg = frames_bytes(PCM, "OGG", subtype="VORBIS")
        ten_minutes = io.BytesIO()
        soundfile.write(ten_minutes, numpy.zeros(44100 * 600, numpy.int16), 44100, format="FLAC")
        rows = [  # file name, bytes, compare_tone's status, plot_tone's status
            ("cut.flac", flac[:len(flac) // 2], 2, 2), ("cut.ogg", ogg[:len(ogg) // 2], 2, 2),
            ("cut.aiff", frames_bytes(PCM, "AIFF")[:60], 1, 0),
            ("cut.caf", frames_bytes(PCM, "CAF")[:50], 2, 2),
            ("channels flipped.wav", changed(wav_bytes(TONE), 22, 0xFF), 1, 0),
            ("channels0.wav", wav_fields(channels=0), 2, 2), ("rate0.wav", wav_fields(rate=0), 2, 2),
            ("nan.wav", frames_bytes([numpy.nan, numpy.inf] * 10, subtype="FLOAT"), 1, 0),
            ("minutes.flac", ten_minutes.getvalue(), 2, 2),
            ("noise.bin", numpy.random.default_rng(3).bytes(18 << 20), 2, 2),
            ("noise4.bin", numpy.random.default_rng(4).bytes(4 << 20), 1, 0),
            ("fffb.bin", b"\xff\xfb" + TONE[2:], 1, 0),
            ("channels.wav", frames_bytes(numpy.zeros((100, 64))), 1, 0),
        ]
        calls, statuses = [], []
        for name, data, compared, plotted in rows:
            self.write(name, data)
            calls += [("compare_tone", [name]), ("plot_tone", [name, "-o", name + ".png"])]
            statuses += [compared, plotted]
        results = self.runs(calls)
        for call, status, got in zip(calls, statuses, results):
            with self.subTest(args=call):
                self.assertEqual(got[0], status, got)
        # Refused from its header, before decoding.
        minutes = results[calls.index(("compare_tone", ["minutes.flac"]))]
        self.assertIn("minutes.flac: its header says 26,460,000 frames of 1 channel, more than", minutes[2])

    def test_as_nobody_with_no_home(self):
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root and setpriv (util-linux) to run as nobody")
        os.chmod(self.dir, 0o777)
        env = {"PATH": os.environ["PATH"], "HOME": "/nonexistent"}
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        for tool, status in (("plot_tone", 0), ("compare_tone", 0)):
            with self.subTest(tool):
                run = self.run_here([*nobody, sys.executable, os.path.join(ROOT, "tools", tool + ".py"),
                                     "result.bin"], env=env, timeout=30)
                self.assertEqual((run.returncode, run.stderr), (status, ""))

    def test_reader_that_leaves(self):
        tool = os.path.join(ROOT, "tools", "compare_tone.py")
        command = f"{sys.executable} {tool} --trace 44100 | head -c 1"
        run = self.run_here(["sh", "-c", command], timeout=30)
        self.assertEqual((run.stdout, run.stderr), (" ", ""))

    def test_help(self):
        tools = ("compare_tone", "plot_tone")
        for tool, got in zip(tools, self.runs([(tool, ["--help"]) for tool in tools])):
            with self.subTest(tool):
                self.assertEqual(got[0], 0)
                self.assertRegex(got[1], f"usage: {tool}(.|\n)*Exit status: 0 ")


class Listening(Folder):
    def readme_commands(self):
        return [line for line in readme_block("listening").splitlines() if line and not line.startswith("#")]

    def test_readme_commands_play_and_convert(self):
        # ALSA's null device stands in for a sound card.
        config = os.path.join(self.dir, "null.conf")
        with open(config, "w") as file:
            file.write("pcm.!default { type null }\n")
        env = dict(os.environ, ALSA_CONFIG_PATH=config)
        commands = self.readme_commands()
        self.assertEqual([c.split()[0] for c in commands], ["aplay", "play", "sox"])
        for command in commands:
            with self.subTest(command=command):
                run = self.run_here(["sh", "-c", command], env=env)
                self.assertEqual(run.returncode, 0, run.stderr)
        with wave.open(os.path.join(self.dir, "result.wav")) as wav:
            self.assertEqual((wav.getnchannels(), wav.getsampwidth(), wav.getframerate(), wav.getnframes()),
                             (1, 2, 44100, 44100))
            frames = wav.readframes(44100)
        self.assertEqual(frames, self.tone())
        run = self.run_here([sys.executable, COMPARE_TOOL, "result.wav"])
        self.assertEqual((run.returncode, run.stdout),
                         (0, "result.wav: read as WAV (Microsoft), Signed 16 bit PCM, 1 channel, 44,100 "
                             "samples a second\nresult.wav: its samples are identical to the tone (44,100 "
                             "samples)\n"))


def expect_exact_tone(test, program):
    """Runs program in a fresh folder; it must leave exactly the tone."""
    folder = tempfile.mkdtemp(prefix="audiosim-run-")
    test.addCleanup(shutil.rmtree, folder)
    subprocess.run([program], cwd=folder, check=True)
    with open(os.path.join(folder, "result.bin"), "rb") as file:
        data = file.read()
    test.assertEqual((len(data), zlib.crc32(data)), (88200, 0x613D7271))
    return folder


def expect_tools(test, root, folder):
    """The installed tools under root, found on PATH by their names, answer in folder as the tools do."""
    env = dict(os.environ, PATH=os.path.join(root, "bin") + os.pathsep + os.environ["PATH"])
    calls = ((["audiosim-compare-tone", "result.bin"], "result.bin: identical to the tone"),
             (["audiosim-plot-tone", "--help"], "usage: audiosim-plot-tone"),
             (["audiosim-compare-tone", "missing"], "audiosim-compare-tone: missing: No such file"))
    for command, words in calls:
        run = subprocess.run(command, cwd=folder, env=env, capture_output=True, text=True, timeout=30)
        if "needs python3-numpy" in run.stderr:
            test.skipTest(f"the installed tools' python3 lacks numpy or soundfile: {run.stderr}")
        test.assertIn(words, run.stdout + run.stderr)
    for page in ("audiosim", "audiosim-compare-tone", "audiosim-plot-tone"):
        with gzip.open(os.path.join(root, "share", "man", "man1", page + ".1.gz"), "rb") as man, \
                open(os.path.join(ROOT, "docs", page + ".1"), "rb") as source:
            test.assertEqual(man.read(), source.read())


class Install(unittest.TestCase):
    def test_install_puts_program_and_manual_in_place(self):
        prefix = tempfile.mkdtemp(prefix="audiosim-install-")
        self.addCleanup(shutil.rmtree, prefix)
        subprocess.run([os.environ["CMAKE_COMMAND"], "--install", os.environ["BUILD_DIR"], "--prefix",
                        prefix],
                       check=True, capture_output=True)
        expect_tools(self, prefix, expect_exact_tone(self, os.path.join(prefix, "bin", "audiosim")))
        self.assertTrue(os.path.isfile(os.path.join(prefix, "share", "doc", "audiosim", "copyright")))


class Package(unittest.TestCase):
    def test_deb_holds_the_program_and_its_papers(self):
        # Built twice, seconds apart, with no SOURCE_DATE_EPOCH set: the same bytes.
        env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        debs = []
        for attempt in range(2):
            time.sleep(attempt * 1.1)
            run = subprocess.run([os.environ["CPACK_COMMAND"], "-G", "DEB"], cwd=os.environ["BUILD_DIR"],
                                 capture_output=True, text=True, env=env)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            self.assertNotIn("Warning", run.stdout + run.stderr)
            (deb,) = re.findall(r"package: (\S+audiosim_[^/\s]+\.deb) generated", run.stdout)
            with open(deb, "rb") as file:
                debs.append(file.read())
        self.assertEqual(debs[0], debs[1], "two builds of the package differ")
        fields = subprocess.run(["dpkg-deb", "--field", deb, "Package", "Section", "Depends", "Recommends",
                                 "Suggests"], check=True, capture_output=True, text=True).stdout
        self.assertRegex(fields, r"Package: audiosim\nSection: sound\nDepends: python3, .*libc6.*\n"
                                 r"Recommends: python3-numpy, python3-soundfile\n"
                                 r"Suggests: python3-matplotlib\n")
        # The long description as written, each line behind the one space that dpkg puts there.
        shown = subprocess.run(["dpkg-deb", "--field", deb, "Description"], check=True, capture_output=True,
                               text=True).stdout.splitlines()
        with open(os.path.join(ROOT, "packaging", "description")) as file:
            self.assertEqual(shown[1:], [" " + line for line in file.read().splitlines()])
        root = tempfile.mkdtemp(prefix="audiosim-deb-")
        self.addCleanup(shutil.rmtree, root)
        subprocess.run(["dpkg-deb", "--extract", deb, root], check=True)
        for path in ("usr/share/man/man1/audiosim.1.gz", "usr/share/doc/audiosim/copyright",
                     "usr/share/doc/audiosim/changelog.gz"):
            self.assertTrue(os.path.isfile(os.path.join(root, path)), path)
        program = os.path.join(root, "usr", "bin", "audiosim")
        self.assertNotIn(b".symtab", open(program, "rb").read(), "the packaged program is not stripped")
        expect_tools(self, os.path.join(root, "usr"), expect_exact_tone(self, program))


if __name__ == "__main__":
    unittest.main(argv=sys.argv)
