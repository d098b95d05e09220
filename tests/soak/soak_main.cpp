// kavsoak SECONDS [SEED]: the soak run for as long as asked, in rounds of
// 100 000 steps each with its own seed; prints a line per round.
#include "soak.h"

#include <chrono>
#include <cstdlib>

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    unsigned int seed = argc > 2 ? static_cast<unsigned int>(std::strtoul(argv[2], nullptr, 10)) : 1;
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    const int steps = 100000; // a round's
    int rounds = 0;
    for (; elapsed() < seconds; ++rounds, ++seed) {
        {
            soak::Run run(seed);
            for (int i = 0; i < steps; ++i)
                run.step();
        }
        if (kavPool::npools() != 1 || kavPool::apools() != 0) {
            std::fprintf(stderr, "soak: pools left after round %d\n", rounds);
            return 1;
        }
    }
    std::printf("soak: %llu steps in %d rounds, %.0f s, no failure\n", 1ULL * steps * rounds, rounds, elapsed());
    return 0;
}
