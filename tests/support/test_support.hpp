// Helpers shared by the tests: a temporary folder that cleans up after itself and small byte
// builders for files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quarv::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::vector<std::uint8_t> readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

} // namespace quarv::test
