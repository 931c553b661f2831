// Broken and hostile files handed to `quarv-cli info` and `quarv-cli process`, and names that are
// folders or FIFOs. Every run must end on its own with exit 0 or 1, say something on exit 1, show
// no sanitizer report and stay below 2 GiB.
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kCli = fs::path(QUARV_BINARY_DIR) / "quarv-cli";
constexpr auto kTimeout = std::chrono::seconds(90);
constexpr long kMemoryLimitKb = 2L * 1024 * 1024;

struct Outcome {
    bool exited = false;
    int code = -1;
    int signal = 0;
    bool timedOut = false;
    long maxRssKb = 0;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& args, const fs::path& scratch) {
    const fs::path outPath = scratch / "stdout.txt", errPath = scratch / "stderr.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Outcome o;
    int status = 0;
    rusage usage{};
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            o.timedOut = true;
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    o.exited = WIFEXITED(status);
    o.code = o.exited ? WEXITSTATUS(status) : -1;
    o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    o.maxRssKb = usage.ru_maxrss;
    const auto text = [](const fs::path& p) {
        const Bytes b = test::readBytes(p);
        return std::string(b.begin(), b.end());
    };
    o.out = text(outPath);
    o.err = text(errPath);
    return o;
}

class HostileFilesCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kCli)) GTEST_SKIP() << kCli << " is not built";
    }
    void expectCleanEnd(const Outcome& o, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(o.timedOut) << "did not end within " << kTimeout.count() << " s";
        EXPECT_TRUE(o.exited) << "ended by signal " << o.signal << "\n" << o.err;
        EXPECT_TRUE(o.code == 0 || o.code == 1) << "exit " << o.code << "\n" << o.err;
        if (o.code == 1) {
            EXPECT_FALSE(o.err.empty()) << "exit 1 without a message";
        }
        EXPECT_EQ(o.err.find("Sanitizer"), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << o.err;
        EXPECT_LT(o.maxRssKb, kMemoryLimitKb) << "peak memory " << o.maxRssKb / 1024 << " MiB";
    }
    test::TempDir dir;
};

// Every file of tests/slow/hostile/ (made once with the program's own writers, then broken: cut
// short, counts of 65535 or 2^32, NaN calibrations, interpolation beyond the buffers, LAS headers
// that contradict themselves, ...) through info and process. What each run says is kept as a
// golden transcript, so that the messages stay those users know.
TEST_F(HostileFilesCli, InfoAndProcessEndCleanlyOnEveryHostileFile) {
    const fs::path home = dir / "home";
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(QUARV_SOURCE_DIR) / "tests/slow/hostile"))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 40u);
    std::string transcript;
    const auto say = [&](const std::string& what, const Outcome& o, const fs::path& file) {
        std::string err = o.err;
        for (std::size_t at; (at = err.find(file.string())) != std::string::npos;)
            err.replace(at, file.string().size(), file.filename().string());
        const std::size_t time = err.rfind(", ");
        if (o.code == 0 && time != std::string::npos) err = err.substr(0, time) + "\n";
        transcript += "== " + what + " " + file.filename().string() + ": exit " +
                      std::to_string(o.code) + "\n" + err;
    };
    long peakKb = 0;
    std::string hungriest;
    for (const fs::path& source : files) {
        const fs::path file = dir / source.filename();
        fs::copy_file(source, file);
        const Outcome i = run({kCli.string(), "info", file.string()}, dir.path());
        expectCleanEnd(i, "info " + file.filename().string());
        say("info", i, file);
        const Outcome p =
            run({kCli.string(), "process", file.string(), "--home", home.string()}, dir.path());
        expectCleanEnd(p, "process " + file.filename().string());
        say("process", p, file);
        if (p.maxRssKb > peakKb) peakKb = p.maxRssKb, hungriest = file.filename().string();
        fs::remove(file);
    }
    test::expectGolden("cli_hostile.txt", transcript);
    std::printf("peak memory of a process run: %ld MiB (%s)\n", peakKb / 1024, hungriest.c_str());
}

TEST_F(HostileFilesCli, FoldersFifosAndMissingNamesEndCleanly) {
    const fs::path home = dir / "home";
    for (const char* name : {"folder.raw", "folder.3DC", "folder.las"})
        fs::create_directory(dir / name);
    for (const char* name : {"fifo.raw", "fifo.3DC", "fifo.las"})
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
    for (const char* name : {"folder.raw", "folder.3DC", "folder.las", "fifo.raw", "fifo.3DC",
                             "fifo.las", "missing.raw", "missing.3DC", "missing.las"}) {
        const fs::path file = dir / name;
        const Outcome i = run({kCli.string(), "info", file.string()}, dir.path());
        expectCleanEnd(i, std::string("info ") + name);
        EXPECT_EQ(i.code, 1) << name;
        const Outcome p =
            run({kCli.string(), "process", file.string(), "--home", home.string()}, dir.path());
        expectCleanEnd(p, std::string("process ") + name);
        EXPECT_EQ(p.code, 1) << name;
    }
}

} // namespace
} // namespace quarv
