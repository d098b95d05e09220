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
    unsigned long long steps = 0;
    int rounds = 0;
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
        {
            soak::Run run(seed);
            for (int i = 0; i < 100000; ++i)
                run.step();
            steps += run.steps();
        }
        if (kavPool::npools() != 1 || kavPool::apools() != 0) {
            std::fprintf(stderr, "soak: pools left after round %d\n", rounds);
            return 1;
        }
        ++rounds;
        ++seed;
    }
    std::printf("soak: %llu steps in %d rounds, %.0f s, no failure\n", steps, rounds,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
