#include "core/cloud/cloud_export.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/config/atomic_file.hpp"

#include <cstdio>
#include <vector>

namespace quarv {

bool exportLas(const CloudRenderer& renderer, const std::filesystem::path& path,
               MessageSink& sink) {
    return exportLas(renderer.store(), path, sink);
}

bool exportXyz(const CloudStore& store, const std::filesystem::path& path, MessageSink& sink) {
    AtomicFileWriter out;
    bool ok = out.open(path);
    if (ok) {
        constexpr std::size_t kFlushAt = 1 << 16;
        std::vector<char> buffer(kFlushAt + 256);
        std::size_t used = 0;
        store.forEachVisible([&](std::uint32_t, const CloudPoint& p) {
            // The line ends CR LF as the text-mode files of the workstation always have.
            const int n = std::snprintf(buffer.data() + used, buffer.size() - used,
                                        "%.6f %.6f %.6f\r\n", static_cast<double>(p.x),
                                        static_cast<double>(p.y), static_cast<double>(p.z));
            if (n > 0 && static_cast<std::size_t>(n) < buffer.size() - used) {
                used += static_cast<std::size_t>(n);
            } else {
                ok = false; // a line longer than the reserve: only an f32 near 3.4e38 comes close
            }
            if (used >= kFlushAt) {
                ok = out.write(buffer.data(), used) && ok;
                used = 0;
            }
        });
        ok = out.write(buffer.data(), used) && ok;
        ok = ok && out.commit();
    }
    if (!ok) {
        out.abandon();
        sink.report(formatMessage("ERROR writing XYZ file: %s", path.c_str()));
    }
    return ok;
}

bool exportXyz(const CloudRenderer& renderer, const std::filesystem::path& path,
               MessageSink& sink) {
    return exportXyz(renderer.store(), path, sink);
}

} // namespace quarv
