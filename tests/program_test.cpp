// The built program run as a user runs it: in a fresh folder, in hostile
// folders and over earlier files. AUDIOSIM_PROGRAM names another build to run
// and AUDIOSIM_EMULATOR a command to run it under (qemu, valgrind, wine).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t expected_size = 88200;
constexpr uLong expected_crc = 0x613D7271;
// Bounds on every run, so that a writer fault fails its test at once: its
// largest file (wine's registry, which a run may rewrite, takes 2 MiB), and
// its time in 10 ms steps (20 s; under valgrind a run takes 2).
constexpr rlim_t run_file_limit = rlim_t{8} << 20;
constexpr int run_time_steps = 2000;
constexpr int changed = -1;  // result.bin changed while it was being opened
const uid_t nobody_id = 65534;

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

// How to start the program: words before it (a tracer), its arguments, what
// the child does just before exec, and whether it runs as nobody.
struct Launch {
    std::vector<std::string> wrapper = {};
    std::vector<std::string> args = {};
    std::function<void()> setup = [] {};
    bool as_nobody = false;
};

std::vector<std::string> program_command(const Launch& launch, const std::string& program) {
    std::vector<std::string> command = launch.wrapper;
    if (const char* emulator = std::getenv("AUDIOSIM_EMULATOR")) {
        std::istringstream words(emulator);
        for (std::string word; words >> word;) {
            command.push_back(word);
        }
    }
    command.push_back(program);
    command.insert(command.end(), launch.args.begin(), launch.args.end());
    return command;
}

