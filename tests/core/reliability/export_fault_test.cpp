// LAS and XYZ exports that cannot complete: a folder the operator may not write into, a file
// system that fills up during the export, a destination that vanished or is a folder. Each must
// report the failure, leave the file already there byte for byte and leave no temporary behind;
// once the fault is gone the same export succeeds.
#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/reliability/fault_support.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>

namespace quarv {
namespace {

namespace fs = std::filesystem;
using test::FileSizeLimit;
using test::TempDir;
using test::WithoutFolderOverride;

enum class Format { Las, Xyz };
enum class Fault { ReadOnlyFolder, FullAfterHeader, FullFromStart, MissingFolder, FolderInTheWay };

struct Case {
    const char* name;
    Format format;
    Fault fault;
};

// 3000 points: about 60 kB of LAS records and 90 kB of text, far past the stream buffers, so the
// failing writes happen in the middle of the export and not only at its end.
std::unique_ptr<CloudStore> storeWithPoints() {
    auto store = std::make_unique<CloudStore>();
    store->setCurrentLayer(1);
    for (int i = 0; i < 3000; ++i) {
        CloudPoint& p = store->nextSlot(1);
        p = CloudPoint{};
        p.x = 0.01f * static_cast<float>(i);
        p.y = -2.0f + 0.001f * static_cast<float>(i);
        p.z = 5.0f;
        p.amplitude = static_cast<float>(i % 900);
        p.valid = 1;
        store->addStatistics(1, false, 5.0f, p.amplitude, 0.0f, p);
        store->commit(1);
    }
    return store;
}

bool exportTo(Format f, const CloudStore& store, const fs::path& path, MessageSink& sink) {
    return f == Format::Las ? exportLas(store, path, sink) : exportXyz(store, path, sink);
}

std::string expectedMessage(Format f, const fs::path& path) {
    return formatMessage(f == Format::Las ? "ERROR writing LAS file: %s"
                                          : "ERROR writing XYZ file: %s",
                         path.c_str());
}

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename());
    return names;
}

// True when the calling thread can create a file in `dir` (the fault is not in force).
bool canCreateIn(const fs::path& dir) {
    const fs::path probe = dir / "probe";
    std::ofstream out(probe);
    const bool ok = static_cast<bool>(out);
    out.close();
    fs::remove(probe);
    return ok;
}

class ExportFault : public ::testing::TestWithParam<Case> {};

TEST_P(ExportFault, ReportsAndLeavesTheExistingFileUntouched) {
    const Case c = GetParam();
    TempDir tmp;
    const auto store = storeWithPoints();
    const fs::path folder = tmp / "exports";
    fs::create_directory(folder);
    const fs::path target = folder / (c.format == Format::Las ? "survey.las" : "survey.xyz");
    const std::vector<std::uint8_t> precious = {'k', 'e', 'e', 'p', ' ', 'm', 'e', '\n'};
    fs::path path = target;
    switch (c.fault) {
    case Fault::MissingFolder:
        path = tmp / "gone" / target.filename();
        break;
    case Fault::FolderInTheWay:
        fs::create_directory(target);
        test::writeBytes(target / "inside", precious);
        break;
    default:
        test::writeBytes(target, precious);
    }
    const std::set<std::string> before = namesIn(folder);

    RecordingSink sink;
    {
        std::unique_ptr<WithoutFolderOverride> noOverride;
        std::unique_ptr<FileSizeLimit> limit;
        if (c.fault == Fault::ReadOnlyFolder) {
            ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
            noOverride = std::make_unique<WithoutFolderOverride>();
            ASSERT_FALSE(canCreateIn(folder)) << "the folder must refuse new files for this test";
        }
        if (c.fault == Fault::FullAfterHeader || c.fault == Fault::FullFromStart) {
            limit = std::make_unique<FileSizeLimit>(c.fault == Fault::FullAfterHeader ? 1000 : 0);
            ASSERT_TRUE(limit->active());
        }
        EXPECT_FALSE(exportTo(c.format, *store, path, sink));
    }
    ::chmod(folder.c_str(), 0755);

    EXPECT_EQ(sink.messages(), std::vector<std::string>{expectedMessage(c.format, path)});
    EXPECT_EQ(namesIn(folder), before) << "no temporary file may stay behind";
    if (c.fault == Fault::FolderInTheWay) {
        EXPECT_TRUE(fs::is_directory(target));
        EXPECT_EQ(test::readBytes(target / "inside"), precious);
        return;
    }
    if (c.fault == Fault::MissingFolder) {
        fs::create_directory(path.parent_path());
    } else {
        EXPECT_EQ(test::readBytes(target), precious);
    }

    // With the fault gone the same export goes through and replaces the file.
    sink.clear();
    ASSERT_TRUE(exportTo(c.format, *store, path, sink)) << sink.last();
    EXPECT_GT(fs::file_size(path), 40000u);
    EXPECT_TRUE(sink.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Exports, ExportFault,
    ::testing::Values(Case{"LasReadOnlyFolder", Format::Las, Fault::ReadOnlyFolder},
                      Case{"XyzReadOnlyFolder", Format::Xyz, Fault::ReadOnlyFolder},
                      Case{"LasFullAfterHeader", Format::Las, Fault::FullAfterHeader},
                      Case{"XyzFullAfterHeader", Format::Xyz, Fault::FullAfterHeader},
                      Case{"LasFullFromStart", Format::Las, Fault::FullFromStart},
                      Case{"XyzFullFromStart", Format::Xyz, Fault::FullFromStart},
                      Case{"LasMissingFolder", Format::Las, Fault::MissingFolder},
                      Case{"XyzMissingFolder", Format::Xyz, Fault::MissingFolder},
                      Case{"LasFolderInTheWay", Format::Las, Fault::FolderInTheWay},
                      Case{"XyzFolderInTheWay", Format::Xyz, Fault::FolderInTheWay}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

} // namespace
} // namespace quarv
