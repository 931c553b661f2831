#include "core/config/atomic_file.hpp"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quarv {

AtomicFileWriter::~AtomicFileWriter() {
    abandon();
}

bool AtomicFileWriter::open(const std::filesystem::path& target) {
    abandon();
    target_ = target;
    std::string pattern = target.string() + ".tmpXXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return false;
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        ::unlink(pattern.c_str());
        return false;
    }
    temp_ = pattern;
    failed_ = false;
    return true;
}

bool AtomicFileWriter::write(const void* data, std::size_t size) {
    if (!file_) return false;
    if (size && std::fwrite(data, 1, size, file_) != size) failed_ = true;
    return !failed_;
}

bool AtomicFileWriter::commit() {
    if (!file_) return false;
    bool ok = !failed_ && std::fflush(file_) == 0 && !std::ferror(file_);
    ok = (::fsync(::fileno(file_)) == 0) && ok;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    // mkstemp creates 0600; give the file the permissions an ordinary create would.
    if (ok) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ok = ::chmod(temp_.c_str(), 0666 & ~mask) == 0;
    }
    if (ok) ok = std::rename(temp_.c_str(), target_.c_str()) == 0;
    if (!ok) ::unlink(temp_.c_str());
    temp_.clear();
    return ok;
}

void AtomicFileWriter::abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}

bool writeFileAtomically(const std::filesystem::path& target, const void* data, std::size_t size) {
    AtomicFileWriter w;
    return w.open(target) && w.write(data, size) && w.commit();
}

} // namespace quarv
