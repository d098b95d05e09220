// The soak run: a randomized mix of every operation of every class (pools,
// pooled and unpooled objects, the four containers, iterators, strings in the
// global and a temporary table, named objects), with temporary-table cycles
// and reset cycles, some of them while containers still hold elements.  Each
// step is checked against a simple model; check() aborts with a message.
#ifndef KAVLIB_TESTS_SOAK_H
#define KAVLIB_TESTS_SOAK_H

#include <kavlib/kavlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace soak {

inline void check(bool ok, const char* what, unsigned long long step)
{
    if (!ok) {
        std::fprintf(stderr, "soak: %s (step %llu)\n", what, step);
        std::abort();
    }
}

// An element with a unique key: equal only to itself, ordered by key (keys
// count up from 0: their difference cannot overflow).
struct Elem : kavObject {
    explicit Elem(int k) : key(k) {}
    unsigned int hash(int n) const override { return static_cast<unsigned int>(key) % static_cast<unsigned int>(n); }
    int objcmp(const kavObject& o) const override { return key - static_cast<const Elem&>(o).key; }
    int key;
};

// A run on a hash container of `chains` chains.
template <unsigned int chains = 4191>
class Run {
public:
    /// Random choices from a generator seeded with `seed`.
    explicit Run(unsigned int seed)
        : Run([r = std::mt19937(seed)](unsigned int n) mutable { return std::uniform_int_distribution<unsigned int>(0, n - 1)(r); })
    {
    }
    /// Choices from `source`, which answers a number below its argument (a
    /// fuzzer's input).  With `keepTable` the run ends by giving back all it
    /// made instead of a reset, and checks that the main pool then holds
    /// just what it held at the start: the global table stays for the next
    /// run.
    explicit Run(std::function<unsigned int(unsigned int)> source, bool keepTable = false)
        : _source(std::move(source)), _keepTable(keepTable)
    {
        kavLib::init(false);
        _mainUsed = kavPool::mainPool()->umem();
    }
    ~Run()
    {
        emptyAll();
        if (_keepTable)
            giveBack();
        else
            kavLib::reset();
    }

    // One random operation, checked: the first of the mix whose bound lies
    // above a number below 100, with an argument below 4 (which container,
    // which pool).
    void step()
    {
        using Op = void (Run::*)(unsigned int);
        static constexpr std::pair<unsigned int, Op> mix[] = {
            {14, &Run::make},      {20, &Run::drop},       {45, &Run::add},    {60, &Run::remove},
            {66, &Run::verify},    {67, &Run::removeAll},  {82, &Run::intern}, {88, &Run::named},
            {93, &Run::temporary}, {94, &Run::resetCycle}, {100, &Run::verify}};
        ++_step;
        const unsigned int op = pick(100), arg = pick(4);
        for (const auto& [bound, run] : mix)
            if (op < bound)
                return (this->*run)(arg);
    }

private:
    struct Info {
        bool pooled = false;
        bool held = false; // the run holds a reference itself (pooled only)
    };

    unsigned int pick(unsigned int n) { return _source(n) % n; }
    kavContainer& box(unsigned int c) { return c == 0 ? static_cast<kavContainer&>(_list) : c == 1 ? static_cast<kavContainer&>(_slist) : c == 2 ? static_cast<kavContainer&>(_fifo) : *_hash; }
    Elem* any()
    {
        return _live.empty() ? nullptr : std::next(_live.begin(), pick(static_cast<unsigned int>(_live.size())))->first;
    }
    // Drops the run's own references, the temporary table, the run's texts
    // in the global table and its pools (the containers are empty).
    void giveBack()
    {
        for (auto& kv : _live)
            if (kv.second.pooled && kv.second.held)
                kv.first->down(); // the last reference: deleted
        _live.clear();
        kavLib::tempReset();
        auto* table = const_cast<kavStringTbl*>(kavStringTbl::table());
        for (const auto& kv : _texts)
            check(table->remove(*const_cast<kavStrElem*>(kv.second)), "text in the global table", _step);
        for (kavPool* pool : _pools)
            delete pool;
        check(kavPool::mainPool()->umem() == _mainUsed, "main pool as at the start", _step);
    }
    // The links that hold e, as the containers' models have them.
    int holders(const Elem* e) const
    {
        int n = 0;
        for (const auto& m : _m)
            n += static_cast<int>(std::count(m.begin(), m.end(), e));
        return n;
    }
    // After a change to e's holders: a pooled element that nothing holds is
    // gone, every other has the use count of its holders.
    void settle(Elem* e)
    {
        const Info i = _live[e];
        const int uses = i.pooled ? holders(e) + (i.held ? 1 : 0) : 0;
        if (i.pooled && uses == 0)
            _live.erase(e);
        else
            check(e->useCount() == uses, "use count", _step);
    }

