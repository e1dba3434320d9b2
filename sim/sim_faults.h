// Line faults applied to the replies: lost, bad checksum, cut short, garbage before.
// Every choice comes from one seeded generator, so a run can be repeated exactly.
#ifndef SIM_FAULTS_H
#define SIM_FAULTS_H

#include <cstdint>
#include <vector>

namespace sim {

class SeededRandom {
public:
    explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next(); // 64 random bits (splitmix64: the same on every platform)
    double unit();        // in [0, 1)
    int below(int bound); // in [0, bound)
    bool chance(double p) { return p > 0 && unit() < p; }

private:
    std::uint64_t state_;
};

struct FaultRates {
    double corrupt, partial, noise;
};

// Applies corrupt, partial and noise (in that order) to one reply about to go on the line.
void apply_line_faults(std::vector<std::uint8_t>& reply, const FaultRates& rates,
                       SeededRandom& random);

// Several replies on the line at once: one garbled packet of the first one's length,
// whose checksum (protocol 2.0: CRC) never matches.
std::vector<std::uint8_t> collide(const std::vector<std::vector<std::uint8_t>>& replies,
                                  int protocol = 1);

} // namespace sim

#endif
