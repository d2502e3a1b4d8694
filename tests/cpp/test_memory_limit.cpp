// The memory a batch may still take, from the texts of /proc and of the
// cgroup files, and the process's limits.

#include <gtest/gtest.h>

#include <map>

#include "batch/memory_limit.hpp"

namespace vexlo::memory {
namespace {

using Files = std::map<std::string, std::string>;

std::uint64_t headroom(const Files& files, ProcessLimits limits = {}) {
    return memory_headroom(
        [&](const std::string& path) -> std::optional<std::string> {
            const auto it = files.find(path);
            if (it == files.end()) return std::nullopt;
            return it->second;
        },
        limits);
}

TEST(MemoryLimit, ByteCounts) {
    EXPECT_EQ(parse_byte_count("536870912\n"), 536870912u);
    EXPECT_EQ(parse_byte_count("18446744073709551615"), UINT64_MAX);
    for (const char* none : {"max\n", "", "\n", "12abc", "-5", "1 2", "18446744073709551616"})
        EXPECT_FALSE(parse_byte_count(none).has_value()) << none;

    const char* meminfo = "MemTotal:       24683772 kB\nMemFree:  1 kB\nMemAvailable:   2048 kB\n";
    EXPECT_EQ(kib_field(meminfo, "MemAvailable"), 2048u * 1024);
    EXPECT_EQ(kib_field(meminfo, "MemTotal"), 24683772ull * 1024);
    EXPECT_FALSE(kib_field(meminfo, "Mem").has_value());
    EXPECT_FALSE(kib_field("MemAvailable: lots kB\n", "MemAvailable").has_value());
    EXPECT_FALSE(kib_field("MemAvailable: 20000000000000000 kB\n", "MemAvailable").has_value());
    EXPECT_FALSE(kib_field("MemAvailable: 5 MB\n", "MemAvailable").has_value());
    EXPECT_EQ(stat_field("anon 5\ninactive_file 7\nactive_file 9", "inactive_file"), 7u);
    EXPECT_FALSE(stat_field("total_inactive_file 7\n", "inactive_file").has_value());
}

TEST(MemoryLimit, OwnCgroup) {
    const char* hybrid = "9:name=systemd:/\n4:cpu,memory:/jobs/42\n1:cpu:/\n0::/\n";
    EXPECT_EQ(cgroup_v2_path(hybrid), "/");
    EXPECT_EQ(cgroup_v1_memory_path(hybrid), "/jobs/42");
    EXPECT_EQ(cgroup_v2_path("0::/user.slice/app:1.scope\n"), "/user.slice/app:1.scope");
    EXPECT_FALSE(cgroup_v1_memory_path("0::/a\n3:memoryx:/b\n").has_value());
    EXPECT_FALSE(cgroup_v2_path("garbage\n1:cpu:/a").has_value());
}

TEST(MemoryLimit, LeastOfAllLimits) {
    const ProcessLimits physical{1u << 30};
    EXPECT_EQ(headroom({}, physical), 1u << 30);  // nothing readable limits nothing
    EXPECT_EQ(headroom({{"/proc/meminfo", "MemAvailable: 1000 kB\n"}}, physical), 1024000u);

    // A limit on an ancestor applies; page cache that can be dropped is free.
    const Files v2{{"/proc/self/cgroup", "0::/a/b\n"},
                   {"/sys/fs/cgroup/a/b/memory.max", "max\n"},
                   {"/sys/fs/cgroup/a/b/memory.current", "999999999\n"},
                   {"/sys/fs/cgroup/a/memory.max", "1000000\n"},
                   {"/sys/fs/cgroup/a/memory.current", "400000\n"},
                   {"/sys/fs/cgroup/a/memory.stat", "anon 300000\ninactive_file 100000\n"},
                   {"/sys/fs/cgroup/memory.max", "garbage"}};
    EXPECT_EQ(headroom(v2, physical), 700000u);
    Files unified;  // the same under a hybrid host's unified mount
    for (const auto& [path, text] : v2) {
        unified[path.starts_with("/sys/") ? "/sys/fs/cgroup/unified" + path.substr(14) : path] = text;
    }
    EXPECT_EQ(headroom(unified, physical), 700000u);

    const Files v1{{"/proc/self/cgroup", "4:memory:/jobs/42\n0::/\n"},
                   {"/sys/fs/cgroup/memory/jobs/42/memory.limit_in_bytes", "9223372036854771712\n"},
                   {"/sys/fs/cgroup/memory/jobs/42/memory.usage_in_bytes", "5000\n"},
                   {"/sys/fs/cgroup/memory/jobs/memory.limit_in_bytes", "536870912\n"},
                   {"/sys/fs/cgroup/memory/jobs/memory.usage_in_bytes", "600000000\n"},
                   {"/sys/fs/cgroup/memory/jobs/memory.stat", "total_inactive_file 100000000\n"}};
    EXPECT_EQ(headroom(v1, physical), 536870912u - 500000000u);
    Files over = v1;
    over["/sys/fs/cgroup/memory/jobs/memory.stat"] = "total_inactive_file 1\n";
    EXPECT_EQ(headroom(over, physical), 0u);

    const Files status{{"/proc/self/status", "VmSize:\t  102400 kB\nVmData:\t   10240 kB\n"}};
    EXPECT_EQ(headroom(status, {UINT64_MAX, 200u << 20, UNLIMITED}), 100u << 20);
    EXPECT_EQ(headroom(status, {UINT64_MAX, UNLIMITED, 30u << 20}), 20u << 20);
    EXPECT_EQ(headroom(status, {UINT64_MAX, 50u << 20, UNLIMITED}), 0u);
    EXPECT_EQ(headroom({}, {UINT64_MAX, 50u << 20, UNLIMITED}), 50u << 20);
}

}  // namespace
}  // namespace vexlo::memory
