// Writes of user files go to a temporary file in the destination folder and are renamed into
// place only when complete, so a failed or interrupted write never destroys an existing file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>

namespace quarv {

class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter(); // abandons an uncommitted temporary file
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file next to `target`. False when it cannot be created.
    bool open(const std::filesystem::path& target);
    bool isOpen() const { return file_ != nullptr; }
    std::FILE* stream() const { return file_; }
    bool write(const void* data, std::size_t size);

    // Flushes, checks every write succeeded and renames over the target. False (target
    // untouched, temporary removed) on any failure.
    bool commit();
    void abandon();

private:
    std::FILE* file_ = nullptr;
    std::filesystem::path target_;
    std::filesystem::path temp_;
    bool failed_ = false;
};

bool writeFileAtomically(const std::filesystem::path& target, const void* data, std::size_t size);

} // namespace quarv
