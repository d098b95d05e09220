// A first look at kavlib's pools: make two pools, allocate and give back
// pieces, and print the report of all pools, first plain, then with the
// detail of library flag 0.
#include <kavlib/kavlib.h>

#include <iostream>

int main()
{
    kavLib::init(true);

    kavPool scratch;               // pool 1, on the stack
    scratch.setReleaseFlag(false); // so releaseAll() leaves it alone
    kavPool* big = new kavPool;    // pool 2, released by kavLib::reset()

    void* small[3];
    for (void*& p : small)
        p = scratch.alloc(16);
    scratch.free(small[1], 16);    // back onto the recycle list of size 16

    void* a = big->alloc(600);
    void* b = big->alloc(600);
    big->free(a, 600);             // back among the free blocks
    (void)b;

    kavPool::printAll(std::cout);
    kavLib::set(0);
    kavPool::printAll(std::cout);

    kavLib::reset();
    kavLib::clr(0);
    kavPool::printAll(std::cout);
    return 0;
}
