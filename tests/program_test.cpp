// The built program run as a user runs it, a row per setup: earlier files, links, pipes, devices, mounts,
// another user, failing calls, a file-size limit. The environment's AUDIOSIM_PROGRAM names another
// build to run than the one built with it, and AUDIOSIM_EMULATOR a command to run it under (qemu,
// valgrind, wine).
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t expected_size = 88200;
constexpr uLong expected_crc = 0x613D7271;
// Bounds on every run: its files (wine may rewrite its 2 MiB registry) and its
// time in 10 ms steps.
constexpr rlim_t run_file_limit = rlim_t{8} << 20;
constexpr int run_time_steps = 2000;

// What a row needs beyond the program: a shell probe, run as the row's user, that succeeds where it is.
struct Need {
    const char* probe;
    const char* reason;
};
const Need nothing = {"true", ""};
const Need other_user = {
    R"(for w; do case $w in /*) test -r "$w" || exit; esac; done)",
    "needs setpriv, the right to become user 65534, and the runner's files readable by it"};
const Need acl = {"touch f && setfacl -m u:65534:--- f", "needs setfacl (acl) and a file system with ACLs"};
const Need tracer = {"strace -f -o /dev/null true", "needs strace and the right to trace processes here"};
const Need mounts = {
    R"sh(unshare -m --propagation unchanged sh -c 'mount --make-rprivate "$(stat -c %m .)"')sh",
    "needs a mount namespace whose mounts can be made private (CAP_SYS_ADMIN, no chroot)"};

// The run itself, its words in the shell commands around it.
#define RUN "\"$@\""

