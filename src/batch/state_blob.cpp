// save_state, load_state, digest and fingerprint: the changing state of whole
// environments as bytes and as hashes. The layout is documented in README.md.
#include <bit>
#include <cstring>
#include <string>

#include "batch/state.hpp"
#include "batch/state_blob.hpp"
#include "batch/worker_pool.hpp"

namespace vexlo {
namespace {

constexpr char MAGIC[8] = {'V', 'X', 'L', 'S', 'T', 'A', 'T', 'E'};
constexpr std::uint32_t VERSION = 1;
constexpr std::size_t HEADER_BYTES = 48;
constexpr std::size_t CHECKSUM_BYTES = 8;
constexpr std::size_t ENV_HEAD_BYTES = 64;
constexpr std::size_t DISC_BYTES = 40;
constexpr std::size_t PLAYER_BYTES = 18;

// A 64-bit word hash: each word is multiplied in and folded, four lanes
// side by side so that long inputs do not wait on one multiplier; the
// splitmix64 finaliser spreads the last words over every bit.
constexpr std::uint64_t K = 0x9E3779B97F4A7C15ull;

inline std::uint64_t absorb(std::uint64_t h, std::uint64_t word) {
    h = (h ^ word) * K;
    return h ^ (h >> 29);
}

inline std::uint64_t finish(std::uint64_t h) {
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    return h ^ (h >> 31);
}

// Little-endian bytes; on a little-endian machine a plain copy, which keeps
// saving and checking a blob about as fast as copying it.
constexpr bool LITTLE = std::endian::native == std::endian::little;

std::uint64_t load_le(const std::uint8_t* p, std::size_t bytes) {
    std::uint64_t v = 0;
    if constexpr (LITTLE) {
        std::memcpy(&v, p, bytes);
    } else {
        for (std::size_t i = bytes; i > 0; --i) v = (v << 8) | p[i - 1];
    }
    return v;
}

std::uint64_t load_le64(const std::uint8_t* p) { return load_le(p, 8); }

void store_le(std::uint8_t* p, std::uint64_t v, std::size_t bytes) {
    if constexpr (LITTLE) {
        std::memcpy(p, &v, bytes);
    } else {
        for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint64_t hash_bytes(const std::uint8_t* p, std::size_t n) {
    std::uint64_t lane[4] = {1, 2, 3, 4};
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        for (int l = 0; l < 4; ++l) lane[l] = absorb(lane[l], load_le64(p + i + 8 * l));
    }
    std::uint64_t h = n;
    for (std::uint64_t l : lane) h = absorb(h, l);
    for (; i + 8 <= n; i += 8) h = absorb(h, load_le64(p + i));
    return finish(absorb(h, load_le(p + i, n - i)));
}

// The fields of one environment in blob order, handed to `out.put(bits,
// bytes)`: the writer stores them, the digest hashes them.
template <class Out>
void visit_record(const World& w, Out& out) {
    out.put(w.steps, 8);
    out.put(static_cast<std::uint64_t>(w.goal_timer), 8);
    out.put(static_cast<std::uint64_t>(w.kickoff_team), 8);
    out.put(static_cast<std::uint64_t>(w.kick_rate_min), 8);
    out.put(static_cast<std::uint64_t>(w.kick_rate_cost), 8);
    out.put(static_cast<std::uint64_t>(w.kick_rate_cap), 8);
    out.put(static_cast<std::uint32_t>(w.red_score), 4);
    out.put(static_cast<std::uint32_t>(w.blue_score), 4);
    out.put(static_cast<std::uint8_t>(w.phase), 1);
    out.put(0, 7);
    for (const Disc& d : w.discs) {
        out.put(std::bit_cast<std::uint64_t>(d.pos.x), 8);
        out.put(std::bit_cast<std::uint64_t>(d.pos.y), 8);
        out.put(std::bit_cast<std::uint64_t>(d.vel.x), 8);
        out.put(std::bit_cast<std::uint64_t>(d.vel.y), 8);
        out.put(static_cast<std::uint64_t>(d.c_mask), 8);
    }
    for (std::size_t p = 0; p < w.n_players; ++p) {
        out.put(static_cast<std::uint64_t>(w.kick_cooldown[p]), 8);
        out.put(static_cast<std::uint64_t>(w.kick_credit[p]), 8);
        out.put(w.kicking[p] ? 1 : 0, 1);
        out.put(w.kick_held[p] ? 1 : 0, 1);
    }
}

struct ByteWriter {
    std::uint8_t* at;
    void put(std::uint64_t v, std::size_t bytes) {
        store_le(at, v, bytes);
        at += bytes;
    }
};

// Fields go round four lanes in turn, so that hashing one environment does
// not wait on a single chain of multiplications.
struct HashWriter {
    std::uint64_t lane[4] = {0, 1, 2, 3};
    std::size_t count = 0;
    void put(std::uint64_t v, std::size_t) {
        lane[count % 4] = absorb(lane[count % 4], v);
        ++count;
    }
    std::uint64_t result() const {
        std::uint64_t h = count;
        for (std::uint64_t l : lane) h = absorb(h, l);
        return finish(h);
    }
};

std::size_t record_bytes(const World& w) {
    return ENV_HEAD_BYTES + DISC_BYTES * w.discs.size() + PLAYER_BYTES * w.n_players;
}

struct ByteReader {
    const std::uint8_t* at;
    std::uint64_t take(std::size_t bytes) {
        const std::uint64_t v = load_le(at, bytes);
        at += bytes;
        return v;
    }
    double real() { return std::bit_cast<double>(take(8)); }
};

// Checks one record and, when `w` is given, writes it there. A record that
// passed the check with w null is written whole.
BatchStatus read_record(const std::uint8_t* bytes, std::uint64_t index, std::size_t n_discs,
                        std::size_t n_players, World* w) {
    auto bad = [&](const std::string& what) {
        return invalid("load_state: environment " + decimal(index) + " of the blob: " + what);
    };
    ByteReader r{bytes};
    const std::uint64_t steps = r.take(8);
    const auto goal_timer = static_cast<std::int64_t>(r.take(8));
    const auto kickoff_team = static_cast<std::int64_t>(r.take(8));
    const auto rate_min = static_cast<std::int64_t>(r.take(8));
    const auto rate_cost = static_cast<std::int64_t>(r.take(8));
    const auto rate_cap = static_cast<std::int64_t>(r.take(8));
    const auto red_score = static_cast<std::int32_t>(r.take(4));
    const auto blue_score = static_cast<std::int32_t>(r.take(4));
    const std::uint64_t phase = r.take(1);
    const std::uint64_t reserved = r.take(7);
    // kickoff_team is any goal's team (a stadium may name others than red and
    // blue), and the counters wrap: every value of them is a state.
    if (phase > static_cast<std::uint64_t>(Phase::AfterGoal))
        return bad("phase " + decimal(phase) + " is not 0 (kickoff), 1 (playing) or 2 (after a goal)");
    if (reserved != 0) return bad("the reserved bytes after the phase are not zero");
    if (w != nullptr) {
        w->steps = steps;
        w->goal_timer = goal_timer;
        w->kickoff_team = kickoff_team;
        w->kick_rate_min = rate_min;
        w->kick_rate_cost = rate_cost;
        w->kick_rate_cap = rate_cap;
        w->red_score = red_score;
        w->blue_score = blue_score;
        w->phase = static_cast<Phase>(phase);
    }
    for (std::size_t d = 0; d < n_discs; ++d) {
        const Vec2 pos{r.real(), r.real()};
        const Vec2 vel{r.real(), r.real()};
        const auto c_mask = static_cast<std::int64_t>(r.take(8));
        // Any bits: an extreme stadium can carry NaNs and infinities, and the
        // tick takes them as they come.
        if (w != nullptr) {
            w->discs[d].pos = pos;
            w->discs[d].vel = vel;
            w->discs[d].c_mask = c_mask;
        }
    }
    for (std::size_t p = 0; p < n_players; ++p) {
        const auto cooldown = static_cast<std::int64_t>(r.take(8));
        const auto credit = static_cast<std::int64_t>(r.take(8));
        const std::uint64_t kicking = r.take(1);
        const std::uint64_t held = r.take(1);
        if (kicking > 1 || held > 1)
            return bad("player " + decimal(p) + ": the kick flags must be 0 or 1");
        if (w != nullptr) {
            w->kick_cooldown[p] = cooldown;
            w->kick_credit[p] = credit;
            w->kicking[p] = kicking == 1;
            w->kick_held[p] = held == 1;
        }
    }
    return std::nullopt;
}

// The environments a mask selects, or all; a refusal if its length is wrong.
std::variant<std::vector<std::size_t>, BatchError> selected(const EnvMask& mask, std::size_t n,
                                                            const char* call) {
    std::vector<std::size_t> envs;
    if (!mask) {
        envs.resize(n);
        for (std::size_t e = 0; e < n; ++e) envs[e] = e;
        return envs;
    }
    if (static_cast<std::size_t>(mask->shape[0]) != n)
        return invalid(std::string(call) + ": mask length " + decimal(mask->shape[0]) +
                       " != n_envs " + decimal(n));
    for (std::size_t e = 0; e < n; ++e) {
        if ((*mask)(e)) envs.push_back(e);
    }
    return envs;
}

struct DigestTask {
    const World* worlds;
    std::uint64_t* out;

    void operator()(std::size_t begin, std::size_t end) const noexcept {
        for (std::size_t e = begin; e < end; ++e) {
            HashWriter h;
            visit_record(worlds[e], h);
            out[e] = h.result();
        }
    }
};

// Records are independent and sit at fixed offsets: they are written on the pool.
struct SaveTask {
    const World* worlds;
    const std::size_t* envs;
    std::uint8_t* records;
    std::size_t record;

    void operator()(std::size_t begin, std::size_t end) const noexcept {
        for (std::size_t i = begin; i < end; ++i) {
            ByteWriter out{records + i * record};
            visit_record(worlds[envs[i]], out);
        }
    }
};

}  // namespace

void seal_blob(std::uint8_t* blob, std::size_t size) {
    if (size < CHECKSUM_BYTES) return;
    const std::size_t body = size - CHECKSUM_BYTES;
    store_le(blob + body, hash_bytes(blob, body), 8);
}

std::uint64_t Batch::fingerprint() const {
    const World& w = s_->worlds[0];
    HashWriter h;
    auto real = [&](double v) { h.put(std::bit_cast<std::uint64_t>(v), 8); };
    auto vec = [&](Vec2 v) {
        real(v.x);
        real(v.y);
    };
    auto i64 = [&](std::int64_t v) { h.put(static_cast<std::uint64_t>(v), 8); };
    h.put(s_->n_red, 8);
    h.put(s_->n_blue, 8);
    h.put(w.discs.size(), 8);
    h.put(w.first_player, 8);
    // The discs' fixed properties; positions, velocities and masks change.
    for (const Disc& d : w.discs) {
        for (double v : {d.radius, d.inv_mass, d.damping, d.b_coef, d.acceleration,
                         d.kicking_acceleration, d.kicking_damping, d.kick_strength, d.kickback})
            real(v);
        vec(d.gravity);
        i64(d.c_group);
        i64(d.team);
    }
    h.put(w.segments.size(), 8);
    for (const Segment& s : w.segments) {
        for (Vec2 v : {s.v0, s.v1, s.center, s.t0, s.t1}) vec(v);
        for (double v : {s.b_coef, s.bias, s.curve_f, s.arc_radius}) real(v);
        i64(s.c_group);
        i64(s.c_mask);
    }
    h.put(w.planes.size(), 8);
    for (const Plane& p : w.planes) {
        vec(p.normal);
        real(p.dist);
        real(p.b_coef);
        i64(p.c_group);
        i64(p.c_mask);
    }
    h.put(w.goals.size(), 8);
    for (const Goal& g : w.goals) {
        vec(g.p0);
        vec(g.p1);
        i64(g.team);
    }
    for (const auto* spawns : {&w.red_spawn_points, &w.blue_spawn_points}) {
        h.put(spawns->size(), 8);
        for (Vec2 v : *spawns) vec(v);
    }
    real(w.spawn_distance);
    return h.result();
}

BatchStatus Batch::save_state_with(std::uint8_t* (*allocate)(void*, std::size_t), void* context,
                                  const EnvMask& mask) const {
    auto chosen = selected(mask, s_->worlds.size(), "save_state");
    if (auto* error = std::get_if<BatchError>(&chosen)) return std::move(*error);
    const std::vector<std::size_t>& envs = std::get<std::vector<std::size_t>>(chosen);
    const World& first = s_->worlds[0];
    const std::size_t record = record_bytes(first);
    const std::size_t size = HEADER_BYTES + envs.size() * record + CHECKSUM_BYTES;
    std::uint8_t* p = allocate(context, size);
    if (p == nullptr)
        return BatchError{BatchError::Kind::OutOfMemory,
                          "save_state: no memory for a blob of " + decimal(size) + " bytes"};
    std::memcpy(p, MAGIC, sizeof MAGIC);
    store_le(p + 8, VERSION, 4);
    store_le(p + 12, s_->n_red, 4);
    store_le(p + 16, s_->n_blue, 4);
    store_le(p + 20, first.discs.size(), 4);
    store_le(p + 24, fingerprint(), 8);
    store_le(p + 32, envs.size(), 8);
    store_le(p + 40, record, 8);
    SaveTask task{s_->worlds.data(), envs.data(), p + HEADER_BYTES, record};
    shared_pool().parallel_for(envs.size(), task);
    seal_blob(p, size);
    return std::nullopt;
}

BlobOrError Batch::save_state(const EnvMask& mask) const {
    std::vector<std::uint8_t> blob;
    auto allocate = [&blob](std::size_t n) {
        blob.resize(n);
        return blob.data();
    };
    if (BatchStatus refused = save_state_into(allocate, mask)) return std::move(*refused);
    return blob;
}

BatchStatus Batch::load_state(std::span<const std::uint8_t> blob, const EnvMask& mask) {
    auto chosen = selected(mask, s_->worlds.size(), "load_state");
    if (auto* error = std::get_if<BatchError>(&chosen)) return std::move(*error);
    const std::vector<std::size_t>& envs = std::get<std::vector<std::size_t>>(chosen);
    const World& first = s_->worlds[0];
    const std::size_t record = record_bytes(first);
    const std::uint8_t* p = blob.data();
    if (blob.size() < HEADER_BYTES + CHECKSUM_BYTES)
        return invalid("load_state: truncated blob: " + decimal(blob.size()) +
                       " bytes, shorter than the " + decimal(HEADER_BYTES + CHECKSUM_BYTES) +
                       " of a header and checksum");
    if (std::memcmp(p, MAGIC, sizeof MAGIC) != 0)
        return invalid("load_state: not a state blob (its first 8 bytes are not \"VXLSTATE\")");
    ByteReader header{p + 8};
    const std::uint64_t version = header.take(4);
    if (version != VERSION)
        return invalid("load_state: blob version " + decimal(version) + ", but this build reads " +
                       decimal(VERSION));
    const std::uint64_t n_red = header.take(4), n_blue = header.take(4);
    const std::uint64_t n_discs = header.take(4);
    const std::uint64_t print = header.take(8);
    const std::uint64_t count = header.take(8);
    const std::uint64_t blob_record = header.take(8);
    const unsigned __int128 expected =
        HEADER_BYTES + static_cast<unsigned __int128>(count) * blob_record + CHECKSUM_BYTES;
    if (expected != blob.size())
        return invalid("load_state: truncated or padded blob: " + decimal(blob.size()) +
                       " bytes, but its header announces " + decimal(count) + " records of " +
                       decimal(blob_record) + " bytes (" + decimal(expected) + " in all)");
    const std::size_t body = blob.size() - CHECKSUM_BYTES;
    if (hash_bytes(p, body) != load_le64(p + body))
        return invalid("load_state: checksum mismatch: the blob is damaged");
    if (n_red != s_->n_red || n_blue != s_->n_blue)
        return invalid("load_state: the blob is of " + decimal(n_red) + "v" + decimal(n_blue) +
                       " matches, this batch of " + decimal(s_->n_red) + "v" + decimal(s_->n_blue));
    if (print != fingerprint() || n_discs != first.discs.size() || blob_record != record)
        return invalid("load_state: the blob is of another stadium (fingerprint differs)");
    if (count != envs.size())
        return invalid("load_state: the blob holds " + decimal(count) + " environments, but " +
                       decimal(envs.size()) + " are selected");
    const std::uint8_t* records = p + HEADER_BYTES;
    for (std::size_t i = 0; i < envs.size(); ++i) {
        if (BatchStatus refused =
                read_record(records + i * record, i, first.discs.size(), s_->n_players, nullptr))
            return refused;
    }
    for (std::size_t i = 0; i < envs.size(); ++i)
        read_record(records + i * record, i, first.discs.size(), s_->n_players,
                    &s_->worlds[envs[i]]);
    return std::nullopt;
}

void Batch::digest(std::uint64_t* out) const {
    DigestTask task{s_->worlds.data(), out};
    shared_pool().parallel_for(s_->worlds.size(), task);
}

}  // namespace vexlo
