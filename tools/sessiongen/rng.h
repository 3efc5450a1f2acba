// A small portable random generator (xoshiro256**, seeded by splitmix64).
// The standard distributions differ between libraries; these do not, so a
// seed gives the same session everywhere.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>

namespace lorvane::gen {

class Rng {
public:
    // `stream` separates independent sequences drawn from one seed.
    explicit Rng(std::uint64_t seed, std::uint64_t stream = 0) {
        std::uint64_t x = seed ^ (stream * 0xD1B54A32D192ED03ull);
        for (auto& s : s_) s = splitmix(x);
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // [0, 1)
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }

    // Integer in [lo, hi].
    int range(int lo, int hi) {
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
        return lo + static_cast<int>(next() % span);
    }

    bool chance(double p) { return uniform() < p; }

    double normal() {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        double u1 = uniform();
        while (u1 <= 0) u1 = uniform();
        const double u2 = uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(2 * std::numbers::pi * u2);
        haveSpare_ = true;
        return r * std::cos(2 * std::numbers::pi * u2);
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static std::uint64_t splitmix(std::uint64_t& x) {
        std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::uint64_t s_[4] = {};
    double spare_ = 0;
    bool haveSpare_ = false;
};

// Stream numbers: one per kind of decision.
enum Stream : std::uint64_t {
    kStreamPlace = 1,
    kStreamCircuit,
    kStreamDrive,
    kStreamNoise,
    kStreamSats,
    kStreamClock,
    kStreamChannels,
    kStreamValues,
    kStreamPayload,
    kStreamDamage,
};

} // namespace lorvane::gen
