// The built program run as a user runs it: in a fresh folder, in hostile
// folders and over earlier files. AUDIOSIM_PROGRAM names another build to run
// and AUDIOSIM_EMULATOR a command to run it under (qemu, valgrind, wine).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t expected_size = 88200;
constexpr uLong expected_crc = 0x613D7271;

struct Outcome {
    int status = -1;  // as from waitpid
    std::string out;
    std::string err;
};

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> folder_names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// A fresh folder, removed with everything in it at the end of the test.
struct TempDir {
    fs::path path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "audiosim-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

std::vector<std::string> program_command(const std::vector<std::string>& args) {
    std::vector<std::string> command;
    if (const char* emulator = std::getenv("AUDIOSIM_EMULATOR")) {
        std::istringstream words(emulator);
        for (std::string word; words >> word;) {
            command.push_back(word);
        }
    }
    const char* program = std::getenv("AUDIOSIM_PROGRAM");
    command.emplace_back(program != nullptr ? program : AUDIOSIM_PATH);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// Starts the program in dir; in the child, setup runs just before exec.
pid_t start(
    const fs::path& dir, const fs::path& out, const fs::path& err, const std::function<void()>& setup = [] {},
    const std::vector<std::string>& args = {}) {
    std::vector<std::string> command = program_command(args);
    std::vector<char*> argv;
    for (auto& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);  // so the child does not repeat the test's pending output
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr) ||
            chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        setup();
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

Outcome run_in(
    const fs::path& dir, const std::function<void()>& setup = [] {},
    const std::vector<std::string>& args = {}) {
    TempDir capture;
    Outcome run;
    const pid_t pid = start(dir, capture.path / "out", capture.path / "err", setup, args);
    waitpid(pid, &run.status, 0);
    run.out = read_file(capture.path / "out");
    run.err = read_file(capture.path / "err");
    return run;
}

bool exited_ok(const Outcome& run) { return WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0; }

int16_t sample_at(const std::string& bytes, std::size_t k) {
    const auto low = static_cast<uint8_t>(bytes[2 * k]);
    const auto high = static_cast<uint8_t>(bytes[2 * k + 1]);
    return static_cast<int16_t>(static_cast<uint16_t>(low | high << 8));
}

// Checks a complete, correct result.bin.
void expect_good_result(const fs::path& file) {
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << file;
    const std::string bytes = read_file(file);
    ASSERT_EQ(bytes.size(), expected_size);
    EXPECT_EQ(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())),
              expected_crc);
}

// Checks a failure reported as it should be: exit status 1, nothing on standard
// output, one line on standard error naming result.bin.
void expect_reported_failure(const Outcome& run) {
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("audiosim: result.bin: ", 0), 0U) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST(Output, FreshFolderGetsTheExactTone) {
    TempDir dir;
    const Outcome run = run_in(dir.path);
    EXPECT_TRUE(exited_ok(run)) << run.status;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(folder_names(dir.path), std::set<std::string>{"result.bin"});
    expect_good_result(dir.path / "result.bin");

    const std::string bytes = read_file(dir.path / "result.bin");
    ASSERT_EQ(bytes.size(), expected_size);
    EXPECT_EQ(bytes.substr(0, 2), "\x32\x0A");  // 2610, low byte first
    const std::vector<int16_t> first = {sample_at(bytes, 0), sample_at(bytes, 1), sample_at(bytes, 2),
                                        sample_at(bytes, 3)};
    EXPECT_EQ(first, (std::vector<int16_t>{2610, 6195, 10469, 15090}));
    EXPECT_EQ(sample_at(bytes, expected_size / 2 - 1), 6195);
    int lowest = 0;
    int highest = 0;
    for (std::size_t k = 0; k < expected_size / 2; ++k) {
        lowest += sample_at(bytes, k) == -32767;
        highest += sample_at(bytes, k) == 32766;
    }
    EXPECT_EQ(lowest, 252);
    EXPECT_EQ(highest, 253);
}

TEST(Output, RunsAreIdenticalAndIgnoreArguments) {
    TempDir first;
    TempDir second;
    ASSERT_TRUE(exited_ok(run_in(first.path)));
    const Outcome run = run_in(second.path, [] {}, {"--help", "-o", "other.bin"});
    EXPECT_TRUE(exited_ok(run));
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(folder_names(second.path), std::set<std::string>{"result.bin"});
    EXPECT_EQ(read_file(first.path / "result.bin"), read_file(second.path / "result.bin"));
}

