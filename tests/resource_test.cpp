// kavPoolResource: the standard pmr containers over a pool.
#include "testutil.h"

#include <algorithm>
#include <map>
#include <memory_resource>

// Vectors, strings and maps take their storage from the pool and give all of
// it back: the pool ends as it began.  Resources over one pool are equal.
TEST_F(kavLibTest, PmrContainersLiveInThePool)
{
    kavKeptPool pool;
    kavPoolResource resource(&pool);
    const unsigned int before = pool.umem();
    {
        std::pmr::map<std::pmr::string, std::pmr::vector<int>> m(&resource);
        for (int i = 0; i < 300; ++i)
            m[std::pmr::string(std::string(40, 'a') + std::to_string(i))].assign(1000, i);
        EXPECT_EQ(std::string_view(m.begin()->first), std::string(40, 'a') + "0");
        EXPECT_EQ(m.rbegin()->second, std::pmr::vector<int>(1000, 99));
        EXPECT_GT(pool.umem(), before + 300 * 1000 * sizeof(int));
    }
    EXPECT_EQ(pool.umem(), before);

    kavPoolResource same(&pool), mainPool;
    EXPECT_TRUE(resource.is_equal(same) && !resource.is_equal(mainPool) &&
                !resource.is_equal(*std::pmr::new_delete_resource()));
    EXPECT_EQ(mainPool.pool(), kavPool::mainPool());

    // Every alignment is served: up to 8 from the pool's own pieces, above
    // that from a longer piece; the pieces do not overlap and all go back.
    std::vector<std::tuple<unsigned char*, std::size_t, std::size_t>> pieces; // each filled with its number
    for (std::size_t align = 1; align <= 4096; align *= 2)
        for (std::size_t bytes : {std::size_t{0}, std::size_t{1}, align, 3 * align + 5, std::size_t{9000}}) {
            auto* p = static_cast<unsigned char*>(resource.allocate(bytes, align));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % align, 0u) << bytes << " " << align;
            std::fill(p, p + bytes, static_cast<unsigned char>(pieces.size()));
            pieces.emplace_back(p, bytes, align);
        }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto [p, bytes, align] = pieces[i];
        EXPECT_EQ(std::count(p, p + bytes, static_cast<unsigned char>(i)), static_cast<std::ptrdiff_t>(bytes)) << i;
        resource.deallocate(p, bytes, align);
    }
    EXPECT_EQ(pool.umem(), before);
}
