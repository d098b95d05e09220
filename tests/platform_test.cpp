// What differs between the platforms kavlib is built for: the free-block
// header (plain with 4-byte pointers, tagged with 8-byte ones), the text of
// pointers in dumps, and, on Windows, the DLL boundary.
#include "testutil.h"

#include <cstdint>
#include <cstring>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::uintptr_t addressOf(const void* p)
{
    return reinterpret_cast<std::uintptr_t>(p);
}

// The pointer-sized link word at the start of a free-block header.
std::uintptr_t linkWord(const void* header)
{
    std::uintptr_t w;
    std::memcpy(&w, header, sizeof w);
    return w;
}

// The 32-bit size that follows the link word.
unsigned int sizeWord(const void* header)
{
    unsigned int s;
    std::memcpy(&s, static_cast<const char*>(header) + sizeof(void*), sizeof s);
    return s;
}

} // namespace

// A piece cut from a free block starts with that block's old header, which
// shows the layout: [next][size] in every block of 16 bytes or more; in an
// 8-byte block [next][size] with 4-byte pointers (exactly the rounding unit)
// or, with 8-byte pointers, the link word alone with its low bit set.  Either
// way an 8-byte free block is counted, found first fit and merged.
TEST_F(kavLibTest, FreeBlockHeaderLayoutFollowsThePointerWidth)
{
    kavPool pool;
    char* base = static_cast<char*>(pool.alloc(512));
    void* rest = pool.alloc(7480); // leaves an 8-byte free block at +7992
    ASSERT_EQ(rest, base + 512);
    const char* tail = base + 7992;
    EXPECT_EQ(pool.fblocks(), 1u);
    EXPECT_EQ(pool.fmem(), 8u);

    pool.free(base, 512); // a block of 512 at +0, linked to the one at +7992
    void* front = pool.alloc(504); // leaves an 8-byte free block at +504
    ASSERT_EQ(front, base);
    EXPECT_EQ(linkWord(front), addressOf(tail));
    EXPECT_EQ(sizeWord(front), 512u);

    void* small = pool.alloc(8); // first fit: the 8-byte block at +504
    ASSERT_EQ(small, base + 504);
    if (sizeof(void*) == 4) {
        EXPECT_EQ(linkWord(small), addressOf(tail));
        EXPECT_EQ(sizeWord(small), 8u);
    } else {
        EXPECT_EQ(linkWord(small), addressOf(tail) | 1u);
    }
    EXPECT_EQ(pool.fblocks(), 1u);
    EXPECT_EQ(pool.fmem(), 8u);

    // The piece before the 8-byte block at the end absorbs it.
    pool.free(rest, 7480);
    EXPECT_EQ(pool.fblocks(), 1u);
    EXPECT_EQ(pool.fmem(), 7488u);
    EXPECT_EQ(pool.amem(), pool.fmem() + pool.rmem() + pool.umem());

    // An 8-byte block absorbs the piece after it, and with it the free block
    // that piece touches.
    kavPool other;
    char* b = static_cast<char*>(other.alloc(512));
    void* second = other.alloc(512);
    other.free(b, 512);
    ASSERT_EQ(other.alloc(504), b); // 8 bytes stay free at +504
    other.free(second, 512);
    EXPECT_EQ(other.fblocks(), 1u);
    EXPECT_EQ(other.fmem(), 8000u - 504u);
    EXPECT_EQ(other.alloc(7496), b + 504);
    EXPECT_EQ(other.fblocks(), 0u);
}

// Dumps are compared with their pointers masked, whatever the form this
// platform's stream writes them in.
TEST_F(kavLibTest, PointersInDumpsAreMasked)
{
    int x = 0;
    std::ostringstream os;
    os << "@[" << static_cast<const void*>(&x) << "] P[0] Alloc=12345678 ";
    EXPECT_EQ(maskPointers(os.str()), "@[@PTR] P[0] Alloc=12345678 ");

    kavLib::set(1);
    std::ostringstream dump;
    kavObject object;
    object.dump(dump, 0, 1);
    EXPECT_EQ(maskPointers(dump.str()), "kavObject @[@PTR] \n");
}

#ifdef _WIN32
// The library is the DLL kavlib.dll; the main pool was made when it loaded,
// and exported data (class-name constants, the main pool) is the same on
// both sides of the boundary.  An application instantiates hash containers
// of its own sizes and uses the DLL's kavHash<4191>.
TEST_F(kavLibTest, LibraryIsTheDll)
{
    EXPECT_NE(GetModuleHandleA("kavlib.dll"), nullptr);
    ASSERT_NE(kavPool::mainPool(), nullptr);
    EXPECT_EQ(kavPool::mainPool()->getNum(), 0);

    kavObject a, b;
    kavHash<3> small;
    kavHash<4191> large;
    small.add(a);
    large.add(b);
    EXPECT_EQ(small.find(a), &a);
    EXPECT_EQ(large.find(b), &b);
    EXPECT_EQ(small.className(), kavHashClass);
    EXPECT_TRUE(large.isA(kavHashClass));
    EXPECT_TRUE(small.isA(kavContainerClass));
}
#endif
