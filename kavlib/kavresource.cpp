// kavlib: a standard memory resource over a pool.
#include <kavlib/kavresource.h>

#include <cstdint>
#include <limits>
#include <new>

namespace {

// Pool pieces are 8-byte aligned: larger alignments are made by hand.
constexpr std::size_t poolAlignment = 8;

// The piece size for a request: a zero-byte request still gets a piece of its
// own, and an over-aligned one `alignment` bytes more, room for the shift to
// an aligned address and the word in front of it that records the shift.
std::size_t pieceSize(std::size_t bytes, std::size_t alignment)
{
    const std::size_t size = bytes != 0 ? bytes : 1;
    if (alignment <= poolAlignment)
        return size;
    if (size > std::numeric_limits<std::size_t>::max() - alignment)
        throw std::bad_alloc();
    return size + alignment;
}

} // namespace

kavPoolResource::kavPoolResource(kavPool* pool) noexcept : _pool(pool != nullptr ? pool : kavPool::mainPool()) {}

kavPoolResource::~kavPoolResource() = default;

void* kavPoolResource::do_allocate(std::size_t bytes, std::size_t alignment)
{
    const std::size_t size = pieceSize(bytes, alignment);
    void* piece;
    if (_pool != nullptr) {
        // Sizes in a pool are unsigned int; leave room for its rounding.
        if (size > std::numeric_limits<unsigned int>::max() - poolAlignment)
            throw std::bad_alloc();
        piece = _pool->alloc(static_cast<unsigned int>(size));
        if (piece == nullptr)
            throw std::bad_alloc();
    } else {
        piece = ::operator new(size);
    }
    if (alignment <= poolAlignment)
        return piece;
    // The first aligned address past the piece's start: at least 8 bytes in,
    // since the piece is 8-byte aligned and `alignment` is a larger power of
    // two, and at most `alignment` bytes in, so `bytes` still fit after it.
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(piece);
    const std::uintptr_t aligned = (start + alignment) & ~static_cast<std::uintptr_t>(alignment - 1);
    const std::size_t shift = static_cast<std::size_t>(aligned - start);
    unsigned char* result = static_cast<unsigned char*>(piece) + shift;
    ::new (static_cast<void*>(result - sizeof(std::size_t))) std::size_t(shift);
    return result;
}

void kavPoolResource::do_deallocate(void* p, std::size_t bytes, std::size_t alignment)
{
    const std::size_t size = pieceSize(bytes, alignment);
    void* piece = p;
    if (alignment > poolAlignment) {
        unsigned char* result = static_cast<unsigned char*>(p);
        const std::size_t shift = *std::launder(reinterpret_cast<std::size_t*>(result - sizeof(std::size_t)));
        piece = result - shift;
    }
    if (_pool != nullptr)
        _pool->free(piece, static_cast<unsigned int>(size));
    else
        ::operator delete(piece);
}

bool kavPoolResource::do_is_equal(const std::pmr::memory_resource& other) const noexcept
{
    if (this == &other)
        return true;
    const kavPoolResource* o = dynamic_cast<const kavPoolResource*>(&other);
    return o != nullptr && o->_pool == _pool;
}
