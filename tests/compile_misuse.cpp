// Uses of the library that must not compile.  The file is compiled once as
// it is, which must succeed (the uses around the misuses are right), and once
// with MISUSE set to each case's number, which must fail on that case's line.
#include <kavlib/kavlib.h>

void uses(kavPool& pool, kavString& s, kavStrElem& e)
{
    kavObject* one = new (&pool) kavObject; // a pooled object
    delete one;
    kavList* some = new kavList[2];         // arrays come from the global heap
    delete[] some;
    static_cast<void>(s);
    static_cast<void>(e);
#if MISUSE == 1
    new (&pool) kavObject[2]; // MISUSE 1: an array over the pool object
#elif MISUSE == 2
    new (nullptr) kavList[2]; // MISUSE 2: an array "in the main pool"
#endif
}