struct Row {
    const char* name;
    const char* prepare = "";            // shell commands in the run's folder, as the row's user
    const char* wrapper = RUN;           // shell command around the run; its status is the run's
    int err = 0;                         // errno of the one line reported; 0: success
    const char* tone_in = "result.bin";  // the file that must hold the tone; nullptr: none
    const Need* need = &nothing;
    bool untouched = false;  // result.bin keeps its content
    int runs = 1;            // at once
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// A regular file's bytes, or nothing (no FIFO is opened, no folder read).
std::string read_file(const fs::path& path) {
    std::string text;
    if (fs::is_regular_file(path)) {
        std::ifstream in(path, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
}

std::set<std::string> folder_names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Which file a name is (a link not followed), with its kind, mode, owner,
// links and extended attributes (ACLs among them).
auto identity(const fs::path& path) {
    struct stat st {};
    const int found = lstat(path.c_str(), &st);
    std::string names(4096, '\0');
    const ssize_t listed = llistxattr(path.c_str(), names.data(), names.size());
    names.resize(listed > 0 ? static_cast<std::size_t>(listed) : 0);
    std::string attributes;
    for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
        std::string value(4096, '\0');
        const ssize_t size = lgetxattr(path.c_str(), &names[at], value.data(), value.size());
        attributes.append(&names[at])
            .append("=")
            .append(value, 0, size > 0 ? static_cast<std::size_t>(size) : 0);
    }
    return std::tuple(found, st.st_ino, st.st_mode, st.st_uid, st.st_gid, st.st_nlink, attributes);
}

// A fresh folder, removed with everything in it at the end of the row.
struct TempDir {
    fs::path path;
    ~TempDir() { fs::remove_all(path); }
};

// Runs words in dir, runs times at once, each in a process group of its own
// with its files bounded, output and errors to out and err; a run that
// outlives its bound is killed with all it started. Returns the status of
// the last run to fail, or 0.
int run(const std::vector<std::string>& words, const fs::path& dir, const fs::path& out, const fs::path& err,
        int runs = 1) {
    std::vector<char*> argv(words.size() + 1, nullptr);  // the last stays null
    std::ranges::transform(words, argv.begin(),
                           [](const auto& word) { return const_cast<char*>(word.c_str()); });
    std::vector<pid_t> pids;
    for (int k = 0; k < runs; ++k) {
        EXPECT_EQ(std::fflush(nullptr), 0);  // so the child does not repeat the test's pending output
        pids.push_back(fork());
        if (pids.back() == 0) {
            const rlimit size = {run_file_limit, run_file_limit};
            if (setpgid(0, 0) == 0 && setrlimit(RLIMIT_FSIZE, &size) == 0 && chdir(dir.c_str()) == 0 &&
                std::freopen(out.c_str(), "a", stdout) != nullptr &&
                std::freopen(err.c_str(), "a", stderr) != nullptr) {
                execvp(argv[0], argv.data());
            }
            _exit(127);
        }
    }
    int last_failure = 0;  // one bound for all the runs at once
    for (int step = 0; !pids.empty(); ++step) {
        std::erase_if(pids, [&](pid_t pid) {
            int status = 0;
            if (step < run_time_steps && waitpid(pid, &status, WNOHANG) == 0) {
                return false;
            }
            kill(-pid, SIGKILL);  // past the bound; or whatever the run left behind
            waitpid(pid, &status, 0);
            last_failure = status != 0 ? status : last_failure;
            return true;
        });
        usleep(10000);
    }
    return last_failure;
}

class Output : public testing::TestWithParam<Row> {};

TEST_P(Output, Run) {
    const Row& row = GetParam();
    // A user other than root runs such rows as itself; root runs them as
    // 65534, in a folder that user owns and may reach, whatever TMPDIR is.
    const bool switching = row.need == &other_user && geteuid() == 0;
    std::string pattern =
        ((switching ? fs::path("/tmp") : fs::temp_directory_path()) / "audiosim-XXXXXX").string();
    const TempDir base{mkdtemp(pattern.data())};
    const fs::path work = base.path / "work";
    const fs::path out = base.path / "out";
    const fs::path err = base.path / "err";
    const char* built = std::getenv("AUDIOSIM_PROGRAM");
    std::string program = built != nullptr ? built : AUDIOSIM_PROGRAM;
    std::vector<std::string> words;
    fs::create_directories(work);
    if (switching) {
        fs::copy_file(program, base.path / "audiosim");
        program = base.path / "audiosim";
        for (const auto& dir : {base.path, work}) {
            ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
        }
        // Coverage counts of the copy go to its own folder.
        words = {"setpriv",        "--reuid=65534", "--regid=65534",
                 "--clear-groups", "env",           "GCOV_PREFIX=" + base.path.string()};
    }
    const auto shell = [&](const char* command, const fs::path& dir, int runs = 1) {
        std::vector<std::string> command_words = words;
        command_words.insert(command_words.end(), {"sh", "-c", command, "sh"});
        if (const char* emulator = std::getenv("AUDIOSIM_EMULATOR")) {
            std::istringstream emulator_words(emulator);
            command_words.insert(command_words.end(), std::istream_iterator<std::string>(emulator_words), {});
        }
        command_words.push_back(program);
        return run(command_words, dir, out, err, runs);
    };
    if (shell(row.need->probe, base.path) != 0) {
        // Where every need is met by design (CI's own machine), a missing one is a fault.
        if (AUDIOSIM_NO_SKIP) {
            FAIL() << row.need->reason << " (AUDIOSIM_NO_SKIP)";
        }
        GTEST_SKIP() << row.need->reason;
    }
    ASSERT_EQ(shell(row.prepare, work), 0) << read_file(err);
    const auto before = identity(work / "result.bin");
    const std::string content = read_file(work / "result.bin");
    std::set<std::string> names = folder_names(work);
    names.insert({"result.bin", row.tone_in != nullptr ? row.tone_in : "result.bin"});
    fs::remove(out);
    fs::remove(err);
    const int status = shell(row.wrapper, work, row.runs);

    // Less the runners' notes (strace's; wine's, even of a crash of its own helpers: the status and
    // the file tell of the program's), and Windows' CR before LF.
    std::string errors;
    std::istringstream lines(read_file(err));
    for (std::string line; std::getline(lines, line);) {
        const bool note = line.starts_with("strace: ") || line.starts_with("wine: ");
        errors += note ? "" : line.substr(0, line.find('\r')) + "\n";
    }
    EXPECT_EQ(read_file(out), "");
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -status, row.err != 0 ? 1 : 0);
    EXPECT_EQ(errors,
              row.err != 0 ? "audiosim: result.bin: " + std::string(std::strerror(row.err)) + "\n" : "");
    if (std::get<0>(before) == 0) {  // the same file, with all it had
        EXPECT_EQ(identity(work / "result.bin"), before);
    }
    EXPECT_TRUE(!row.untouched || read_file(work / "result.bin") == content) << "result.bin changed";
    for (const auto& name : folder_names(work)) {
        EXPECT_TRUE(names.contains(name)) << "left beside it: " << name;
    }
    if (row.tone_in != nullptr) {
        const std::string bytes = read_file(work / row.tone_in);
        const uLong crc =
            crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
        EXPECT_EQ(std::pair(bytes.size(), crc), std::pair(expected_size, expected_crc));
    }
}

// The run failing a call on result.bin (LeakSanitizer cannot work under a
// tracer); under a file-size limit with SIGXFSZ ignored, so that the kernel
// takes what fits, then refuses the rest with EFBIG.
#define TRACED(fault) \
    "strace -f -o /dev/null -E ASAN_OPTIONS=detect_leaks=0 -P result.bin -e inject=" fault " " RUN
#define LIMITED(bytes)                                                                                \
    "trap '' XFSZ; prlimit --fsize=" #bytes " " RUN "; s=$?; test $(stat -c %s result.bin) = " #bytes \
    " || exit 99; exit $s"
// Earlier files: a short one, and a longer one of zeros to be written over.
#define OLD "echo old >result.bin"
#define LONGER "head -c 100000 /dev/zero >"

const Row rows[] = {
    {.name = "fresh_folder", .wrapper = "umask 022; " RUN " && test $(stat -c %a result.bin) = 644"},
    {.name = "fresh_folder_umask_077",
     .wrapper = "umask 077; " RUN " && test $(stat -c %a result.bin) = 600"},
    {.name = "arguments_ignored", .wrapper = RUN " --help -o other.bin"},
    {.name = "earlier_longer_file",
     .prepare = LONGER "result.bin && chmod 640 result.bin && setfacl -m u:65534:--- result.bin",
     .need = &acl},
    {.name = "second_hard_link", .prepare = OLD " && ln result.bin other", .tone_in = "other"},
    {.name = "link_to_a_file",
     .prepare = "mkdir o && " LONGER "o/t && ln -s o/t result.bin",
     .tone_in = "o/t"},
    {.name = "dangling_link", .prepare = "ln -s missing result.bin", .tone_in = "missing"},
    {.name = "dev_null", .prepare = "ln -s /dev/null result.bin", .tone_in = nullptr},
    {.name = "dev_full", .prepare = "ln -s /dev/full result.bin", .err = ENOSPC, .tone_in = nullptr},
    {.name = "fifo_with_a_reader",
     .prepare = "mkfifo result.bin && touch h",
     .wrapper = "timeout 10 cat result.bin >h & " RUN "; s=$?; wait; exit $s",
     .tone_in = "h"},
    {.name = "folder", .prepare = "mkdir result.bin", .err = EISDIR, .tone_in = nullptr, .untouched = true},
    {.name = "read_only_file_of_its_owner",
     .prepare = OLD " && chmod 444 result.bin",
     .err = EACCES,
     .tone_in = nullptr,
     .need = &other_user,
     .untouched = true},
    // The folder is opened again for its removal.
    {.name = "locked_folder",
     .prepare = LONGER "result.bin && chmod 555 .",
     .wrapper = RUN "; s=$?; chmod 755 .; exit $s",
     .need = &other_user},
    {.name = "bind_mounted_file",
     .prepare = LONGER "o && touch result.bin",
     .wrapper = R"sh(unshare -m --propagation unchanged sh -c 'mount --make-rprivate "$(stat -c %m .)" && )sh"
                R"sh(mount --bind o result.bin && "$@"' sh "$@")sh",
     .tone_in = "o",
     .need = &mounts},
    {.name = "traced_open_fails",
     .prepare = OLD,
     .wrapper = TRACED("openat:error=EPERM"),
     .err = EPERM,
     .tone_in = nullptr,
     .need = &tracer,
     .untouched = true},
    {.name = "traced_write_fails",
     .prepare = OLD,
     .wrapper = TRACED("write:error=ENOSPC"),
     .err = ENOSPC,
     .tone_in = nullptr,
     .need = &tracer},
    // A failure without a reason (close answers 1) reads EIO; of two failures, the first one's is told.
    {.name = "traced_close_fails_without_reason",
     .prepare = OLD,
     .wrapper = TRACED("close:retval=1"),
     .err = EIO,
     .need = &tracer},
    {.name = "traced_write_and_close_fail",
     .prepare = OLD,
     .wrapper = TRACED("write:error=ENOSPC -e inject=close:error=EDQUOT"),
     .err = ENOSPC,
     .tone_in = nullptr,
     .need = &tracer},
    {.name = "traced_close_fails",
     .prepare = OLD,
     .wrapper = TRACED("close:error=EDQUOT"),
     .err = EDQUOT,
     .need = &tracer},
    {.name = "size_limit_cuts_the_write", .wrapper = LIMITED(51200), .err = EFBIG, .tone_in = nullptr},
    {.name = "size_limit_just_fits", .wrapper = LIMITED(88200)},
    {.name = "sixteen_runs_at_once", .runs = 16},
};

INSTANTIATE_TEST_SUITE_P(, Output, testing::ValuesIn(rows),
                         [](const testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
