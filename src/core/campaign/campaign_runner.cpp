#include "core/campaign/campaign_runner.hpp"

#include "core/app/notifier.hpp"
#include "core/campaign/campaign_stamp.hpp"
#include "core/config/config_root.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

namespace quarv {
namespace {

namespace fs = std::filesystem;

// Forwards every message and keeps those of the current recording for its report row.
class SlotSink final : public MessageSink {
public:
    explicit SlotSink(MessageSink& inner) : inner_(inner) {}
    void report(const std::string& text) override {
        {
            std::lock_guard lock(mutex_);
            kept_ += (kept_.empty() ? "" : "; ") + text;
        }
        inner_.report(text);
    }
    std::string take() {
        std::lock_guard lock(mutex_);
        return std::exchange(kept_, {});
    }

private:
    MessageSink& inner_;
    std::mutex mutex_;
    std::string kept_;
};

class SlotNotifier final : public Notifier {
public:
    explicit SlotNotifier(CampaignProgress& progress) : progress_(progress) {}
    void cloudChanged() override {}
    void progress(int percent) override { progress_.percent(index.load(), percent); }
    std::atomic<std::size_t> index{0};

private:
    CampaignProgress& progress_;
};

// What a batch killed during a write left: the temporaries ("NAME.tmpXXXXXX") of this
// recording's own files, so a restarted batch leaves the folder as an uninterrupted one.
void removeStaleTemporaries(const std::vector<fs::path>& targets) {
    for (const fs::path& target : targets) {
        const std::string prefix = target.filename().string() + ".tmp";
        std::error_code ec;
        for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
                fs::remove(it->path(), ec);
        }
    }
}

class Slot {
public:
    Slot(const ConfigRoot& root, const CampaignSettings& settings,
         const std::vector<CampaignOutput>& outputs, const std::string& settingsText,
         CampaignProgress& progress, MessageSink& sink, unsigned workers)
        : settings_(settings), outputs_(outputs), settingsText_(settingsText), sink_(sink),
          notifier_(progress), job_(root, sink_, notifier_, workers) {}

    CampaignRow run(std::size_t index, const CampaignItem& item) {
        notifier_.index = index;
        CampaignRow row;
        row.path = item.source.string();
        row.status = "failed";
        if (!item.problem.empty()) {
            sink_.report(row.path + ": " + item.problem);
            row.message = sink_.take();
            return row;
        }
        const fs::path base = settings_.outDir / item.name;
        std::vector<fs::path> targets;
        for (const CampaignOutput& o : outputs_) {
            fs::path target = base;
            target += o.suffix;
            targets.push_back(target);
            std::error_code ec;
            if (fs::equivalent(target, item.source, ec)) {
                sink_.report(row.path + ": an output would replace the recording itself");
                row.message = sink_.take();
                return row;
            }
        }
        const fs::path stamp = stampPath(base);
        const std::string digest = recordingDigest(settingsText_, item.source);
        CampaignStamp done;
        if (!settings_.force && isUpToDate(stamp, digest, done)) {
            row.summary = done.summary;
            row.status = "skipped";
            for (const fs::path& t : targets) row.outputs.push_back(t.string());
            return row;
        }
        std::error_code ec;
        fs::create_directories(base.parent_path(), ec);
        if (ec) {
            sink_.report(
                formatMessage("ERROR creating output folder: %s", base.parent_path().c_str()));
            row.message = sink_.take();
            return row;
        }
        targets.push_back(stamp);
        removeStaleTemporaries(targets);
        if (!job_.allocated()) {
            sink_.report("ERROR: cannot allocate the point layers");
        } else if (job_.run(item.source, settings_.layer, settings_.overrides)) {
            bool ok = true;
            for (std::size_t i = 0; i < outputs_.size() && ok; ++i)
                ok = outputs_[i].write(job_, targets[i], sink_);
            done = {digest, {}, job_.summary()};
            for (std::size_t i = 0; i < outputs_.size(); ++i)
                done.outputs.push_back(targets[i].filename().string());
            if (ok && !writeStamp(stamp, done)) {
                sink_.report(formatMessage("ERROR writing stamp: %s", stamp.c_str()));
                ok = false;
            }
            if (ok) row.status = "processed";
            for (std::size_t i = 0; ok && i < outputs_.size(); ++i)
                row.outputs.push_back(targets[i].string());
        }
        row.summary = job_.summary();
        row.message = sink_.take();
        return row;
    }

private:
    const CampaignSettings& settings_;
    const std::vector<CampaignOutput>& outputs_;
    const std::string& settingsText_;
    SlotSink sink_;
    SlotNotifier notifier_;
    RecordingJob job_;
};

} // namespace

std::vector<CampaignRow> runCampaign(const std::vector<CampaignItem>& items, const ConfigRoot& root,
                                     const CampaignSettings& settings,
                                     const std::vector<CampaignOutput>& outputs,
                                     CampaignProgress& progress, MessageSink& sink) {
    std::vector<CampaignRow> rows(items.size());
    if (items.empty()) return rows;
    // Read before any run: the runs rewrite laserscan.cfg (with the same completed bytes).
    const std::string settingsText = settings.settingsText + configurationText(root);
    const unsigned jobs =
        std::clamp<unsigned>(settings.jobs, 1u, static_cast<unsigned>(items.size()));
    const unsigned total =
        settings.workers ? settings.workers : std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = std::max(1u, total / jobs);
    std::atomic<std::size_t> next{0};
    const auto slotBody = [&] {
        Slot slot(root, settings, outputs, settingsText, progress, sink, workers);
        for (std::size_t i; (i = next.fetch_add(1)) < items.size();) {
            progress.started(i, items[i]);
            rows[i] = slot.run(i, items[i]);
            progress.finished(i, rows[i]);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < jobs; ++j) threads.emplace_back(slotBody);
    slotBody();
    for (std::thread& t : threads) t.join();
    return rows;
}

} // namespace quarv
