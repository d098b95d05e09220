// What differs between the platforms kavlib is built for: the free-block
// header (plain with 4-byte pointers, tagged with 8-byte ones) and, on
// Windows, the DLL boundary.
#include "testutil.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The word of type T at byte `offset` of a free-block header.
template <class T>
T word(const void* header, std::size_t offset)
{
    T w;
    std::memcpy(&w, static_cast<const char*>(header) + offset, sizeof w);
    return w;
}
// The pointer-sized link word, and the 32-bit size word after it.
std::uintptr_t linkWord(const void* header) { return word<std::uintptr_t>(header, 0); }
unsigned int sizeWord(const void* header) { return word<unsigned int>(header, sizeof(void*)); }

} // namespace

// A piece cut from a free block starts with that block's old header, which
// shows the layout: [next][size] in every block of 16 bytes or more; in an
// 8-byte block [next][size] with 4-byte pointers (exactly the rounding unit)
// or, with 8-byte pointers, the link word alone with its low bit set.  Either
// way an 8-byte free block is counted, merged on both sides and found first fit.
TEST_F(kavLibTest, FreeBlockHeaderLayoutFollowsThePointerWidth)
{
    kavPool pool;
    char* z = static_cast<char*>(pool.alloc(512));
    void* y = pool.alloc(7480); // 8 bytes stay free at +7992
    pool.free(z, 512);
    ASSERT_EQ(pool.alloc(504), z); // 8 bytes stay free at +504
    EXPECT_TRUE(linkWord(z) == reinterpret_cast<std::uintptr_t>(z + 7992) && sizeWord(z) == 512u);
    EXPECT_TRUE(pool.fblocks() == 2u && pool.fmem() == 16u);

    pool.free(y, 7480); // merges with both
    EXPECT_TRUE(pool.fblocks() == 1u && pool.fmem() == 7496u);
    ASSERT_EQ(pool.alloc(7488), z + 504); // 8 bytes stay free at +7992, the last free block
    void* last = pool.alloc(8);
    ASSERT_EQ(last, z + 7992);
    EXPECT_EQ(linkWord(last), sizeof(void*) == 4 ? 0u : 1u); // null, tagged with 8-byte pointers
    EXPECT_EQ(sizeof(void*) == 4 ? sizeWord(last) : 8u, 8u);  // the size word exists with 4-byte pointers only
    EXPECT_EQ(pool.fblocks(), 0u);
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
    kavHash<3> small;
    kavHash<4191> large;
    EXPECT_TRUE(small.className() == kavHashClass && large.isA(kavHashClass) && small.isA(kavContainerClass));
}
#endif
