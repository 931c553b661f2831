// Golden transcripts: a test renders what a run produced as text and compares it with the file
// kept under tests/golden/. QUARV_UPDATE_GOLDEN=1 rewrites the files instead (review the diff).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarv::test {

void expectGolden(const std::string& name, const std::string& text);

// Size and 64-bit FNV-1a digest of some bytes, for binary outputs in a transcript.
std::string digest(const std::vector<std::uint8_t>& bytes);

} // namespace quarv::test
