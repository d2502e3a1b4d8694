#pragma once

// How many more bytes this process can allocate and really use. The kernel
// promises far more memory than it can deliver: a batch that only fails once
// its pages are touched brings the whole process down (the out-of-memory
// killer, or the limit of a container) instead of raising MemoryError.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vexlo::memory {

constexpr std::uint64_t UNLIMITED = UINT64_MAX;

// The whole text of a file, or nothing when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;

// What does not come from a file. UNLIMITED where there is no limit.
struct ProcessLimits {
    std::uint64_t physical_bytes = UNLIMITED;
    std::uint64_t address_space = UNLIMITED;  // RLIMIT_AS, soft
    std::uint64_t data = UNLIMITED;           // RLIMIT_DATA, soft
};

// A decimal byte count alone on its line ("536870912\n"). Nothing for "max",
// for anything that is not a number and for a number beyond 64 bits: each of
// them means no usable limit.
std::optional<std::uint64_t> parse_byte_count(std::string_view text);

// The value of a "Key:   123 kB" line of /proc/meminfo or /proc/self/status,
// in bytes; nothing if the key is absent or its value unreadable.
std::optional<std::uint64_t> kib_field(std::string_view text, std::string_view key);

// The value of a "key 123" line of a cgroup's memory.stat.
std::optional<std::uint64_t> stat_field(std::string_view text, std::string_view key);

// The cgroup of this process in the unified (v2) hierarchy, or in the v1
// hierarchy of the memory controller, from the text of /proc/self/cgroup.
std::optional<std::string> cgroup_v2_path(std::string_view proc_self_cgroup);
std::optional<std::string> cgroup_v1_memory_path(std::string_view proc_self_cgroup);

// The least of: physical memory, MemAvailable, the headroom of every cgroup
// from this process's own up to the root (its limit less what it uses, page
// cache that can be dropped not counted as used), and what RLIMIT_AS and
// RLIMIT_DATA leave above the current address space and data segment. Every
// file is read through `read`; one that cannot be read or parsed limits
// nothing.
std::uint64_t memory_headroom(const FileReader& read, const ProcessLimits& limits);

// memory_headroom of the running process.
std::uint64_t current_memory_headroom();

}  // namespace vexlo::memory
