"""The tools around audiosim, run as a user runs them: the plot tool, the
checker (compare_tone.py), the README's listening commands (against ALSA's
null device), the install and the Debian package.

Environment: AUDIOSIM_PROGRAM (the built program), CMAKE_COMMAND, CPACK_COMMAND
and BUILD_DIR (for the install and the package). Run one group by naming its
class.
"""
import gzip
import io
import os
import re
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
PLOT_TOOL = os.path.join(ROOT, "tools", "plot_tone.py")
COMPARE_TOOL = os.path.join(ROOT, "tools", "compare_tone.py")
sys.path.insert(0, os.path.join(ROOT, "tools"))
try:
    import numpy
    import soundfile
except ImportError:  # the groups Install and Package need neither
    pass
else:
    import compare_tone  # noqa: E402  (its model renders the mistakes)


def sound_bytes(samples, format="WAV", subtype=None):
    """The samples of a 16-bit tone as a file libsndfile writes."""
    buffer = io.BytesIO()
    soundfile.write(buffer, numpy.frombuffer(samples, "<i2") / 32768, 44100, subtype, format=format)
    return buffer.getvalue()


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


class PlotTone(Folder):
    def test_real_file_gives_a_png(self):
        self.write("tone.wav", wav_bytes(self.tone()))
        self.write("tone.flac", sound_bytes(self.tone(), format="FLAC"))
        self.write("late.bin", bytes(200) + self.tone())
        for tool, args, picture in ((PLOT_TOOL, [], "result.png"),
                                    (PLOT_TOOL, ["result.bin", "-o", "tone.png"], "tone.png"),
                                    (PLOT_TOOL, ["tone.wav", "-o", "x.svg"], "x.svg"),
                                    (PLOT_TOOL, ["tone.flac", "-o", "flac.png"], "flac.png"),
                                    (PLOT_TOOL, ["late.bin", "--reference", "tone.wav", "-o", "d.png"], "d.png"),
                                    (COMPARE_TOOL, ["late.bin", "--plot", "c.png"], "c.png")):
            with self.subTest(args=args):
                run = self.run_here([sys.executable, tool, *args])
                if tool == COMPARE_TOOL:
                    self.assertEqual((run.returncode, run.stderr), (1, ""))
                    run.returncode = 0
                    run.stdout = ""
                self.assertEqual((run.returncode, run.stdout, run.stderr), (0, "", ""))
                with open(os.path.join(self.dir, picture), "rb") as file:
                    data = file.read()
                if picture.endswith(".svg"):
                    self.assertIn(b"<svg", data)
                    continue
                chunks = png_chunks(data)
                self.assertEqual(chunks[0][0], b"IHDR")
                self.assertEqual(chunks[-1][0], b"IEND")
                width, height = struct.unpack(">II", chunks[0][1][:8])
                self.assertGreater(width, 0)
                self.assertGreater(height, 0)

    def test_bad_input_is_one_line_and_a_failure(self):
        self.write("odd.bin", b"\x01\x02\x03")
        self.write("empty.bin", b"")
        self.write("damaged.wav", b"RIFG" + wav_bytes(bytes(100))[4:])
        esc = re.escape
        cases = (  # the arguments, the status, the one line on standard error
            (["damaged.wav"], 1, esc("plot_tone: damaged.wav: starts like a WAV header, but libsndfile cannot")),
            (["odd.bin"], 1, esc("plot_tone: odd.bin: no header libsndfile knows, and 3 bytes is not a whole number")),
            (["-o", "x.pgf"], 1, esc("plot_tone: x.pgf: a .pgf picture needs xelatex (LaTeX), which is not on PATH")),
            (["missing.bin"], 1, esc("plot_tone: missing.bin: No such file or directory")),
            (["empty.bin"], 1, esc("plot_tone: empty.bin: holds no samples")),
            (["-o", "no/such/folder.png"], 1, esc("plot_tone: no/such/folder.png: No such file or directory")),
            (["-o", "result"], 2, r"plot_tone: result: no ending that names a picture format; known: [.a-z, ]*\.png, "),
        )
        for args, status, line in cases:
            with self.subTest(args=args):  # no LaTeX on an empty PATH
                run = self.run_here([sys.executable, PLOT_TOOL, *args], env=dict(os.environ, PATH=self.dir))
                self.assertEqual(run.returncode, status)
                self.assertRegex(run.stderr, f"^{line}[^\n]*\n$")
                self.assertEqual([n for n in os.listdir(self.dir) if n.endswith((".png", ".pgf")) or n == "result"], [])

    def test_spectrum_lines_at_the_readme_levels(self):
        import plot_tone

        freqs, level = plot_tone.spectrum_db(numpy.frombuffer(self.tone(), "<i2").astype(float), 44100)
        for hz, db in ((430.7, -3.4), (861.3, -90.5), (1292.0, -3.6), (2153.3, -11.9), (3876.0, -36.3)):
            self.assertAlmostEqual(level[abs(freqs - hz) < plot_tone.LINE_HZ].max(), db, delta=0.05, msg=hz)

    def test_help(self):
        run = self.run_here([sys.executable, PLOT_TOOL, "--help"])
        self.assertEqual(run.returncode, 0)
        self.assertIn("usage: plot_tone", run.stdout)


