// kavlib: start-up and reset of the library's global state.
#include <kavlib/library.h>

#include <kavlib/kavpool.h>
#include <kavlib/kavstr.h>

void kavLib::init(bool clear)
{
    kavStringTbl::establish(nullptr);
    if (clear)
        clrAll();
}

void kavLib::reInit(bool clear)
{
    kavStringTbl::pool();
    kavPool::releaseAll();
    kavStringTbl::establish(nullptr);
    if (clear)
        clrAll();
}

void kavLib::reset()
{
    kavStringTbl::pool();
    kavPool::releaseAll();
}

void kavLib::tempInit(kavPool* pool)
{
    if (pool == nullptr) {
        pool = new kavPool;
        try {
            kavStringTbl::establishTemp(pool);
        } catch (...) {
            delete pool; // the table could not be made: no pool is left behind
            throw;
        }
        return;
    }
    kavStringTbl::establishTemp(pool);
}

void kavLib::tempReset()
{
    const kavStringTbl* table = kavStringTbl::tempTable();
    if (table == nullptr)
        return;
    table->getPool()->release();
    kavStringTbl::tempPool();
}
