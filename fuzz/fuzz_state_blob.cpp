// libFuzzer target: load_state of untrusted bytes. The first input byte
// chooses how the rest is used: bit 0 seals it with a fresh checksum (so
// that mutations reach the field checks behind it), bit 1 applies a mask
// whose selected environments are bits 2-4. The load must never crash, and
// a blob it accepts must come back byte for byte from save_state and load
// into another batch to the same digests.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <variant>
#include <vector>

#include "batch/state_blob.hpp"
#include "vexlo/batch.hpp"

namespace {

constexpr std::size_t N = 3;

vexlo::Batch make() {
    vexlo::BatchOrError built = vexlo::Batch::classic({N, 1, 2, 2400, 2});
    if (!std::holds_alternative<vexlo::Batch>(built)) std::abort();
    return std::get<vexlo::Batch>(std::move(built));
}

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_state_blob: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vexlo::Batch target = make();
    static vexlo::Batch other = make();
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    std::vector<std::uint8_t> blob(data + 1, data + size);
    if (mode & 1) vexlo::seal_blob(blob.data(), blob.size());
    std::uint8_t bits[N];
    for (std::size_t e = 0; e < N; ++e) bits[e] = (mode >> (2 + e)) & 1;
    vexlo::EnvMask mask;
    if (mode & 2) mask = vexlo::StridedView<std::uint8_t, 1>::dense(bits, {N});

    std::uint64_t before[N], after[N];
    target.digest(before);
    if (target.load_state(blob, mask)) {
        target.digest(after);
        for (std::size_t e = 0; e < N; ++e) check(before[e] == after[e], "a refusal changed the batch");
        return 0;
    }
    vexlo::BlobOrError again = target.save_state(mask);
    check(std::holds_alternative<std::vector<std::uint8_t>>(again), "save_state refused");
    const auto& saved = std::get<std::vector<std::uint8_t>>(again);
    check(saved == blob, "save_state did not give back the accepted blob");
    check(!other.load_state(saved, mask), "a saved blob was refused");
    target.digest(before);
    other.digest(after);
    for (std::size_t e = 0; e < N; ++e) {
        if (!mask || bits[e]) check(before[e] == after[e], "the loaded batch digests differently");
    }
    return 0;
}
