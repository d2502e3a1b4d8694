// Plays 1v1, 2v2 and 3v3 batches of four matches each for 600 ticks on the
// Classic stadium (or on the .vxs file named as the argument), every player
// chasing the ball from its own angle, and prints a checksum of where every
// disc ended up and how it was moving, and the goals seen. Same stadium, same
// output, on any machine and with any number of worker threads.
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "vexlo/batch.hpp"
#include "vexlo/classic.hpp"

namespace {

constexpr int TICKS = 600;
constexpr std::size_t MATCHES = 4;

// FNV-1a, 64 bits.
void hash_bytes(std::uint64_t& hash, const void* data, std::size_t size) {
    for (const auto* p = static_cast<const unsigned char*>(data); size-- > 0; ++p) {
        hash = (hash ^ *p) * 0x100000001b3u;
    }
}

std::int64_t sign(double v) { return (v > 1.0) - (v < -1.0); }

// Runs to a spot behind the ball on the side away from the goal it attacks
// (red attacks +x), offset by slot and match, and kicks when close to it.
std::array<std::int64_t, 3> chase(const vexlo::World& w, std::size_t slot, std::size_t match) {
    const vexlo::Disc& player = w.player(slot);
    const double behind = player.team == vexlo::flag::FLAG_RED ? -15.0 : 15.0;
    const double spread = static_cast<double>((slot + match) % 3) * 10.0 - 10.0;
    const vexlo::Vec2 to = w.ball().pos + vexlo::Vec2{behind, spread} - player.pos;
    const bool near = vexlo::length_sq(w.ball().pos - player.pos) < 30.0 * 30.0;
    return {sign(to.x), sign(to.y), near ? 2 : 0};
}

}  // namespace

int main(int argc, char** argv) {
    std::string text(vexlo::CLASSIC_STADIUM);
    if (argc > 1) {
        std::ifstream file(argv[1], std::ios::binary);
        if (!file) return std::fprintf(stderr, "cannot read %s\n", argv[1]), 1;
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::uint64_t hash = 0xcbf29ce484222325u;
    int red_goals = 0;
    int blue_goals = 0;
    for (std::uint64_t team_size = 1; team_size <= 3; ++team_size) {
        auto built = vexlo::Batch::from_stadium(text, {MATCHES, team_size, team_size, 2400, 1});
        if (const auto* error = std::get_if<vexlo::BatchError>(&built)) {
            return std::fprintf(stderr, "%s\n", error->message.c_str()), 1;
        }
        vexlo::Batch& batch = std::get<vexlo::Batch>(built);
        const std::size_t players = batch.n_players();
        std::vector<std::int64_t> actions(MATCHES * players * 3);
        std::vector<std::int8_t> scored(MATCHES);
        const auto view = vexlo::StridedView<std::int64_t, 3>::dense(
            actions.data(), {static_cast<std::ptrdiff_t>(MATCHES), static_cast<std::ptrdiff_t>(players), 3});
        for (int tick = 0; tick < TICKS; ++tick) {
            for (std::size_t e = 0; e < MATCHES; ++e) {
                for (std::size_t slot = 0; slot < players; ++slot) {
                    const auto input = chase(batch.world(e), slot, e);
                    std::copy(input.begin(), input.end(), actions.begin() + (e * players + slot) * 3);
                }
            }
            if (const auto refused = batch.step(view, scored.data())) {
                return std::fprintf(stderr, "%s\n", refused->message.c_str()), 1;
            }
            for (const std::int8_t conceded : scored) {
                if (conceded >= 0) (conceded == vexlo::flag::FLAG_RED ? blue_goals : red_goals) += 1;
            }
        }
        for (std::size_t e = 0; e < MATCHES; ++e) {
            for (const vexlo::Disc& disc : batch.world(e).discs) {
                for (const double v : {disc.pos.x, disc.pos.y, disc.vel.x, disc.vel.y}) hash_bytes(hash, &v, sizeof v);
            }
        }
    }
    std::printf("checksum %016llx\ngoals red %d blue %d\n", static_cast<unsigned long long>(hash), red_goals,
                blue_goals);
    return 0;
}
