// LAS and XYZ exports that cannot complete: a file system that fills up during the export, a
// destination that vanished or is a folder. Each must report the failure, leave the file already
// there byte for byte and leave no temporary behind; once the fault is gone the export succeeds.
#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <set>
#include <sys/resource.h>

namespace quarv {
namespace {

namespace fs = std::filesystem;

// Every file this process writes ends at `bytes`: a write beyond fails with EFBIG as one onto a
// full file system fails with ENOSPC (SIGXFSZ ignored meanwhile).
struct FileSizeLimit {
    rlimit saved{};
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    bool active = false;
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        active = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        if (active) ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }
};

enum class Fault { FullAfterHeader, FullFromStart, MissingFolder, FolderInTheWay };
struct Case {
    const char* name;
    bool las;
    Fault fault;
};

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
    return names;
}

class ExportFault : public ::testing::TestWithParam<Case> {};

TEST_P(ExportFault, ReportsAndLeavesTheExistingFileUntouched) {
    const Case c = GetParam();
    // 3000 points: far past the stream buffers, so writes fail in the middle of the export.
    auto store = std::make_unique<CloudStore>();
    store->setCurrentLayer(1);
    for (int i = 0; i < 3000; ++i)
        test::addPoint(*store, 1,
                       {.x = 0.01f * i, .y = -2 + 0.001f * i, .z = 5, .amplitude = i % 900 + 0.5f});
    test::TempDir tmp;
    const fs::path folder = tmp / "exports";
    fs::create_directory(folder);
    const fs::path target = folder / (c.las ? "survey.las" : "survey.xyz");
    const std::vector<std::uint8_t> precious = {'k', 'e', 'e', 'p', '\n'};
    const fs::path path =
        c.fault == Fault::MissingFolder ? tmp / "gone" / target.filename() : target;
    if (c.fault == Fault::FolderInTheWay) fs::create_directory(target);
    test::writeBytes(c.fault == Fault::FolderInTheWay ? target / "inside" : target, precious);
    const std::set<std::string> before = namesIn(folder);
    const auto run = [&](MessageSink& sink) {
        return c.las ? exportLas(*store, path, sink) : exportXyz(*store, path, sink);
    };
    RecordingSink sink;
    {
        std::optional<FileSizeLimit> limit;
        if (c.fault == Fault::FullAfterHeader || c.fault == Fault::FullFromStart) {
            limit.emplace(c.fault == Fault::FullAfterHeader ? 1000 : 0);
            ASSERT_TRUE(limit->active);
        }
        EXPECT_FALSE(run(sink));
    }
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{
                  std::string(c.las ? "ERROR writing LAS file: " : "ERROR writing XYZ file: ") +
                  path.string()});
    EXPECT_EQ(namesIn(folder), before) << "no temporary file may stay behind";
    if (c.fault == Fault::FolderInTheWay) {
        EXPECT_EQ(test::readBytes(target / "inside"), precious);
        return;
    }
    EXPECT_EQ(test::readBytes(target), precious);
    if (c.fault == Fault::MissingFolder) fs::create_directory(path.parent_path());
    sink.clear();
    ASSERT_TRUE(run(sink)) << sink.last(); // with the fault gone the export goes through
    EXPECT_GT(fs::file_size(path), 40000u);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, ExportFault,
    ::testing::Values(Case{"LasFullAfterHeader", true, Fault::FullAfterHeader},
                      Case{"XyzFullAfterHeader", false, Fault::FullAfterHeader},
                      Case{"LasFullFromStart", true, Fault::FullFromStart},
                      Case{"XyzFullFromStart", false, Fault::FullFromStart},
                      Case{"LasMissingFolder", true, Fault::MissingFolder},
                      Case{"XyzMissingFolder", false, Fault::MissingFolder},
                      Case{"LasFolderInTheWay", true, Fault::FolderInTheWay},
                      Case{"XyzFolderInTheWay", false, Fault::FolderInTheWay}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

} // namespace
} // namespace quarv
