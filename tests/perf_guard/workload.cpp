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

class guardObject : public kavObject {
public:
    long long _payload = 0;
};

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

    // Recycled pieces: rounds of 500 allocations of sizes 8 to 504, then the
    // frees in reverse.
    kavPool pool;
    pool.setReleaseFlag(false);
    std::vector<std::pair<void*, unsigned int>> pieces(500);
    for (int round = 0; round < 40; ++round) {
        for (auto& p : pieces) {
            p.second = 8 + 8 * (lcg(seed) % 63);
            p.first = pool.alloc(p.second);
        }
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it)
            pool.free(it->first, it->second);
    }
    // Large pieces: the free-block list, its first fit and its merging.
    std::vector<std::pair<void*, unsigned int>> large(50);
    for (int round = 0; round < 10; ++round) {
        for (auto& p : large) {
            p.second = 512 + 8 * (lcg(seed) % 1000);
            p.first = pool.alloc(p.second);
        }
        for (std::size_t i = 0; i < large.size(); ++i) {
            const auto& p = large[(i * 7) % large.size()];
            pool.free(p.first, p.second);
        }
    }
    sum += pool.amem() + pool.fmem() + pool.rmem();

    // Pooled objects in containers: each object is deleted when it leaves
    // the last container.
    for (int round = 0; round < 10; ++round) {
        kavList list;
        kavFifo fifo;
        kavHash<4191> hash;
        std::vector<guardObject*> objects;
        for (int i = 0; i < 300; ++i) {
            auto* o = new (&pool) guardObject;
            objects.push_back(o);
            list.add(*o);
            fifo.add(*o);
            hash.add(*o);
        }
        for (guardObject* o : objects)
            sum += hash.find(*o) != nullptr;
        for (std::size_t i = 0; i < objects.size(); i += 2)
            hash.remove(*objects[i]);
        list.removeAll();
        fifo.removeAll();
        hash.removeAll();
        sum += static_cast<unsigned long>(pool.umem());
    }

    // Interning: words drawn from the vocabulary, the frequent ones more often.
    for (int i = 0; i < 20000; ++i) {
        const unsigned int r = lcg(seed) % 1000;
        const std::string& w = vocabulary[(r * r / 1000) * vocabulary.size() / 1000];
        kavString s(w.c_str());
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
        w += std::to_string(i); // distinct for certain
        vocabulary.push_back(w);
    }
    std::printf("%lu\n", perfGuardWorkload(vocabulary));
    return 0;
}
