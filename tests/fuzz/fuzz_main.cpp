// A libFuzzer program for the target of targets.h named by ORVANE_FUZZ_TARGET.
#include "fuzz/targets.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

const fuzz::Target& Chosen() {
    for (const fuzz::Target& target : fuzz::kTargets)
        if (std::string_view(target.Name) == ORVANE_FUZZ_TARGET) return target;
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    static const fuzz::Target& target = Chosen();
    target.Run(std::span<const std::uint8_t>(AData, ASize));
    return 0;
}
