// quarv-cli batch end to end over a folder of small simulated recordings (line, stare and peak
// files, one without extension, one in a sub-folder) with a broken one, a non-recording and an
// output name taken twice: the report and messages are a golden transcript; --jobs 1 and 2, a
// rerun,
// --force, a restart after an interrupted write and the two halves of a split batch must all
// leave the same bytes.
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace quarv {
namespace {

namespace fs = std::filesystem;

class Batch : public ::testing::Test {
protected:
    // Exit status and what was printed, with the folder as DIR, seconds as T and no progress.
    std::string run(const std::string& args, int& code) {
        const std::string command =
            cli_.string() + " " + args + " >" + (dir / "o").string() + " 2>" + (dir / "e").string();
        const int status = std::system(command.c_str());
        code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return clean(read(dir / "o") + read(dir / "e"));
    }
    std::string read(const fs::path& file) {
        std::ifstream in(file);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string clean(const std::string& text) {
        std::istringstream lines(text);
        std::string out;
        for (std::string line; std::getline(lines, line);) {
            for (std::size_t at; (at = line.find(dir.path().string())) != std::string::npos;)
                line.replace(at, dir.path().string().size(), "DIR");
            if (line.rfind("progress ", 0) == 0) continue;
            if (line.rfind("batch: ", 0) == 0 || line.find(" points, ") != std::string::npos)
                line = line.substr(0, line.rfind(", ")) + ", T s";
            std::size_t comma = 0; // the seconds column of a CSV row
            for (int i = 0; i < 11 && comma != std::string::npos; ++i)
                comma = line.find(',', comma + 1);
            if (line.find("DIR/") == 0 && comma != std::string::npos)
                line = line.substr(0, comma + 1) + "T" + line.substr(line.find(',', comma + 1));
            if (const auto at = line.find("\"seconds\": "); at != std::string::npos)
                line = line.substr(0, at) + "\"seconds\": T,";
            out += line + "\n";
        }
        return out;
    }
    // Every file under `root` (the report aside: it holds times) by relative path.
    std::map<std::string, std::vector<std::uint8_t>> files(const fs::path& root) {
        std::map<std::string, std::vector<std::uint8_t>> all;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file() && e.path().filename() != "batch-report.csv")
                all[fs::relative(e.path(), root).string()] = test::readBytes(e.path());
        return all;
    }

    const fs::path cli_ = fs::path(QUARV_BINARY_DIR) / "quarv-cli";
    test::TempDir dir;
};

TEST_F(Batch, CampaignIsTheSameForAnyJobsResumedForcedOrSplit) {
    if (!fs::exists(cli_)) GTEST_SKIP() << cli_ << " is not built";
    fs::create_directories(dir / "in/sub");
    fs::create_directories(dir / "other");
    int code = 0;
    for (const std::string sim :
         {"in/plane.raw --scene plane --distance 4 --shots 24 --lines 8 --samples 400",
          "in/sub/seabed.RAW --scene seabed --type 2 --shots 32 --lines 8",
          "in/harbour --scene harbour --shots 48 --lines 16 --scatterers 3000",
          "in/lines.pek --scene seabed --shots 24 --lines 6",
          "in/stare.raw --scene plane --type 1 --shots 6 --lines 4 --pulses 3 --samples 400"}) {
        run("simulate -o " + (dir / sim).string(), code);
        ASSERT_EQ(code, 0) << sim;
    }
    auto broken = test::readBytes(dir / "in/plane.raw");
    broken.resize(300);
    test::writeBytes(dir / "in/broken.raw", broken);
    test::writeBytes(dir / "in/notes.txt", {'x', '\n'});
    fs::copy_file(dir / "in/plane.raw", dir / "other/plane.raw");
    fs::create_directories(dir / "empty");
    const std::string home = " --home " + (dir / "home").string();
    const auto batch = [&](const std::string& out, const std::string& more) {
        return run("batch " + (dir / "in").string() + " " + (dir / "other/plane.raw").string() +
                       " --out " + (dir / out).string() + " --las --xyz --points --recursive" +
                       home + " " + more,
                   code);
    };
    std::string t = "== jobs 1\n" + batch("one", "--jobs 1");
    t += "exit " + std::to_string(code) + "\n" + clean(read(dir / "one/batch-report.csv"));
    const auto serial = files(dir / "one");
    batch("two", "--jobs 2");
    EXPECT_EQ(code, 3);
    EXPECT_EQ(files(dir / "two"), serial) << "--jobs 2 wrote other bytes";

    t += "== rerun\n" + batch("two", "--jobs 1 --report " + (dir / "r.json").string());
    t += "exit " + std::to_string(code) + "\n" + clean(read(dir / "r.json"));
    batch("two", "--force");
    EXPECT_EQ(files(dir / "two"), serial) << "--force wrote other bytes";

    // A batch killed while writing plane's outputs: a temporary, a cut XYZ and no stamp.
    test::writeBytes(dir / "two/plane.las.tmpAbC123", {'x'});
    fs::resize_file(dir / "two/plane.xyz", 10);
    fs::remove(dir / "two/plane.done");
    t += "== restarted\n" + batch("two", "");
    EXPECT_EQ(files(dir / "two"), serial) << "the restart left other files";

    for (const char* task : {"0", "1"})
        batch("split", std::string("--task ") + task + " --tasks 2 --report " +
                           (dir / "part").string() + task + ".json");
    EXPECT_EQ(files(dir / "split"), serial) << "the split batch wrote other bytes";
    run("batch-merge " + (dir / "merged.csv").string() + " " + (dir / "part0.json").string() + " " +
            (dir / "part1.json").string(),
        code);
    EXPECT_EQ(code, 3);
    std::string merged = clean(read(dir / "merged.csv"));
    for (std::size_t at; (at = merged.find("DIR/split/")) != std::string::npos;)
        merged.replace(at, 10, "DIR/one/");
    EXPECT_EQ(merged, clean(read(dir / "one/batch-report.csv")));

    for (const std::string bad :
         {"batch DIR/empty --out DIR/x --las", "batch DIR/in --out DIR/in/notes.txt/x --las",
          "batch DIR/in --out DIR/x", "batch DIR/in --out DIR/x --las --jobs 0",
          "batch DIR/in --out DIR/x --las --export ply"}) {
        std::string line = bad;
        for (std::size_t at; (at = line.find("DIR")) != std::string::npos;)
            line.replace(at, 3, dir.path().string());
        t += "== " + bad + "\n" + run(line + home, code);
        t += "exit " + std::to_string(code) + "\n";
    }
    test::expectGolden("cli_batch.txt", t);
}

} // namespace
} // namespace quarv