    // An unpooled element (kind 0), or one in the main pool or a run's pool.
    void make(unsigned int kind)
    {
        if (kind == 0) {
            if (_unpooled.size() < 64)
                _live[&_unpooled.emplace_back(_key++)] = Info{}; // built in place: no pool
            return;
        }
        kavPool* pool = kind == 1 ? nullptr : _pools[kind - 2];
        Elem* e = new (pool) Elem(_key++);
        check(e->getPool() == (pool != nullptr ? pool : kavPool::mainPool()), "pool of a new object", _step);
        e->up();
        _live[e] = Info{true, true};
    }
    void drop(unsigned int)
    {
        Elem* e = any();
        if (e == nullptr || !_live[e].held)
            return;
        _live[e].held = false;
        e->down();
        settle(e);
    }
    void add(unsigned int c)
    {
        Elem* e = any();
        if (e == nullptr)
            return;
        check(&box(c).add(*e) == e, "add returns its object", _step);
        auto& m = _m[c]; // in link order: newest first but for the sorted list and the FIFO
        if (c == 1)
            m.insert(std::upper_bound(m.begin(), m.end(), e, [](Elem* a, Elem* b) { return a->key < b->key; }), e);
        else if (c == 2)
            m.push_back(e);
        else
            m.push_front(e);
        settle(e);
    }
    // Every container finds and removes the first match in link order.
    void remove(unsigned int c)
    {
        Elem* e = any();
        if (e == nullptr)
            return;
        const auto it = std::find(_m[c].begin(), _m[c].end(), e);
        const bool present = it != _m[c].end();
        check(box(c).find(*e) == (present ? e : nullptr), "find", _step);
        check(box(c).remove(*e) == present, "remove", _step);
        if (present) {
            _m[c].erase(it);
            settle(e);
        }
    }
    unsigned int chainOf(unsigned int c, const Elem* e) const { return c == 3 ? static_cast<unsigned int>(e->key) % chains : 0; }
    // The iteration order is link order, but the hash container walks its
    // chains from 0 up.
    void verify(unsigned int c)
    {
        _got.clear();
        for (kavObject& o : box(c))
            _got.push_back(static_cast<Elem*>(&o));
        _want.assign(_m[c].begin(), _m[c].end());
        if (c == 3)
            std::stable_sort(_want.begin(), _want.end(), [this](Elem* a, Elem* b) { return chainOf(3, a) < chainOf(3, b); });
        check(_got == _want, "iteration order", _step);
        check(box(c).count() == static_cast<int>(_m[c].size()), "count", _step);
    }
    void removeAll(unsigned int c)
    {
        const std::set<Elem*> held(_m[c].begin(), _m[c].end()); // removeAll may delete them
        box(c).removeAll();
        _m[c].clear();
        for (Elem* e : held)
            settle(e);
        check(box(c).empty(), "empty after removeAll", _step);
    }
    void emptyAll() { for (unsigned int c = 0; c < 4; ++c) removeAll(c); }
    void intern(unsigned int) { track(kavString(textOf(pick(300)).c_str())); }
    static std::string textOf(unsigned int n) { return "w" + std::to_string(n); }
    // Checks a string just made from a text against the model of its table.
    void track(const kavString& s)
    {
        const std::string text = static_cast<char*>(s);
        auto& m = kavStringTbl::tempTable() != nullptr ? _tempTexts : _texts;
        const auto [known, fresh] = m.emplace(text, s.elem());
        check(fresh || known->second == s.elem(), "one element per text", _step);
        check(s == text.c_str(), "interned text", _step);
        const kavStringTbl* t = kavStringTbl::tempTable() != nullptr ? kavStringTbl::tempTable() : kavStringTbl::table();
        check(t->count() == static_cast<int>(m.size()), "table count", _step);
    }
    void named(unsigned int pool)
    {
        kavString s(textOf(pick(300)).c_str());
        track(s);
        kavNamedObj* n = new (_pools[pool % 2]) kavNamedObj(s);
        kavNamedObj local(s);
        check(n->isEqual(s) && s.isEqual(*n) && local.isEqual(*n) && n->objcmp(local) == 0, "named equality", _step);
        check(n->hash(4191) == s.hash(4191), "named hash", _step);
        delete n;
    }
    void temporary(unsigned int)
    {
        if (kavStringTbl::tempTable() == nullptr) {
            kavLib::tempInit(&_scratch);
        } else {
            kavLib::tempReset();
            _tempTexts.clear();
            check(_scratch.amem() == 0, "temporary pool emptied", _step);
        }
    }
    // A reset frees every link in a pool (a pooled element's): each chain
    // (one per container, one per key class in the hash container) keeps its
    // elements up to the first pooled one.  An unpooled element's heap link
    // behind that would never be given back (the guide says so): such
    // elements are taken out first, so that a run leaves no heap memory.
    // What is left of the model then is what the reset leaves: the unpooled.
    void beforeReset(unsigned int c)
    {
        std::set<unsigned int> cut;
        std::set<Elem*> stranded;
        for (Elem* e : _m[c])
            if (e->getPool() != nullptr)
                cut.insert(chainOf(c, e));
            else if (cut.count(chainOf(c, e)) != 0)
                stranded.insert(e);
        for (Elem* e : stranded)
            while (box(c).remove(*e))
                _m[c].erase(std::find(_m[c].begin(), _m[c].end(), e));
        _m[c].erase(std::remove_if(_m[c].begin(), _m[c].end(), [](Elem* e) { return e->getPool() != nullptr; }), _m[c].end());
    }
    // Everything goes.  For an even `way` the containers are emptied first;
    // else those that still hold elements keep their links up to the first
    // that went with a pool.
    void resetCycle(unsigned int way)
    {
        if (way % 2 == 0)
            emptyAll();
        for (unsigned int c = 0; c < 4; ++c)
            beforeReset(c); // before the reset: the pooled objects go with it
        for (auto it = _live.begin(); it != _live.end();)
            it = it->second.pooled ? _live.erase(it) : std::next(it);
        kavLib::reInit(false);
        _pools[0] = new kavPool;
        _pools[1] = new kavPool;
        _texts.clear();
        _tempTexts.clear();
        check(kavPool::npools() == 5, "pools after a reset", _step);
        for (unsigned int c = 0; c < 4; ++c)
            verify(c);
    }

    std::function<unsigned int(unsigned int)> _source;
    bool _keepTable = false;
    unsigned int _mainUsed = 0; // the main pool's umem() at the start
    unsigned long long _step = 0;
    int _key = 0;
    kavPool _scratch;           // the temporary tables' pool
    kavPool _hashPool;          // flag cleared below: outlives resets
    kavPool* _pools[2] = {new kavPool, new kavPool};
    kavList _list;
    kavSList _slist;
    kavFifo _fifo;
    kavHash<chains>* _hash = (_hashPool.setReleaseFlag(false), _scratch.setReleaseFlag(false), new (&_hashPool) kavHash<chains>);
    std::deque<Elem> _unpooled;
    std::map<Elem*, Info> _live;
    std::deque<Elem*> _m[4]; // the containers' models, in link order
    std::vector<Elem*> _got, _want; // what verify() compares
    std::map<std::string, const kavStrElem*> _texts, _tempTexts;
};

} // namespace soak

#endif
