// libFuzzer entry of one fuzzer; QUARV_FUZZ_ENTRY names the target's entry function.
#include "fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return quarv::fuzz::QUARV_FUZZ_ENTRY(data, size);
}
