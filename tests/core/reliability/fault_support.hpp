// Fault injection for the reliability tests, without mounting anything: a folder the test thread
// cannot write into even as root, and a file system that fills up after a given number of bytes.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quarv::test {

// Drops, for the calling thread only, the capabilities that let root write into a folder whose
// permissions forbid it (capabilities are per thread on Linux); restores them on destruction.
// Without root there is nothing to drop and the folder's permissions apply as they are.
class WithoutFolderOverride {
public:
    WithoutFolderOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            lowered[cap / 32].effective &= ~(1u << (cap % 32));
        active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~WithoutFolderOverride() {
        if (active_) ::syscall(SYS_capset, &header_, saved_);
    }
    WithoutFolderOverride(const WithoutFolderOverride&) = delete;
    WithoutFolderOverride& operator=(const WithoutFolderOverride&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

// Every file this process writes ends at `bytes`: a write beyond fails with EFBIG, as a write
// onto a full file system fails with ENOSPC. SIGXFSZ, which would end the process, is ignored
// meanwhile. Restores the limit and the signal's disposition on destruction.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limited = saved_;
        limited.rlim_cur = static_cast<rlim_t>(bytes);
        active_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        if (active_) ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return active_; }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

} // namespace quarv::test
