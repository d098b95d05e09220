// Global heap calls made through pools.  A pool takes memory from the global
// heap one block of at least 8000 bytes at a time (plus one record per
// block) and gives it back only when it is released; recycled pieces never
// reach the heap.  This program replaces the global operator new and delete
// to count the calls (on Windows, the DLL's imports of them), which is why it
// is an executable of its own.
#include "testutil.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#if defined(_WIN32) && !defined(KAVLIB_STATIC)
#include <windows.h>
#endif

static long long newCalls = 0, deleteCalls = 0;

// While armed, the heap call that brings failCountdown to 0 fails.
static bool armed = false;
static long long failCountdown = 0;
static bool callFailed = false; // that call was made

// The counting heap: malloc and free underneath.
void* countedNew(std::size_t n)
{
    if (armed && --failCountdown == 0) {
        callFailed = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(n == 0 ? 1 : n)) {
        ++newCalls;
        return p;
    }
    throw std::bad_alloc();
}

void countedDelete(void* p) noexcept
{
    if (p == nullptr)
        return;
    ++deleteCalls;
    std::free(p);
}

void countedSizedDelete(void* p, std::size_t) noexcept { countedDelete(p); }

#if !defined(_WIN32) || defined(KAVLIB_STATIC)
// The replacements serve the library too.  GCC cannot see that the pair is
// matched once operator delete inlines into a delete-expression.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) { return countedNew(n); }
void operator delete(void* p) noexcept { countedDelete(p); }
void operator delete(void* p, std::size_t n) noexcept { countedSizedDelete(p, n); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

#if defined(_WIN32) && !defined(KAVLIB_STATIC)
// A program's replacement of operator new reaches no DLL: kavlib.dll calls
// the C++ run-time DLL's, through its import table.  Point those imports at
// the counting heap, so that the library's heap calls are counted as on
// Linux.  This program's own calls are left to the run time: strings grown
// inside the run-time DLL and freed here would not pair up.  Pieces taken
// before keep working: both heaps are the C run-time's malloc underneath.
// Answers how many imports it pointed.
int redirectHeapImports(const char* dll)
{
    using newFn = void* (*)(std::size_t);
    using deleteFn = void (*)(void*) noexcept;
    using sizedDeleteFn = void (*)(void*, std::size_t) noexcept;
#ifdef _WIN64
    const char* const names[] = {"_Znwy", "_ZdlPv", "_ZdlPvy"};
#else
    const char* const names[] = {"_Znwj", "_ZdlPv", "_ZdlPvj"};
#endif
    void* const targets[] = {reinterpret_cast<void*>(static_cast<newFn>(&countedNew)),
                             reinterpret_cast<void*>(static_cast<deleteFn>(&countedDelete)),
                             reinterpret_cast<void*>(static_cast<sizedDeleteFn>(&countedSizedDelete))};
    auto* base = reinterpret_cast<unsigned char*>(::GetModuleHandleA(dll));
    if (base == nullptr)
        return 0;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int pointed = 0;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
        const auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                continue;
            const char* imported = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name;
            for (int i = 0; i < 3; ++i) {
                if (std::strcmp(imported, names[i]) != 0)
                    continue;
                DWORD was;
                ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &was);
                slot->u1.Function = reinterpret_cast<ULONG_PTR>(targets[i]);
                ::VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, was, &was);
                ++pointed;
            }
        }
    }
    return pointed;
}

// Done as the program starts, before any test; the DLL is loaded by then.
const int heapImportsPointed = redirectHeapImports("kavlib.dll");

// The DLL imports operator new and both deletes, and all three now count.
TEST(heapCallsOnWindows, LibraryImportsArePointedHere) { EXPECT_EQ(heapImportsPointed, 3); }
#endif

// 100 000 small pieces of random sizes: one block and one block record per
// 8000 bytes of pieces, give or take the block ends that no piece filled.
// Then a million frees and allocations, each slot keeping its size, are all
// met from the recycle lists; releasing the pool gives every block back.
TEST_F(kavLibTest, SmallPiecesCostOneHeapCallPerBlock)
{
    if (KAVLIB_CHECKED)
        GTEST_SKIP() << "the checked build's table of pieces takes heap memory of its own";
    kavPool pool;
    pool.setReleaseFlag(false);
    std::mt19937 random(2024);
    std::vector<std::pair<void*, unsigned int>> live(100000);
    unsigned long long bytes = 0;

    const long long news = newCalls, deletes = deleteCalls;
    for (auto& [p, n] : live) {
        n = 1 + random() % 504;
        ASSERT_NE(p = pool.alloc(n), nullptr);
        bytes += kavPool::roundSize(n);
    }
    const long long blockNews = newCalls - news;
    EXPECT_EQ(blockNews, 2 * static_cast<long long>(pool.ablocks())) << "one block and one record each";
    EXPECT_LE(pool.ablocks(), bytes / 8000 + 1) << "bytes in pieces: " << bytes;

    for (int i = 0; i < 1000000; ++i) {
        auto& [p, n] = live[random() % live.size()];
        pool.free(p, n);
        p = pool.alloc(n);
    }
    EXPECT_EQ(newCalls - news, blockNews);
    EXPECT_EQ(deleteCalls, deletes);
    pool.release();
    EXPECT_EQ(deleteCalls - deletes, blockNews);
}

