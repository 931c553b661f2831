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

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
    return names;
}

TEST(ExportFault, ReportsAndLeavesTheExistingFileUntouched) {
    // 3000 points: far past the stream buffers, so writes fail in the middle of the export.
    auto store = std::make_unique<CloudStore>();
    store->setCurrentLayer(1);
    for (int i = 0; i < 3000; ++i)
        test::addPoint(*store, 1,
                       {.x = 0.01f * i, .y = -2 + 0.001f * i, .z = 5, .amplitude = i % 900 + 0.5f});
    for (const bool las : {true, false}) {
        for (const Fault fault : {Fault::FullAfterHeader, Fault::FullFromStart,
                                  Fault::MissingFolder, Fault::FolderInTheWay}) {
            SCOPED_TRACE(testing::Message() << (las ? "LAS" : "XYZ") << " fault " << int(fault));
            test::TempDir tmp;
            const fs::path folder = tmp / "exports",
                           target = folder / (las ? "survey.las" : "survey.xyz");
            const fs::path path = fault == Fault::MissingFolder ? tmp / "gone" / "x" : target;
            const std::vector<std::uint8_t> precious = {'k', 'e', 'e', 'p', '\n'};
            fs::create_directories(fault == Fault::FolderInTheWay ? target : folder);
            test::writeBytes(fault == Fault::FolderInTheWay ? target / "inside" : target, precious);
            const std::set<std::string> before = namesIn(folder);
            const auto run = [&](MessageSink& sink) {
                return las ? exportLas(*store, path, sink) : exportXyz(*store, path, sink);
            };
            RecordingSink sink;
            {
                std::optional<FileSizeLimit> limit;
                if (fault == Fault::FullAfterHeader || fault == Fault::FullFromStart) {
                    limit.emplace(fault == Fault::FullAfterHeader ? 1000 : 0);
                    ASSERT_TRUE(limit->active);
                }
                EXPECT_FALSE(run(sink));
            }
            const std::string what = las ? "ERROR writing LAS file: " : "ERROR writing XYZ file: ";
            EXPECT_EQ(sink.messages(), std::vector<std::string>{what + path.string()});
            EXPECT_EQ(namesIn(folder), before) << "no temporary file may stay behind";
            EXPECT_EQ(test::readBytes(fault == Fault::FolderInTheWay ? target / "inside" : target),
                      precious);
            if (fault == Fault::FolderInTheWay) continue;
            fs::create_directories(path.parent_path());
            sink.clear();
            ASSERT_TRUE(run(sink)) << sink.last(); // with the fault gone the export goes through
            EXPECT_GT(fs::file_size(path), 40000u);
        }
    }
}

} // namespace
} // namespace quarv
