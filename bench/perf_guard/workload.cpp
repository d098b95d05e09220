// A fixed workload over the library's hot paths, for the instruction-count
// guard: run_guard.sh runs it under callgrind and compares the instructions
// executed inside perfGuardWorkload() with the figure in instructions.txt.
// Nothing here depends on time, addresses or the environment, so the count
// is the same on every run of the same build.
#include <kavlib/kavlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

unsigned int lcg(unsigned int& x)
{
    x = x * 1664525u + 1013904223u;
    return x >> 8;
}

} // namespace

// The measured part; callgrind counts from its entry to its return.
extern "C" unsigned long perfGuardWorkload(const std::vector<std::string>& vocabulary)
{
    unsigned long sum = 0;
    unsigned int seed = 12345;
    kavLib::init(false);

    // Rounds of n allocations of sizes base + 8 * k (k below `classes`), then
    // the frees in the order 0, n - 1, n - 2, ... 1 (step n - 1) or scattered.
    kavPool pool;
    pool.setReleaseFlag(false);
    auto churn = [&](std::size_t n, int rounds, unsigned int base, unsigned int classes, std::size_t step) {
        std::vector<std::pair<void*, unsigned int>> pieces(n);
        for (int round = 0; round < rounds; ++round) {
            for (auto& p : pieces)
                p.first = pool.alloc(p.second = base + 8 * (lcg(seed) % classes));
            for (std::size_t i = 0; i < n; ++i)
                pool.free(pieces[i * step % n].first, pieces[i * step % n].second);
        }
    };
    churn(500, 40, 8, 63, 499); // recycled pieces
    churn(50, 10, 512, 1000, 7); // the free-block list: first fit and merging
    sum += pool.amem() + pool.fmem() + pool.rmem();

    // Pooled objects in containers: each object is deleted when it leaves
    // the last container.
    for (int round = 0; round < 10; ++round) {
        kavList list;
        kavFifo fifo;
        kavHash<4191> hash;
        std::vector<kavObject*> objects;
        for (int i = 0; i < 300; ++i) {
            objects.push_back(&hash.add(fifo.add(list.add(*new (&pool) kavObject))));
            sum += hash.find(*objects.back()) != nullptr;
        }
        for (std::size_t i = 0; i < objects.size(); i += 2)
            hash.remove(*objects[i]);
        list.removeAll();
        fifo.removeAll();
        hash.removeAll();
        sum += pool.umem();
    }

    // Interning: words drawn from the vocabulary, the frequent ones more often.
    for (int i = 0; i < 20000; ++i) {
        const unsigned int r = lcg(seed) % 1000;
        kavString s(vocabulary[(r * r / 1000) * vocabulary.size() / 1000].c_str());
        sum += reinterpret_cast<std::uintptr_t>(s.elem()) & 1u;
    }
    sum += static_cast<unsigned long>(kavStringTbl::table()->count());

    pool.release();
    kavLib::reset();
    return sum;
}

int main()
{
    // 1000 distinct words of 3 to 10 letters, made before the measured part.
    std::vector<std::string> vocabulary;
    unsigned int seed = 777;
    for (int i = 0; i < 1000; ++i) {
        std::string w(3 + lcg(seed) % 8, ' ');
        for (char& c : w)
            c = static_cast<char>('a' + lcg(seed) % 26);
        vocabulary.push_back(w + std::to_string(i)); // distinct for certain
    }
    std::printf("%lu\n", perfGuardWorkload(vocabulary));
    return 0;
}