// Starts the program in dir, with its standard output and error going to out
// and err, files in a folder of the run's own, in a process group of its own,
// with its files bounded. As nobody it runs a copy in that folder, which
// anyone may reach (the build may be where nobody can), and a coverage build
// leaves that run's counts there.
pid_t start(const fs::path& dir, const fs::path& out, const fs::path& err, const Launch& launch = {}) {
    const fs::path own = out.parent_path();
    const char* built = std::getenv("AUDIOSIM_PROGRAM");
    std::string program = built != nullptr ? built : AUDIOSIM_PATH;
    if (launch.as_nobody) {
        fs::permissions(own, fs::perms::all);
        fs::copy_file(program, own / "audiosim");
        program = own / "audiosim";
    }
    std::vector<std::string> command = program_command(launch, program);
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (auto& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    EXPECT_EQ(std::fflush(nullptr), 0);  // so the child does not repeat the test's pending output
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit size = {run_file_limit, run_file_limit};
        if (setpgid(0, 0) != 0 || setrlimit(RLIMIT_FSIZE, &size) != 0 ||
            freopen(out.c_str(), "w", stdout) == nullptr || freopen(err.c_str(), "w", stderr) == nullptr ||
            chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        launch.setup();
        if (launch.as_nobody && (setenv("GCOV_PREFIX", own.c_str(), 1) != 0 || setgroups(0, nullptr) != 0 ||
                                 setgid(nobody_id) != 0 || setuid(nobody_id) != 0)) {
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for a run; one that takes a minute is killed, with all it started.
int wait_bounded(pid_t pid) {
    int status = -1;
    for (int step = 0; waitpid(pid, &status, WNOHANG) == 0; ++step) {
        if (step == run_time_steps) {
            kill(-pid, SIGKILL);
        }
        usleep(10000);
    }
    return status;
}

Outcome run_in(const fs::path& dir, const Launch& launch = {}) {
    TempDir capture;
    Outcome run;
    const pid_t pid = start(dir, capture.path / "out", capture.path / "err", launch);
    run.status = wait_bounded(pid);
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
        lowest += sample_at(bytes, k) == -32767 ? 1 : 0;
        highest += sample_at(bytes, k) == 32766 ? 1 : 0;
    }
    EXPECT_EQ(lowest, 252);
    EXPECT_EQ(highest, 253);
}

TEST(Output, RunsAreIdenticalAndIgnoreArguments) {
    TempDir first;
    TempDir second;
    ASSERT_TRUE(exited_ok(run_in(first.path)));
    const Outcome run = run_in(second.path, {.args = {"--help", "-o", "other.bin"}});
    EXPECT_TRUE(exited_ok(run));
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(folder_names(second.path), std::set<std::string>{"result.bin"});
    EXPECT_EQ(read_file(first.path / "result.bin"), read_file(second.path / "result.bin"));
}

// An earlier file of any length becomes the new file.
TEST(Output, EarlierResultIsReplacedWhole) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> prepare;
    } cases[] = {
        {"longer file", [](const fs::path& d) { write_file(d / "result.bin", std::string(100000, 'x')); }},
        {"shorter file", [](const fs::path& d) { write_file(d / "result.bin", "old"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        c.prepare(dir.path);
        const Outcome run = run_in(dir.path);
        EXPECT_TRUE(exited_ok(run)) << run.err;
        expect_good_result(dir.path / "result.bin");
    }
}

// Where a plain "wb" open writes, the run writes: through a link, into a pipe
// or a device, in place where the folder takes no new file or result.bin is a
// mount point; result.bin keeps its kind, permissions (but set-id bits) and
// owner, and no temporary file stays. A link that another user planted in a
// shared sticky folder is not followed; a folder is refused before anything is
// written. Each row prepares the folder and wraps the run in shell commands;
// the tone must arrive in "heard", if named. Rows with other owners, runs as
// nobody or mounts need root; the others run as anyone.
TEST(Output, WritesWhereAPlainOpenWrites) {
    enum class runner { anyone, root, nobody };
    const struct {
        const char* name;
        const char* prepare;
        const char* wrapper;
        const char* heard;
        int err;
        runner who = runner::anyone;
    } cases[] = {
        {"link to a longer file", "mkdir o && head -c 100000 /dev/zero >o/t && ln -s o/t result.bin", "",
         "o/t", 0},
        {"dangling link", "ln -s missing result.bin", "", "missing", 0},
        {"link to /dev/null", "ln -s /dev/null result.bin", "", nullptr, 0},
        {"link to /dev/full", "ln -s /dev/full result.bin", "", nullptr, ENOSPC},
        {"FIFO with a reader", "mkfifo result.bin",
         "timeout 10 cat result.bin >h & \"$@\"; s=$?; wait; exit $s", "h", 0},
        {"link to /dev/stdout", "ln -s /dev/stdout result.bin", "\"$@\" | cat >h", "h", 0},
        {"set-id file", "echo old >result.bin && chmod 6755 result.bin", "", "result.bin", 0},
        {"own link, sticky folder", "echo old >t && ln -s t result.bin && chmod 1777 .", "", "t", 0},
        // Files of 32 KiB at most: no temporary file of the tone may be written.
        {"folder", "mkdir result.bin", "ulimit -f 64; \"$@\"", nullptr, EISDIR},
        {"0600 file", "echo old >result.bin && chmod 600 result.bin && chown 1:1 result.bin",
         "umask 022; \"$@\"", "result.bin", 0, runner::root},
        {"folder owner's link, sticky folder",
         "echo old >t && ln -s t result.bin && chown -h 1 result.bin && chown 1 . && chmod 1777 .", "", "t",
         0, runner::root},
        {"another's link, sticky folder",
         "echo old >t && ln -s t result.bin && chown -h 1 result.bin && chmod 1755 .", "", "t", 0,
         runner::root},
        {"another's link, folder writable by all",
         "echo old >t && ln -s t result.bin && chown -h 1 result.bin && chmod 777 .", "", "t", 0,
         runner::root},
        {"planted link", "echo old >t && ln -s t result.bin && chown -h 1 result.bin && chmod 1777 .", "",
         nullptr, EACCES, runner::root},
        // In a mount namespace of the row's own, whose mounts are made private
        // from the one holding the folder (/ may be no mount point: a chroot).
        {"bind-mounted longer file", "head -c 100000 /dev/zero >o && touch result.bin",
         R"sh(unshare -m --propagation unchanged sh -c 'mount --make-rprivate "$(findmnt -no TARGET -T .)" && )sh"
         R"sh(mount --bind o result.bin && "$@"' sh "$@")sh",
         "o", 0, runner::root},
        {"mount point, read-only folder", "mkdir m && touch result.bin",
         R"sh(exec 3>h; unshare -m --propagation unchanged sh -c 'mount --make-rprivate "$(findmnt -no TARGET -T .)" && )sh"
         R"sh(mount --bind . . && cd "$PWD" && mount -o remount,ro,bind . && mount -t tmpfs none m && )sh"
         R"sh(echo old >m/t && mount --bind m/t result.bin && "$@"; s=$?; cat m/t >&3; exit $s' sh "$@")sh",
         "h", 0, runner::root},
        {"longer file, locked folder",
         "head -c 100000 /dev/zero >result.bin && chmod 666 result.bin && chmod 555 .", "", "result.bin", 0,
         runner::nobody},
        {"drop box", "chmod 733 .", "", "result.bin", 0, runner::nobody},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.who != runner::anyone && geteuid() != 0) {
            std::cout << "[ LEFT OUT ] " << c.name << ": needs root\n";
            continue;
        }
        TempDir dir;
        fs::permissions(dir.path, fs::perms(0755));
        // NOLINTNEXTLINE(cert-env33-c): the row's own fixed commands
        ASSERT_EQ(std::system(("cd " + dir.path.string() + " && " + c.prepare).c_str()), 0);
        const auto kind_and_owner = [&dir] {
            struct stat st {};
            return std::tuple(lstat((dir.path / "result.bin").c_str(), &st), st.st_mode, st.st_uid,
                              st.st_gid);
        };
        auto expected = kind_and_owner();
        std::get<1>(expected) &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
        const Outcome run =
            run_in(dir.path, {.wrapper = {"sh", "-c", *c.wrapper != '\0' ? c.wrapper : "\"$@\"", "sh"},
                              .as_nobody = c.who == runner::nobody});
        if (c.err != 0) {
            expect_reported_failure(run);
            EXPECT_TRUE(run.err.ends_with(std::strerror(c.err) + std::string("\n"))) << run.err;
        } else {
            EXPECT_TRUE(exited_ok(run) && run.err.empty()) << run.err;
        }
        if (std::get<0>(expected) == 0) {
            EXPECT_EQ(kind_and_owner(), expected);
        }
        EXPECT_FALSE(std::ranges::any_of(folder_names(dir.path), [](const std::string& name) {
            return name.starts_with(".result.bin.");
        }));
        if (c.heard != nullptr) {
            expect_good_result(dir.path / c.heard);
        } else if (fs::exists(dir.path / "t")) {
            EXPECT_EQ(read_file(dir.path / "t"), "old\n");
        }
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null") &&
                fs::is_character_file("/dev/full"));  // written, not replaced
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
        ASSERT_TRUE(exited_ok(run_in(dir.path, {.setup = [mask = c.mask] { umask(mask); }})));
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
        const int status = wait_bounded(pids[static_cast<std::size_t>(k)]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << k << ": " << status;
        EXPECT_EQ(read_file(capture.path / ("err" + std::to_string(k))), "");
    }
    EXPECT_EQ(folder_names(dir.path), std::set<std::string>{"result.bin"});
    expect_good_result(dir.path / "result.bin");
}

// Checks how a run that met a fault ended. err: the errno it must report in one
// line, after the step that failed where one is named (0: none; changed: the
// file changed while it was being opened, the line's own words); signal: the
// signal that must end it (0: it exits, with status 1 after a report, else 0).
// Whatever happened, nothing is printed on standard output, nothing is left
// beside result.bin, and result.bin is the earlier file ("old") or the
// complete new one: the new one after a success, or when replaced is set.
void expect_clean_outcome(const Outcome& run, const fs::path& dir, int err, int signal,
                          bool replaced = false) {
    if (signal != 0) {
        EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal) << run.status;
    } else {
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == (err != 0 ? 1 : 0)) << run.status;
    }
    const std::string reason = err == changed ? "changed while it was being opened" : std::strerror(err);
    const std::regex message("audiosim: result.bin: ([^:\n]+: )?" + reason + "\n");
    EXPECT_TRUE(err != 0 ? std::regex_match(run.err, message) : run.err.empty()) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(folder_names(dir), std::set<std::string>{"result.bin"});
    if ((err == 0 && signal == 0) || replaced) {
        expect_good_result(dir / "result.bin");
    } else if (read_file(dir / "result.bin") != "old") {
        EXPECT_EQ(err, 0) << "a failed run replaced result.bin";
        expect_good_result(dir / "result.bin");
    }
}

// In the child, before exec: sets what SIGXFSZ does and limits the size of any
// file the program writes, far below result.bin's.
void limit_file_size(void (*action)(int)) {
    const rlimit limit = {4096, 4096};
    if (signal(SIGXFSZ, action) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        _exit(127);
    }
}

TEST(Faults, FileSizeLimitIsReported) {
    const struct {
        const char* name;
        void (*action)(int);  // for SIGXFSZ
    } cases[] = {
        {"SIGXFSZ ignored", SIG_IGN},
        // The signal is held until the temporary file is gone, then ends the run.
        {"SIGXFSZ default", SIG_DFL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        write_file(dir.path / "result.bin", "old");
        const Outcome run = run_in(dir.path, {.setup = [action = c.action] { limit_file_size(action); }});
        expect_clean_outcome(run, dir.path, EFBIG, c.action == SIG_DFL ? SIGXFSZ : 0);
    }
}

// strace, for the system-call faults it injects; empty where the build found none.
#ifndef AUDIOSIM_STRACE
#define AUDIOSIM_STRACE ""
#endif
const std::string strace = AUDIOSIM_STRACE;

// strace's command words that run the program with the given faults injected,
// each as "call:action:when=N", and its trace written to log.
std::vector<std::string> injecting(const std::vector<std::string>& faults,
                                   const std::string& log = "/dev/null") {
    // LeakSanitizer, in a sanitizer build, cannot work under a tracer.
    std::vector<std::string> words = {strace, "-f", "-o", log, "-E", "ASAN_OPTIONS=detect_leaks=0"};
    for (const auto& fault : faults) {
        words.insert(words.end(), {"-e", "inject=" + fault});
    }
    return words;
}

// For each system call, which of its calls in the process is the writer's, as
// strace's "when=" counts them: read from a traced run, since the loader opens
// and closes files before main. The writer's calls start at its look at
// result.bin.
const std::map<std::string, int>& writer_calls() {
    static const std::map<std::string, int> calls = [] {
        TempDir dir;
        TempDir trace;
        const fs::path log_path = trace.path / "log";
        write_file(dir.path / "result.bin", "old");
        // A failed rename, so that the removal of the temporary file shows too.
        run_in(dir.path, {.wrapper = injecting({"/^(rename|renameat2?)$:error=EXDEV"}, log_path.string())});
        std::istringstream log(read_file(log_path));
        static const std::regex call_line(R"(^(?:\d+ +)?(\w+)\()");  // "[pid] name(args) = result"
        std::map<std::string, int> seen;
        std::map<std::string, int> before_writer;
        std::map<std::string, int> writer;
        bool writing = false;
        for (std::string line; std::getline(log, line);) {
            std::smatch match;
            if (!std::regex_search(line, match, call_line)) {
                continue;
            }
            if (!writing && line.find("result.bin\"") != std::string::npos) {
                writing = true;
                before_writer = seen;
            }
            const int count = ++seen[match[1]];
            if (writing) {
                writer.emplace(match[1], count);
            }
        }
        // Calls made only in place, or in a drop box: the first after the look.
        for (const char* call : {"ftruncate", "fcntl", "syncfs"}) {
            writer[call] = before_writer[call] + 1;
        }
        return writer;
    }();
    return calls;
}

// The fault injected into the writer's nth own call, for calls following calls.
// Whether strace is there and may trace the program (a container or a
// hardened kernel may forbid it).
bool can_trace() { return !strace.empty() && writer_calls().contains("write"); }

// The fault for a call named as on x86-64, made by whichever form the C
// library calls here (arm64 and riscv64 have only the *at forms).
std::string writer_fault(const std::string& name, const std::string& action, int calls = 1, int nth = 1) {
    const std::map<std::string, std::vector<std::string>> forms = {{"rename", {"renameat", "renameat2"}},
                                                                   {"unlink", {"unlinkat"}},
                                                                   {"newfstatat", {"fstatat64", "statx"}}};
    std::string call = name;
    for (const auto& form : forms.contains(name) ? forms.at(name) : std::vector<std::string>{}) {
        call = writer_calls().contains(call) ? call : form;
    }
    const int first = writer_calls().at(call) + nth - 1;
    const std::string when =
        calls == 1 ? std::to_string(first) : std::to_string(first) + ".." + std::to_string(first + calls - 1);
    return call + ":" + action + ":when=" + when;
}

// Every system call of the writer that can fail, failing: the failure is
// reported, or recovered from where it can be; interrupts take effect only
// once the temporary file is gone. A folder that refuses the temporary file
// for want of permission has result.bin written in place.
TEST(Faults, InjectedSystemCallFaultsEndCleanly) {
    if (!can_trace()) {
        GTEST_SKIP() << "needs strace, and the right to trace processes here";
    }
    const struct {
        const char* call;
        const char* action;
        int err;     // reported
        int signal;  // ending the run
        int calls = 1;
        int nth = 1;                 // of the writer's calls of that name
        bool replaced = false;       // result.bin is the new file despite the failure
        const char* then = nullptr;  // another call failing: "call:action"
    } cases[] = {
        {"openat", "error=ENOSPC", ENOSPC, 0},
        {"openat", "error=EDQUOT", EDQUOT, 0},
        {"openat", "error=EACCES", 0, 0},
        {"openat", "error=EPERM", 0, 0},
        {"openat", "error=EACCES", EACCES, 0, 2},  // and in place too
        {"openat", "error=EPERM", EPERM, 0, 1, 1, false, "ftruncate:error=EPERM"},
        {"openat", "error=EACCES", EIO, 0, 1, 1, false, "fcntl:error=EIO"},
        {"openat", "error=EMFILE", EMFILE, 0},
        {"openat", "error=EROFS", EROFS, 0},
        // Every one of the 100 temporary names the program tries is taken.
        {"openat", "error=EEXIST", EEXIST, 0, 100},
        {"newfstatat", "error=EIO", EIO, 0},        // result.bin
        {"newfstatat", "error=EIO", EIO, 0, 1, 2},  // its folder
        {"rt_sigprocmask", "error=EINVAL", EINVAL, 0},
        {"rt_sigprocmask", "error=EINVAL", EINVAL, 0, 1, 2, true},
        {"fchown", "error=EPERM", 0, 0},  // the owner cannot be kept: no failure
        {"fchmod", "error=EIO", EIO, 0},
        {"write", "error=ENOSPC", ENOSPC, 0},
        {"write", "error=EIO", EIO, 0},
        {"write", "error=EDQUOT", EDQUOT, 0},
        {"write", "retval=0", EIO, 0},   // no progress: an error, not a loop
        {"write", "error=EINTR", 0, 0},  // retried
        {"fsync", "error=EIO", EIO, 0},
        {"fsync", "error=ENOSPC", ENOSPC, 0},
        {"fsync", "error=EINVAL", 0, 0},  // the file system cannot sync: no failure
        {"close", "error=EIO", EIO, 0},
        {"close", "error=EDQUOT", EDQUOT, 0},
        {"rename", "error=EXDEV", EXDEV, 0},
        {"rename", "error=EACCES", EACCES, 0},
        {"rename", "error=EROFS", EROFS, 0},
        {"rename", "error=EPERM", EPERM, 0},
        {"rename", "error=ENOSPC", ENOSPC, 0},
        {"rename", "error=EBUSY", 0, 0},  // a mount point: written in place
        // The folder, to flush it: one that may not be read flushes its file system.
        {"openat", "error=EACCES", 0, 0, 1, 2},
        {"openat", "error=EACCES", EACCES, 0, 2, 2, true},
        {"openat", "error=EACCES", EIO, 0, 1, 2, true, "syncfs:error=EIO"},
        {"fsync", "error=EIO", EIO, 0, 1, 2, true},
        {"fsync", "error=EINVAL", 0, 0, 1, 2},
        {"write", "signal=SIGTERM", 0, SIGTERM},
        {"write", "signal=SIGINT", 0, SIGINT},
        {"write", "signal=SIGHUP", 0, SIGHUP},
        {"write", "signal=SIGUSR1", 0, SIGUSR1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> faults = {writer_fault(c.call, c.action, c.calls, c.nth)};
        if (c.then != nullptr) {
            const std::string then = c.then;
            faults.push_back(writer_fault(then.substr(0, then.find(':')), then.substr(then.find(':') + 1)));
        }
        SCOPED_TRACE(faults.back());
        TempDir dir;
        write_file(dir.path / "result.bin", "old");
        const Outcome run = run_in(dir.path, {.wrapper = injecting(faults)});
        expect_clean_outcome(run, dir.path, c.err, c.signal, c.replaced);
    }
}

// With tests/preload_faults.c preloaded into the program, and the fault it
// names in AUDIOSIM_FAULT.
Launch preloading(const char* fault) {
    return {.setup = [fault] {
        setenv("LD_PRELOAD", AUDIOSIM_PRELOAD_FAULTS, 1);
        setenv("AUDIOSIM_FAULT", fault, 1);
        // A sanitizer build would refuse a library loaded before its own.
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    }};
}

// A temporary file that stays after a failure is named on a second line, so
// that the user can deal with it: one that cannot be removed, or the complete
// file kept when the rename was refused (a host without one) and writing
// result.bin in place failed.
TEST(Faults, TemporaryFileLeftIsNamed) {
    const struct {
        const char* fault;  // preloaded; none: traced, the rename and the removal failing
        const char* lines;  // group 1: the file named
    } cases[] = {
        {nullptr,
         "audiosim: result.bin: [^\n]*Invalid cross-device link\n"
         "audiosim: (\\.result\\.bin\\.[0-9a-f-]+): cannot remove: Operation not permitted\n"},
        {"copy",
         "audiosim: result.bin: No space left on device\n"
         "audiosim: result.bin: the complete file is kept as (\\.result\\.bin\\.[0-9a-f-]+)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault != nullptr ? c.fault : "traced");
        if (c.fault == nullptr && !can_trace()) {
            std::cout << "[ LEFT OUT ] traced: needs strace, and the right to trace processes here\n";
            continue;
        }
        TempDir dir;
        write_file(dir.path / "result.bin", "old");
        const Outcome run =
            run_in(dir.path, c.fault != nullptr
                                 ? preloading(c.fault)
                                 : Launch{.wrapper = injecting({writer_fault("rename", "error=EXDEV"),
                                                                writer_fault("unlink", "error=EPERM")})});
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status;
        std::smatch match;
        ASSERT_TRUE(std::regex_match(run.err, match, std::regex(c.lines))) << run.err;
        EXPECT_EQ(folder_names(dir.path), (std::set<std::string>{"result.bin", match[1]}));
        expect_good_result(dir.path / match[1].str());
    }
}

// Runs killed while their temporary file exists leave it behind. Where every
// run has the same process id (here each run starts a new pid namespace, so
// the program gets the same small id every time), hundreds of those must not
// stop a later run.
TEST(Faults, StaleTemporaryFilesDoNotStopARun) {
    if (!can_trace()) {
        GTEST_SKIP() << "needs strace, and the right to trace processes here";
    }
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a pid namespace (unshare --pid)";
    }
    constexpr std::size_t killed_runs = 150;
    const auto in_namespace = [](const std::vector<std::string>& faults) {
        std::vector<std::string> words = {"unshare", "--pid", "--fork"};
        std::ranges::copy(injecting(faults), std::back_inserter(words));
        return words;
    };
    TempDir dir;
    for (std::size_t k = 0; k < killed_runs; ++k) {
        run_in(dir.path, {.wrapper = in_namespace({writer_fault("fsync", "signal=SIGKILL")})});
    }
    const std::set<std::string> stale = folder_names(dir.path);
    ASSERT_EQ(stale.size(), killed_runs);
    std::set<std::string> pids;  // ".result.bin.<pid>-"
    for (const auto& name : stale) {
        pids.insert(name.substr(0, name.find('-') + 1));
    }
    EXPECT_EQ(pids.size(), 1U) << "the killed runs had different process ids";
    const Outcome run = run_in(dir.path, {.wrapper = in_namespace({})});
    EXPECT_TRUE(exited_ok(run)) << run.err;
    expect_good_result(dir.path / "result.bin");
}

// With tests/preload_faults.c preloaded: writes cut short at 4096 bytes still
// give the exact file; a failing clock is reported; a file swapped in between
// the look at result.bin and its in-place opening (a file, or a FIFO that no
// one reads) is not written, and the run does not wait.
TEST(Faults, PreloadedFaults) {
    const struct {
        const char* fault;
        bool swap_fifo;
        int err;
    } cases[] = {{"", false, 0}, {"clock", false, EINVAL}, {"swap", false, changed}, {"swap", true, changed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.swap_fifo ? "swap a FIFO" : c.fault);
        TempDir dir;
        write_file(dir.path / "result.bin", "old");
        if (c.swap_fifo) {
            ASSERT_EQ(mkfifo((dir.path / "swap").c_str(), 0644), 0);
        } else {
            write_file(dir.path / "swap", "old");
        }
        const Outcome run = run_in(dir.path, preloading(c.fault));
        fs::remove(dir.path / "swap");
        if (fs::is_fifo(dir.path / "result.bin")) {  // swapped in, and no one will write it
            fs::remove(dir.path / "result.bin");
            write_file(dir.path / "result.bin", "old");
        }
        expect_clean_outcome(run, dir.path, c.err, 0);
    }
}

// A folder where no file can be created, even by root.
TEST(Faults, UnwritableFolderIsReported) {
    expect_reported_failure(run_in("/proc"));
    EXPECT_FALSE(fs::exists("/proc/result.bin"));
}

}  // namespace
