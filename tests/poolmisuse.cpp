// A program that misuses a pool in one chosen way, for running under a
// memory checker (valgrind's memcheck): the checker must report each misuse
// as it would for heap memory.  The scenario "clean" uses pools correctly
// through every path (recycling, cutting, merging, release, pooled objects,
// interned strings) and must draw no report at all.
//
//   poolmisuse clean | uninitialised | use-after-free | past-end | after-release |
//              double-free | leak
#include <kavlib/kavlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

namespace {

// Reads one byte where the compiler cannot drop the read.
int touch(const void* p) { return *static_cast<const volatile char*>(p); }

int clean()
{
    kavLib::init(true);
    kavPool* pool = new kavPool;
    // A recycled piece holds what its last user left, and the old recycle
    // link in its first word: the checker must not call that uninitialised.
    auto* p = static_cast<unsigned char*>(pool->alloc(17));
    std::memset(p, 0xAB, 17);
    pool->free(pool->alloc(20), 20);
    pool->free(p, 17);
    p = static_cast<unsigned char*>(pool->alloc(24));
    void* link;
    std::memcpy(&link, p, sizeof link);
    // Large pieces: cut, merged with each other and the rest, one in a block of its own.
    const unsigned int sizes[] = {600, 700, 20000};
    void* big[3];
    for (int i = 0; i < 3; ++i)
        std::memset(big[i] = pool->alloc(sizes[i]), i, sizes[i]);
    for (int i = 0; i < 3; ++i)
        pool->free(big[i], sizes[i]);
    unsigned int size; // a piece cut from a free block holds the old header
    std::memcpy(&size, static_cast<char*>(pool->alloc(600)) + sizeof(void*), sizeof size);
    // Pooled objects, interned strings, and a report that walks the lists.
    kavList list;
    for (int i = 0; i < 10; ++i)
        list.add(*new (pool) kavObject);
    kavString s("interned");
    std::ostringstream sink;
    kavLib::set(0);
    kavPool::printAll(sink);
    const bool ok = p[16] == 0xAB && link != p && size % 8 == 0 && touch(static_cast<char*>(s)) == 'i';
    list.removeAll();
    kavLib::reset(); // deletes `pool`, empties the main pool
    std::printf("clean %d\n", ok);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::map<std::string, int (*)()> scenarios = {
        {"clean", clean},
        {"uninitialised", [] {
             kavPool pool;
             if (static_cast<const unsigned char*>(pool.alloc(40))[20] == 0) // never written
                 std::puts("zero");
             return 0;
         }},
        {"use-after-free", [] {
             kavObject* obj = new kavObject; // in the main pool
             delete obj;
             volatile int count = obj->useCount();
             return static_cast<int>(count);
         }},
        {"past-end", [] {
             kavPool pool;
             return touch(static_cast<char*>(pool.alloc(20)) + 20);
         }},
        {"after-release", [] {
             kavPool pool;
             void* p = pool.alloc(100);
             pool.release();
             return touch(p);
         }},
        {"double-free", [] {
             kavPool pool;
             void* p = pool.alloc(40);
             pool.free(p, 40);
             pool.free(p, 40);
             return 0;
         }},
        // Two pieces of the main pool, which is never released; at exit only
        // the first is still referred to.
        {"leak", [] {
             static void* kept = kavPool::mainPool()->alloc(48);
             std::memset(kavPool::mainPool()->alloc(48), 0, 48);
             return touch(kept) * 0;
         }},
    };
    const auto it = scenarios.find(argc > 1 ? argv[1] : "");
    if (it != scenarios.end())
        return it->second();
    std::fprintf(stderr, "usage: poolmisuse clean|uninitialised|use-after-free|past-end|after-release|"
                         "double-free|leak\n");
    return 2;
}