// Whatever result.bin was before, it becomes the new file; a symbolic link is
// replaced, as mv would do, and its target left alone.
TEST(Output, EarlierResultIsReplacedWhole) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> prepare;
    } cases[] = {
        {"longer file", [](const fs::path& d) { write_file(d / "result.bin", std::string(100000, 'x')); }},
        {"shorter file", [](const fs::path& d) { write_file(d / "result.bin", "old"); }},
        {"link to a file",
         [](const fs::path& d) {
             write_file(d / "target", "old");
             fs::create_symlink("target", d / "result.bin");
         }},
        {"dangling link", [](const fs::path& d) { fs::create_symlink("missing", d / "result.bin"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        c.prepare(dir.path);
        const bool had_target = fs::exists(dir.path / "target");
        const Outcome run = run_in(dir.path);
        EXPECT_TRUE(exited_ok(run)) << run.err;
        expect_good_result(dir.path / "result.bin");
        if (had_target) {
            EXPECT_EQ(read_file(dir.path / "target"), "old");
        }
    }
}

// A folder named result.bin is not replaced: the run fails, and leaves the
// folder as it was and nothing beside it.
TEST(Output, FolderInTheWayIsReported) {
    TempDir dir;
    fs::create_directory(dir.path / "result.bin");
    expect_reported_failure(run_in(dir.path));
    EXPECT_TRUE(fs::is_empty(dir.path / "result.bin"));
    EXPECT_EQ(folder_names(dir.path), std::set<std::string>{"result.bin"});
}

// The file gets the permissions of any new file: 0666 less the umask.
TEST(Output, NewFileFollowsTheUmask) {
    const struct {
        mode_t mask;
        unsigned perms;
    } cases[] = {{022, 0644}, {077, 0600}, {0, 0666}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mask);
        TempDir dir;
        ASSERT_TRUE(exited_ok(run_in(dir.path, [mask = c.mask] { umask(mask); })));
        EXPECT_EQ(fs::status(dir.path / "result.bin").permissions(), static_cast<fs::perms>(c.perms));
    }
}

// Sixteen runs at once in one folder: every one succeeds, and they leave one
// correct result.bin and nothing else.
TEST(Output, ConcurrentRunsLeaveOneGoodFile) {
    constexpr int runs = 16;
    TempDir dir;
    TempDir capture;
    std::vector<pid_t> pids;
    for (int k = 0; k < runs; ++k) {
        const std::string tag = std::to_string(k);
        pids.push_back(start(dir.path, capture.path / ("out" + tag), capture.path / ("err" + tag)));
    }
    for (int k = 0; k < runs; ++k) {
        int status = -1;
        waitpid(pids[static_cast<std::size_t>(k)], &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << k << ": " << status;
        EXPECT_EQ(read_file(capture.path / ("err" + std::to_string(k))), "");
    }
    EXPECT_EQ(folder_names(dir.path), std::set<std::string>{"result.bin"});
    expect_good_result(dir.path / "result.bin");
}

// Limits the size of any file the program writes, far below result.bin's.
void limit_file_size() {
    const rlimit limit = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
}

// Each failure: a non-zero exit, one line naming result.bin on standard error,
// nothing on standard output, the earlier result.bin untouched and no
// temporary file left behind. These hold for root too.
TEST(Faults, FailureIsReportedAndLeavesNoTrace) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> prepare;  // makes the earlier state
        std::function<void()> setup;                   // in the child, before exec
        const char* message;                           // the whole of standard error
        int signal;                                    // that ends the run, or 0 for exit status 1
    } cases[] = {
        {"file-size limit, SIGXFSZ ignored", [](const fs::path& d) { write_file(d / "result.bin", "old"); },
         [] {
             signal(SIGXFSZ, SIG_IGN);
             limit_file_size();
         },
         "audiosim: result.bin: File too large\n", 0},
        // The signal is held until the temporary file is gone, then ends the run.
        {"file-size limit, SIGXFSZ default", [](const fs::path& d) { write_file(d / "result.bin", "old"); },
         [] {
             signal(SIGXFSZ, SIG_DFL);
             limit_file_size();
         },
         "audiosim: result.bin: File too large\n", SIGXFSZ},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        c.prepare(dir.path);
        const Outcome run = run_in(dir.path, c.setup);
        if (c.signal != 0) {
            EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == c.signal) << run.status;
        } else {
            EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status;
        }
        EXPECT_EQ(run.err, c.message);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(folder_names(dir.path), std::set<std::string>{"result.bin"});
        EXPECT_EQ(read_file(dir.path / "result.bin"), "old");
    }
}

// A folder where no file can be created, even by root.
TEST(Faults, UnwritableFolderIsReported) {
    expect_reported_failure(run_in("/proc"));
    EXPECT_FALSE(fs::exists("/proc/result.bin"));
}

}  // namespace
