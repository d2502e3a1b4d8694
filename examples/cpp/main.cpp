// Plays a 1v1, a 2v2 and a 3v3 match for 600 ticks each on the Classic
// stadium (or on the .vxs file named as the argument), every player chasing
// the ball, and prints a checksum of where every disc ended up and how it was
// moving, and the goals seen. Same stadium, same output, on any machine.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "vexlo/classic.hpp"
#include "vexlo/stadium.hpp"

namespace {

constexpr int TICKS = 600;

// FNV-1a, 64 bits.
void hash_bytes(std::uint64_t& hash, const void* data, std::size_t size) {
    for (const auto* p = static_cast<const unsigned char*>(data); size-- > 0; ++p) {
        hash = (hash ^ *p) * 0x100000001b3u;
    }
}

int sign(double v) { return (v > 1.0) - (v < -1.0); }

// Runs to a spot behind the ball on the side away from the goal it attacks
// (red attacks +x), spread out by slot, and kicks when close to the ball.
vexlo::PlayerInput chase(const vexlo::World& w, std::size_t slot) {
    const vexlo::Disc& player = w.player(slot);
    const double behind = player.team == vexlo::flag::FLAG_RED ? -15.0 : 15.0;
    const double spread = static_cast<double>(slot % 3) * 10.0 - 10.0;
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
        auto built = vexlo::world_from_vxs(text, team_size, team_size);
        if (const auto* error = std::get_if<std::string>(&built)) {
            return std::fprintf(stderr, "%s\n", error->c_str()), 1;
        }
        vexlo::World& world = std::get<vexlo::World>(built);
        std::vector<vexlo::PlayerInput> inputs(world.n_players);
        for (int tick = 0; tick < TICKS; ++tick) {
            for (std::size_t slot = 0; slot < world.n_players; ++slot) inputs[slot] = chase(world, slot);
            if (const auto conceded = world.step(inputs)) {
                (*conceded == vexlo::flag::FLAG_RED ? blue_goals : red_goals) += 1;
            }
        }
        for (const vexlo::Disc& disc : world.discs) {
            for (const double v : {disc.pos.x, disc.pos.y, disc.vel.x, disc.vel.y}) hash_bytes(hash, &v, sizeof v);
        }
    }
    std::printf("checksum %016llx\ngoals red %d blue %d\n", static_cast<unsigned long long>(hash), red_goals,
                blue_goals);
    return 0;
}
