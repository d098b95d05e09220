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
#include <sstream>

namespace {

// Reads one byte where the compiler cannot drop the read.
int touch(const void* p)
{
    const volatile char* c = static_cast<const volatile char*>(p);
    return *c;
}

int clean()
{
    kavLib::init(true);
    kavPool* pool = new kavPool;
    void* small[8];
    for (void*& p : small)
        p = pool->alloc(20);
    for (void* p : small)
        pool->free(p, 20);
    void* again = pool->alloc(17); // recycled, same class
    std::memset(again, 1, 17);
    pool->free(again, 17);

    // A piece holds what its last user left: the checker must not call that
    // uninitialised.
    auto* left = static_cast<unsigned char*>(pool->alloc(40));
    std::memset(left, 0xAB, 40);
    pool->free(left, 40);
    left = static_cast<unsigned char*>(pool->alloc(36));
    void* link;
    std::memcpy(&link, left, sizeof link); // the old recycle link
    if (left[20] != 0xAB || left[35] != 0xAB || link == left)
        return 1;

    void* a = pool->alloc(600);
    void* b = pool->alloc(700);
    void* c = pool->alloc(20000); // a block of its own
    std::memset(a, 2, 600);
    std::memset(b, 3, 700);
    std::memset(c, 4, 20000);
    pool->free(a, 600);
    pool->free(b, 700);           // merges with a and the rest
    pool->free(c, 20000);

    kavList list;
    for (int i = 0; i < 10; ++i)
        list.add(*new (pool) kavObject);
    kavString s("interned");
    kavNamedObj* named = new kavNamedObj(kavString("name"));
    int sum = touch(static_cast<char*>(s)) + named->useCount();
    delete named;
    list.removeAll();

    std::ostringstream sink;
    kavLib::set(0);
    kavPool::printAll(sink);
    sum += static_cast<int>(pool->fblocks() + pool->rblocks());
    kavLib::reset();              // deletes `pool`, empties the main pool
    std::printf("clean %d\n", sum > 0);
    return 0;
}

int uninitialised()
{
    kavPool pool;
    const auto* p = static_cast<const unsigned char*>(pool.alloc(40));
    if (p[20] == 0) // never written
        std::puts("zero");
    return 0;
}

int useAfterFree()
{
    kavObject* obj = new kavObject; // in the main pool
    delete obj;
    volatile int count = obj->useCount();
    return count;
}

int pastEnd()
{
    kavPool pool;
    char* p = static_cast<char*>(pool.alloc(20));
    return touch(p + 20);
}

int afterRelease()
{
    kavPool pool;
    char* p = static_cast<char*>(pool.alloc(100));
    pool.release();
    return touch(p);
}

int doubleFree()
{
    kavPool pool;
    void* p = pool.alloc(40);
    pool.free(p, 40);
    pool.free(p, 40);
    return 0;
}

void* kept;

int leak()
{
    // Two pieces of the main pool, which is never released; at exit only
    // the first is still referred to.
    kept = kavPool::mainPool()->alloc(48);
    void* lost = kavPool::mainPool()->alloc(48);
    std::memset(lost, 0, 48);
    return touch(kept) * 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* what = argc > 1 ? argv[1] : "";
    if (std::strcmp(what, "clean") == 0)
        return clean();
    if (std::strcmp(what, "uninitialised") == 0)
        return uninitialised();
    if (std::strcmp(what, "use-after-free") == 0)
        return useAfterFree();
    if (std::strcmp(what, "past-end") == 0)
        return pastEnd();
    if (std::strcmp(what, "after-release") == 0)
        return afterRelease();
    if (std::strcmp(what, "double-free") == 0)
        return doubleFree();
    if (std::strcmp(what, "leak") == 0)
        return leak();
    std::fprintf(stderr, "usage: poolmisuse clean|uninitialised|use-after-free|past-end|after-release|"
                         "double-free|leak\n");
    return 2;
}
