#include "memory_limit.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vexlo::memory {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && (is_blank(s.front()) || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (is_blank(s.back()) || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// Calls `f(line)` for each line of `text` until it returns true.
template <class F>
void for_each_line(std::string_view text, F f) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (f(line)) return;
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

// The value of the first line that starts with `key` followed by a blank,
// with the blanks after it skipped; what follows the number is returned in
// `rest`.
std::optional<std::uint64_t> keyed_number(std::string_view text, std::string_view key,
                                          std::string_view& rest) {
    std::optional<std::uint64_t> found;
    for_each_line(text, [&](std::string_view line) {
        if (!line.starts_with(key) || line.size() == key.size() || !is_blank(line[key.size()]))
            return false;
        line.remove_prefix(key.size());
        while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
        std::uint64_t v = 0;
        const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), v);
        if (ec == std::errc() && end != line.data()) {
            found = v;
            rest = trim(std::string_view(end, static_cast<std::size_t>(line.data() + line.size() - end)));
        }
        return true;
    });
    return found;
}

std::uint64_t headroom_under(std::uint64_t limit, std::uint64_t used) {
    return limit > used ? limit - used : 0;
}

// The directory `path` ("/a/b") and each of its ancestors ("/a", ""), as
// suffixes of a hierarchy's mount point: a limit set on any of them applies.
template <class F>
void for_each_ancestor(std::string path, F f) {
    while (!path.empty() && path.back() == '/') path.pop_back();
    for (;;) {
        f(path);
        if (path.empty()) return;
        const std::size_t slash = path.rfind('/');
        path.resize(slash == std::string::npos ? 0 : slash);
    }
}

// What a cgroup still allows: its limit less its usage, where the page cache
// that is not in active use counts as free because the kernel drops it before
// it kills anything.
std::uint64_t cgroup_headroom(const FileReader& read, const std::string& dir,
                              const char* limit_file, const char* usage_file,
                              const char* inactive_key) {
    const std::optional<std::string> limit_text = read(dir + "/" + limit_file);
    if (!limit_text) return UNLIMITED;
    const std::optional<std::uint64_t> limit = parse_byte_count(*limit_text);
    if (!limit) return UNLIMITED;
    std::uint64_t used = 0;
    if (const std::optional<std::string> usage_text = read(dir + "/" + usage_file)) {
        used = parse_byte_count(*usage_text).value_or(0);
    }
    if (const std::optional<std::string> stat = read(dir + "/memory.stat")) {
        const std::uint64_t inactive = stat_field(*stat, inactive_key).value_or(0);
        used -= std::min(used, inactive);
    }
    return headroom_under(*limit, used);
}

// The unified hierarchy is mounted at /sys/fs/cgroup, or beside the v1 ones
// at /sys/fs/cgroup/unified on hosts that use both.
const char* const V2_MOUNTS[] = {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"};
const char* const V1_MEMORY_MOUNT = "/sys/fs/cgroup/memory";

std::uint64_t cgroups_headroom(const FileReader& read) {
    const std::optional<std::string> own = read("/proc/self/cgroup");
    if (!own) return UNLIMITED;
    std::uint64_t least = UNLIMITED;
    if (const std::optional<std::string> path = cgroup_v2_path(*own)) {
        for_each_ancestor(*path, [&](const std::string& dir) {
            for (const char* mount : V2_MOUNTS) {
                least = std::min(least, cgroup_headroom(read, mount + dir, "memory.max",
                                                        "memory.current", "inactive_file"));
            }
        });
    }
    if (const std::optional<std::string> path = cgroup_v1_memory_path(*own)) {
        for_each_ancestor(*path, [&](const std::string& dir) {
            least = std::min(least, cgroup_headroom(read, V1_MEMORY_MOUNT + dir,
                                                    "memory.limit_in_bytes",
                                                    "memory.usage_in_bytes",
                                                    "total_inactive_file"));
        });
    }
    return least;
}

std::uint64_t rlimit_headroom(std::uint64_t limit, const std::optional<std::string>& status,
                              std::string_view used_key) {
    if (limit == UNLIMITED) return UNLIMITED;
    const std::uint64_t used = status ? kib_field(*status, used_key).value_or(0) : 0;
    return headroom_under(limit, used);
}

std::uint64_t rlimit_value(int resource) {
    rlimit r{};
    if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return UNLIMITED;
    return static_cast<std::uint64_t>(r.rlim_cur);
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(text).str();
}

}  // namespace

std::optional<std::uint64_t> parse_byte_count(std::string_view text) {
    text = trim(text);
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || text.empty() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

std::optional<std::uint64_t> kib_field(std::string_view text, std::string_view key) {
    const std::string with_colon = std::string(key) + ":";
    std::string_view unit;
    const std::optional<std::uint64_t> kib = keyed_number(text, with_colon, unit);
    if (!kib || unit != "kB" || *kib > UNLIMITED / 1024) return std::nullopt;
    return *kib * 1024;
}

std::optional<std::uint64_t> stat_field(std::string_view text, std::string_view key) {
    std::string_view rest;
    const std::optional<std::uint64_t> v = keyed_number(text, key, rest);
    if (!v || !rest.empty()) return std::nullopt;
    return v;
}

namespace {

// The path of the first "id:controllers:path" line whose fields pass `pick`.
template <class Pick>
std::optional<std::string> cgroup_path(std::string_view text, Pick pick) {
    std::optional<std::string> found;
    for_each_line(text, [&](std::string_view line) {
        const std::size_t first = line.find(':');
        if (first == std::string_view::npos) return false;
        const std::size_t second = line.find(':', first + 1);
        if (second == std::string_view::npos) return false;
        const std::string_view id = line.substr(0, first);
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        const std::string_view path = line.substr(second + 1);
        if (!path.starts_with('/') || !pick(id, controllers)) return false;
        found = std::string(path);
        return true;
    });
    return found;
}

}  // namespace

std::optional<std::string> cgroup_v2_path(std::string_view proc_self_cgroup) {
    return cgroup_path(proc_self_cgroup, [](std::string_view id, std::string_view controllers) {
        return id == "0" && controllers.empty();
    });
}

std::optional<std::string> cgroup_v1_memory_path(std::string_view proc_self_cgroup) {
    return cgroup_path(proc_self_cgroup, [](std::string_view, std::string_view controllers) {
        bool memory = false;
        while (!controllers.empty() && !memory) {
            const std::size_t comma = controllers.find(',');
            memory = controllers.substr(0, comma) == "memory";
            controllers.remove_prefix(comma == std::string_view::npos ? controllers.size() : comma + 1);
        }
        return memory;
    });
}

std::uint64_t memory_headroom(const FileReader& read, const ProcessLimits& limits) {
    std::uint64_t least = limits.physical_bytes;
    if (const std::optional<std::string> meminfo = read("/proc/meminfo")) {
        least = std::min(least, kib_field(*meminfo, "MemAvailable").value_or(UNLIMITED));
    }
    least = std::min(least, cgroups_headroom(read));
    const std::optional<std::string> status = read("/proc/self/status");
    least = std::min(least, rlimit_headroom(limits.address_space, status, "VmSize"));
    least = std::min(least, rlimit_headroom(limits.data, status, "VmData"));
    return least;
}

std::uint64_t current_memory_headroom() {
    ProcessLimits limits;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_size > 0) {
        limits.physical_bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    }
    limits.address_space = rlimit_value(RLIMIT_AS);
    limits.data = rlimit_value(RLIMIT_DATA);
    return memory_headroom(read_file, limits);
}

}  // namespace vexlo::memory
