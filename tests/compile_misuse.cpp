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
    const char* text = s;                   // the text, read only
    char* written = s;                      // the conversion the class has always had
    const char* elemText = e;
    static_cast<void>(text);
    static_cast<void>(written);
    static_cast<void>(elemText);
#if MISUSE == 1
    new (&pool) kavObject[2]; // MISUSE 1: an array over the pool object
#elif MISUSE == 2
    new (nullptr) kavList[2]; // MISUSE 2: an array "in the main pool"
#elif MISUSE == 3
    delete s; // MISUSE 3: deleting a string through its text
#elif MISUSE == 4
    delete e; // MISUSE 4: deleting an element through its text
#endif
}