// Objects that live and die in containers, and texts interned again and
// again: once the pool holds what one round needs, later rounds make no heap
// call at all (links, iterators, candidates and their texts are recycled).
TEST_F(kavInitTest, ObjectsContainersAndInterningRecycleTheirPieces)
{
    if (KAVLIB_CHECKED)
        GTEST_SKIP() << "the checked build's table of pieces takes heap memory of its own";
    kavPool pool;
    pool.setReleaseFlag(false);
    auto round = [&] {
        kavList list;
        kavFifo fifo;
        for (int i = 0; i < 1000; ++i) {
            auto* item = new (&pool) kavObject;
            list.add(*item);
            fifo.add(*item);
        }
        for (kavIterPtr it(list); it; it++)
            it().hash(4191);
        list.removeAll();
        fifo.removeAll(); // the last holder: every item is deleted here
        for (int i = 0; i < 500; ++i) {
            char w[16];
            std::snprintf(w, sizeof w, "word%d", i * 7919 % 1000);
            kavString s(w);
        }
    };

    const unsigned int blocksBefore = pool.ablocks() + kavPool::mainPool()->ablocks();
    const long long news = newCalls;
    round();
    const long long firstNews = newCalls - news;
    EXPECT_EQ(firstNews, 2 * static_cast<long long>(pool.ablocks() + kavPool::mainPool()->ablocks() - blocksBefore))
        << "the first round: blocks and records only";
    const long long later = newCalls, laterDeletes = deleteCalls;
    for (int i = 0; i < 20; ++i)
        round();
    EXPECT_EQ(newCalls, later);
    EXPECT_EQ(deleteCalls, laterDeletes);
}

// A scripted run of pool calls, repeated with its N-th heap call failing, for
// every N until a run makes no N-th call.  A call that meets the failure
// throws and leaves the pool's detailed report as it was (or, in the checked
// build, whose table entry is taken ahead, goes on without it); releasing the
// pool gives back all it took.
TEST_F(kavLibTest, AFailingHeapLeavesThePoolAsItWas)
{
    const auto report = [](const kavPool& p) {
        std::ostringstream os;
        kavLib::set(0);
        os << p;
        kavLib::clr(0);
        return os.str();
    };
    // a: alloc into slot, f: free slot, e: establish, r: release
    const std::vector<std::tuple<char, int, unsigned int>> script = {
        {'a', 0, 100},  {'a', 1, 7000}, {'a', 2, 900},  {'a', 3, 20000}, {'f', 1, 0},    {'a', 4, 600},
        {'e', 0, 12000}, {'a', 5, 16},  {'f', 5, 0},    {'a', 6, 16},    {'a', 7, 8000}, {'f', 3, 0},
        {'a', 8, 30000}, {'r', 0, 0},   {'a', 9, 50},   {'a', 10, 9000}, {'f', 9, 0},    {'f', 10, 0},
        {'a', 11, 0},   {'e', 0, 100}};
    int failures = 0;
    for (long long n = 1;; ++n) {
        const long long live = newCalls - deleteCalls;
        auto pool = std::make_unique<kavPool>();
        pool->setReleaseFlag(false);
        std::pair<void*, unsigned int> slots[12] = {};
        callFailed = false;
        failCountdown = n;
        for (const auto& [op, slot, size0] : script) {
            auto& [p, size] = slots[slot];
            if (op == 'f' && p == nullptr)
                continue; // its alloc failed, or the pool was released since
            const std::string before = report(*pool);
            armed = true;
            try {
                if (op == 'a')
                    p = pool->alloc(size = size0);
                else if (op == 'f')
                    pool->free(p, size), p = nullptr;
                else if (op == 'e')
                    pool->establish(size0);
                else
                    pool->release(), std::fill(std::begin(slots), std::end(slots), std::pair<void*, unsigned int>());
                armed = false;
            } catch (const std::bad_alloc&) {
                armed = false;
                EXPECT_EQ(report(*pool), before) << "failing heap call " << n << ", step " << op << slot;
            }
        }
        pool.reset();
        EXPECT_EQ(newCalls - deleteCalls, live) << "heap memory not given back, failing call " << n;
        if (!callFailed)
            break;
        ++failures;
    }
    EXPECT_GE(failures, 10);
}

// Look-ups of texts never interned make no heap call and intern nothing.
TEST_F(kavInitTest, FailedLookupsMakeNoHeapCall)
{
    kavString known("known");
    kavList named;
    named.add(*new kavNamedObj(known));
    const long long news = newCalls;
    const int count = kavStringTbl::table()->count();
    for (int i = 0; i < 1000; ++i) {
        char w[16];
        std::snprintf(w, sizeof w, "absent%d", i);
        EXPECT_TRUE(kavString::lookup(w) == nullptr && !kavString::find(std::string_view(w)) &&
                    kavNamedObj::findIn(named, w) == nullptr);
    }
    EXPECT_EQ(newCalls, news);
    EXPECT_EQ(kavStringTbl::table()->count(), count);
}