class CompareTone(Folder):
    def test_diagnoses(self):
        tone = self.tone()
        swapped = bytearray(tone)
        swapped[0::2], swapped[1::2] = tone[1::2], tone[0::2]
        changed = bytearray(tone)
        changed[20001] ^= 0x40  # sample 10,000
        pcm = struct.unpack("<44100h", tone)
        stereo = struct.pack("<88200h", *(pcm[k // 2] for k in range(88200)))
        resampled = struct.pack("<48000h", *(pcm[k * 44100 // 48000] for k in range(48000)))  # nearest sample
        values = numpy.array(pcm)
        half = numpy.array(pcm[:22050])
        half[100] += 5
        read_as = r"read as {}.*\n.*: its samples are identical to the tone"
        # The arguments (the first names the file that data is written to; none for "-"), the status, the words.
        cases = [("tone.bin", tone, 0, "identical"), ("tone.wav", wav_bytes(tone), 0, "identical"),
                 ("wavex.wav", sound_bytes(tone, format="WAVEX"), 0, read_as.format("WAVEX")),
                 ("24bit.wav", sound_bytes(tone, subtype="PCM_24"), 0, read_as.format(".*24 bit PCM")),
                 ("float.wav", sound_bytes(tone, subtype="FLOAT"), 0, read_as.format(".*32 bit float")),
                 ("tone.flac", sound_bytes(tone, format="FLAC"), 0, read_as.format("FLAC")),
                 ("tone.aiff", sound_bytes(tone, format="AIFF"), 0, read_as.format("AIFF")),
                 ("header.bin", wav_bytes(tone), 0, read_as.format(r"WAV \(Microsoft\), Signed 16 bit PCM, 1 channel")),
                 ("damaged.wav", b"RIFG" + wav_bytes(tone)[4:], 2, "starts like a WAV header, but libsndfile cannot"),
                 ("int32.bin", as_bytes(values, "<i4"), 1, "raw 32-bit integer samples, not signed 16-bit: .* x 1$"),
                 ("f32.bin", as_bytes(values / 32768, "<f4"), 1, "raw 32-bit float samples.*values / 32,768$"),
                 ("u8.bin", as_bytes((values >> 8) + 128, "u1"), 1, "raw 8-bit unsigned samples.*values / 256$"),
                 ("u16.bin", as_bytes(values + 32768, "<u2"), 1, r"raw unsigned 16-bit \(offset binary\) samples"),
                 ("flipped.bin", as_bytes(-values), 1, "the tone with its polarity flipped: each sample negated"),
                 ("halved.bin", as_bytes(values >> 1), 1, r"the tone scaled by 0.5 \(-6.0 dB\)"),
                 ("reversed.bin", as_bytes(values[::-1]), 1, "the tone reversed in time"),
                 ("shifted.bin", bytes(2) + tone, 1, r"the tone delayed by 1 sample \(0.023 ms\): silence first"),
                 ("late.bin", bytes(2000) + tone[:-2000], 1, r"delayed by 1,000 samples \(22.676 ms\): silence first"
                  r"\n  cut short: the last 1,000 samples"),
                 ("early.bin", tone[1000:], 1, r"the tone advanced by 500 samples .*: it starts at sample 500 "),
                 ("op2_ratio.bin", as_bytes(compare_tone.render(op2_ratio=48)), 1, "made with op2_ratio 48, not 32"),
                 ("freq.bin", as_bytes(compare_tone.render(freq=10000)), 1, "made with freq 10,000, not 10,240"),
                 ("weight.bin", as_bytes(compare_tone.render(weight=2)), 1, r"modulator's value shifted right by 2 "),
                 ("noise.bin", as_bytes(numpy.random.default_rng(1).integers(-32768, 32767, 48000)), 1, "too long.*\n"
                  ".*first difference at sample 0"),
                 ("silence.bin", bytes(16000), 1, r"36,100 samples \(818.594 ms\) short"),
                 ("half_changed.bin", as_bytes(half), 1, r"short.*\n.*first difference at sample 100 "),
                 (".", None, 2, "^compare_tone: .: Is a directory\n$"),
                 # The README's trace, which holds sample 0's state as worked by hand.
                 ("- --trace 3", None, 0, "^" + re.escape(readme_block("trace")) + "$"),
                 ("- --trace 1", None, 0, r"\n +0 +20480 +20 +4011 +14251 +13 +13 +2610\n$"),
                 ("swapped.bin", swapped, 1, "byte order is swapped"),
                 ("short.bin", tone[:-200], 1, r"100 samples \(2.268 ms\) short"),
                 ("changed.bin", changed, 1, r"sample 10,000 \(226.757 ms\): -?\d+, the tone has -?\d+; 1 of"
                  r".*\n  the tone's state at sample 10,000: op2_phase 204,820,480 \(lookup phase 200,020\), "),
                 ("odd.bin", tone[:-1], 2, "88199 bytes is not a whole number"),
                 ("48k.wav", wav_bytes(tone, rate=48000), 1, "header says 48,000 samples a second; the tone is at "
                  "44,100\n  its samples are the tone's"),
                 ("resampled.bin", resampled, 1, "the tone resampled to 48,000 samples a second: 48,000 samples"),
                 # The tone's own samples, whatever rate their length suggests.
                 ("twice.bin", tone * 2, 1, "the tone 2 times over, back to back"),
                 ("stereo.bin", stereo, 1, "the tone in two interleaved channels, each sample twice"),
                 ("half.bin", tone[:44100], 1, r"22,050 samples \(500.000 ms\) short.*\n.*the first 22,050 samples agree"),
                 ("tone.bin --reference 48k.wav", tone, 0, "identical to the reference .*\n.*it records no rate; "
                  "the reference's header says 48,000 samples a second"),
                 ("short.bin --reference tone.bin", tone[:-2], 1, "differs from the reference\n.*the reference has")]
        for mistake, words in compare_tone.MISTAKES.items():
            cases.append((f"{mistake}.bin", struct.pack("<44100h", *compare_tone.render([mistake])), 1,
                          re.escape("this is the tone made with " + words)))
        for args, data, status, pattern in cases:
            with self.subTest(args=args):
                if data is not None:
                    self.write(args.split()[0], data)
                words = [word for word in args.split() if word != "-"]
                run = self.run_here([sys.executable, COMPARE_TOOL, *words], timeout=60)
                self.assertEqual(run.returncode, status, run.stdout + run.stderr)
                self.assertRegex(run.stdout + run.stderr, pattern)
                self.assertNotIn("Traceback", run.stderr)


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
        self.assertEqual((run.returncode, run.stdout), (0, "result.wav: read as WAV (Microsoft), Signed 16 bit PCM, "
                                                        "1 channel, 44,100 samples a second\nresult.wav: its samples are "
                                                        "identical to the tone (44,100 samples)\n"))


def expect_exact_tone(test, program):
    """Runs program in a fresh folder; it must leave exactly the tone."""
    folder = tempfile.mkdtemp(prefix="audiosim-run-")
    test.addCleanup(shutil.rmtree, folder)
    subprocess.run([program], cwd=folder, check=True)
    with open(os.path.join(folder, "result.bin"), "rb") as file:
        data = file.read()
    test.assertEqual((len(data), zlib.crc32(data)), (88200, 0x613D7271))


class Install(unittest.TestCase):
    def test_install_puts_program_and_manual_in_place(self):
        prefix = tempfile.mkdtemp(prefix="audiosim-install-")
        self.addCleanup(shutil.rmtree, prefix)
        subprocess.run([os.environ["CMAKE_COMMAND"], "--install", os.environ["BUILD_DIR"], "--prefix", prefix],
                       check=True, capture_output=True)
        expect_exact_tone(self, os.path.join(prefix, "bin", "audiosim"))
        with gzip.open(os.path.join(prefix, "share", "man", "man1", "audiosim.1.gz"), "rb") as man, \
                open(os.path.join(ROOT, "docs", "audiosim.1"), "rb") as source:
            self.assertEqual(man.read(), source.read())
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
        fields = subprocess.run(["dpkg-deb", "--field", deb, "Package", "Section", "Depends"], check=True,
                                capture_output=True, text=True).stdout
        self.assertRegex(fields, r"Package: audiosim\nSection: sound\nDepends: .*libc6")
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
        expect_exact_tone(self, program)


if __name__ == "__main__":
    unittest.main(argv=sys.argv)
