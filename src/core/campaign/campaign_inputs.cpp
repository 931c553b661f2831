#include "core/campaign/campaign_inputs.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/config_root.hpp"
#include "core/scanfile/playback_file.hpp"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

namespace quarv {
namespace {

namespace fs = std::filesystem;

std::string lowerExtension(const fs::path& p) {
    std::string e = p.extension().string();
    for (char& c : e)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return e;
}

fs::path canonicalOrSelf(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::weakly_canonical(p, ec);
    return ec ? p : c;
}

struct Walk {
    bool recursive;
    const fs::path& outDir; // canonical
    std::vector<CampaignItem>& found;
    std::set<fs::path> visited; // a link back up the tree is not followed round again

    void folder(const fs::path& dir, const fs::path& relative) {
        if (!visited.insert(canonicalOrSelf(dir)).second) return;
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec) {
            found.push_back({dir, relative, "cannot read folder: " + ec.message()});
            return;
        }
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            const fs::path entry = it->path();
            const std::string file = entry.filename().string();
            if (file.empty() || file[0] == '.') continue;
            std::error_code typeError;
            if (it->is_directory(typeError)) {
                if (recursive && canonicalOrSelf(entry) != outDir)
                    this->folder(entry, relative / file);
            } else if (isRecordingFile(entry)) {
                found.push_back({entry, relative / entry.stem(), ""});
            }
        }
        if (ec) found.push_back({dir, relative, "cannot read folder: " + ec.message()});
    }
};

} // namespace

bool isRecordingFile(const fs::path& path) {
    const std::string extension = lowerExtension(path);
    if (extension == ".raw" || extension == ".pek") return true;
    if (!isRegularFile(path)) return false;
    // Cheap refusal first: most files in a survey folder are not recordings.
    std::ifstream in(path, std::ios::binary);
    unsigned char version[2] = {};
    if (!in.read(reinterpret_cast<char*>(version), 2) || version[0] != 3 || version[1] != 0)
        return false;
    NullSink quiet;
    PlaybackFile reader(quiet);
    return reader.open(path);
}

std::vector<CampaignItem> collectRecordings(const std::vector<fs::path>& inputs, bool recursive,
                                            const fs::path& outDir,
                                            std::vector<std::string>& notes) {
    const fs::path out = canonicalOrSelf(outDir);
    std::vector<CampaignItem> items;
    for (const fs::path& input : inputs) {
        std::error_code ec;
        const fs::file_status status = fs::status(input, ec);
        if (!fs::exists(status)) {
            items.push_back({input, input.stem(), "no such file or folder"});
        } else if (fs::is_directory(status)) {
            std::vector<CampaignItem> found;
            Walk{recursive, out, found, {}}.folder(input, {});
            std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
                return a.name.native() < b.name.native();
            });
            if (found.empty()) notes.push_back("no recordings in " + input.string());
            items.insert(items.end(), found.begin(), found.end());
        } else {
            items.push_back({input, input.stem(), ""});
        }
    }
    // One recording reached twice is one item; two recordings with one output name are not:
    // the first keeps the name, the others are refused rather than overwriting its outputs.
    std::set<fs::path> sources;
    std::map<fs::path, fs::path> owners;
    std::vector<CampaignItem> unique;
    for (CampaignItem& item : items) {
        if (!item.problem.empty()) {
            unique.push_back(std::move(item));
            continue;
        }
        if (!sources.insert(canonicalOrSelf(item.source)).second) continue;
        const auto [owner, isNew] = owners.emplace(item.name, item.source);
        if (!isNew)
            item.problem = "output name " + item.name.string() + " is already that of " +
                           owner->second.string();
        unique.push_back(std::move(item));
    }
    return unique;
}

} // namespace quarv
