// kavlib: a standard memory resource over a pool.
//
// kavPoolResource lets the standard library's polymorphic-allocator
// containers (std::pmr::vector, std::pmr::string, std::pmr::map, ...) take
// their storage from a kavPool:
//
//     kavPool pool;
//     kavPoolResource resource(&pool);
//     std::pmr::vector<int> v(&resource);
//
// Requests aligned to 8 bytes or less (nearly all of them) are the pool's own
// pieces.  A larger alignment takes a piece `alignment` bytes longer, hands
// out its first suitably aligned address and keeps the distance back to the
// piece's start in the 8 bytes before that address.  Memory goes back to the
// pool on deallocate, and all at once when the pool is released: release a
// pool only when no container still uses it, since no destructor runs then.
// The resource is as thread-unsafe as the pool itself.
#ifndef KAVLIB_KAVRESOURCE_H
#define KAVLIB_KAVRESOURCE_H

#include <kavlib/export.h>
#include <kavlib/kavpool.h>

#include <cstddef>
#include <memory_resource>

/// A std::pmr::memory_resource whose storage comes from one kavPool.
class KAVLIB_API kavPoolResource : public std::pmr::memory_resource {
public:
    /// Storage from `pool`; null means the main pool (the global heap when
    /// there is none).
    explicit kavPoolResource(kavPool* pool = nullptr) noexcept;
    /// Gives nothing back: the pieces still out belong to the pool.
    ~kavPoolResource() override;

    kavPoolResource(const kavPoolResource&) = delete;
    kavPoolResource& operator=(const kavPoolResource&) = delete;

    /// The pool the storage comes from (null: the global heap).
    kavPool* pool() const noexcept { return _pool; }

protected:
    /// `bytes` bytes aligned to `alignment` (a power of two); throws
    /// std::bad_alloc when neither the pool nor the heap can supply them.
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    /// Gives back a piece from do_allocate with the same size and alignment.
    void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
    /// Equal to itself and to every other resource over the same pool.
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override;

private:
    kavPool* _pool; ///< where the storage comes from; null for the global heap
};

#endif
