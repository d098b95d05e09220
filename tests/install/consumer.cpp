// Uses an installed kavlib: interning, a container, a pool, a reset.
#include <kavlib/kavlib.h>

#include <iostream>

int main()
{
    kavLib::init(true);
    kavPool* pool = new kavPool;
    kavHash<4191>& index = *new (pool) kavHash<4191>;
    index.add(*new (pool) kavNamedObj(kavString("kavlib")));
    const kavObject* found = index.find(kavString("kavlib"));
    const bool ok = found != nullptr && static_cast<const kavNamedObj&>(*found) == "kavlib";
    std::cout << (ok ? "found" : "missing") << "\n";
    kavLib::reset();
    return ok ? 0 : 1;
}
