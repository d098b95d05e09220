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
#include <memory>
#include <random>
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

// An element with a unique key: equal only to itself, ordered by key.
struct Elem : kavObject {
    explicit Elem(int k) : key(k) {}
    unsigned int hash(int n) const override { return static_cast<unsigned int>(key) % static_cast<unsigned int>(n); }
    int objcmp(const kavObject& o) const override
    {
        const int other = static_cast<const Elem&>(o).key;
        return key < other ? -1 : key > other ? 1 : 0;
    }
    int key;
};

// A run on a hash container of `chains` chains.
template <unsigned int chains = 4191>
class Run {
public:
    /// Random choices from a generator seeded with `seed`.
    explicit Run(unsigned int seed) : _random(seed) { kavLib::init(false); }
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

    // One random operation, checked.
    void step()
    {
        ++_step;
        const unsigned int op = pick(100);
        if (op < 14)
            make();
        else if (op < 20)
            drop();
        else if (op < 45)
            add(pick(4));
        else if (op < 60)
            remove(pick(4));
        else if (op < 66 || op >= 94)
            verify(pick(4));
        else if (op < 67)
            removeAll(pick(4));
        else if (op < 82)
            intern();
        else if (op < 88)
            named();
        else if (op < 93)
            temporary();
        else
            resetCycle(pick(2) == 0);
    }
    unsigned long long steps() const { return _step; }

private:
    struct Info {
        int holders = 0;   // links that hold it
        bool held = false; // the run holds it itself (pooled only)
        bool pooled = false;
    };

    unsigned int pick(unsigned int n)
    {
        if (_source)
            return _source(n) % n;
        return std::uniform_int_distribution<unsigned int>(0, n - 1)(_random);
    }
    kavContainer& box(unsigned int c) { return c == 0 ? static_cast<kavContainer&>(_list) : c == 1 ? static_cast<kavContainer&>(_slist) : c == 2 ? static_cast<kavContainer&>(_fifo) : *_hash; }
    Elem* any()
    {
        if (_live.empty())
            return nullptr;
        auto it = _live.begin();
        std::advance(it, pick(static_cast<unsigned int>(_live.size())));
        return it->first;
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
        delete _pools[0];
        delete _pools[1];
        check(kavPool::mainPool()->umem() == _mainUsed, "main pool as at the start", _step);
    }
    void forgetIfDead(Elem* e)
    {
        const Info& i = _live[e];
        if (i.pooled && i.holders == 0 && !i.held)
            _live.erase(e);
        else
            check(!i.pooled || e->useCount() == i.holders + (i.held ? 1 : 0), "use count", _step);
    }

    void make()
    {
        if (pick(4) == 0) {
            if (_unpooled.size() < 64) {
                _unpooled.emplace_back(_key++); // built in place: no pool
                _live[&_unpooled.back()] = Info{};
            }
            return;
        }
        kavPool* pool = pick(2) == 0 ? _pools[pick(2)] : nullptr;
        Elem* e = new (pool) Elem(_key++);
        check(e->getPool() == (pool != nullptr ? pool : kavPool::mainPool()), "pool of a new object", _step);
        e->up();
        _live[e] = Info{0, true, true};
    }
    void drop()
    {
        Elem* e = any();
        if (e == nullptr || !_live[e].held)
            return;
        _live[e].held = false;
        if (_live[e].holders == 0)
            _live.erase(e);
        e->down();
    }
    void add(unsigned int c)
    {
        Elem* e = any();
        if (e == nullptr)
            return;
        check(&box(c).add(*e) == e, "add returns its object", _step);
        ++_live[e].holders;
        if (c == 1)
            _mslist.emplace(e->key, e);
        else if (c == 0)
            _mlist.push_front(e);
        else
            (c == 2 ? _mfifo : _mhash).push_back(e);
        check(e->useCount() == (_live[e].pooled ? _live[e].holders + (_live[e].held ? 1 : 0) : 0), "use count after add", _step);
    }
    void remove(unsigned int c)
    {
        Elem* e = any();
        if (e == nullptr)
            return;
        bool present = false;
        if (c == 0 || c == 2) {
            auto& m = c == 0 ? _mlist : _mfifo;
            auto it = std::find(m.begin(), m.end(), e);
            if ((present = it != m.end()))
                m.erase(it);
        } else if (c == 1) {
            auto it = _mslist.find(e->key);
            if ((present = it != _mslist.end()))
                _mslist.erase(it);
        } else { // the newest addition: it stands first in its chain
            auto it = std::find(_mhash.rbegin(), _mhash.rend(), e);
            if ((present = it != _mhash.rend()))
                _mhash.erase(std::next(it).base());
        }
        check(box(c).find(*e) == (present ? e : nullptr), "find", _step);
        check(box(c).remove(*e) == present, "remove", _step);
        if (present) {
            --_live[e].holders;
            forgetIfDead(e);
        }
    }
    std::vector<kavObject*> model(unsigned int c) const
    {
        if (c != 1) {
            const auto& seq = c == 0 ? _mlist : c == 2 ? _mfifo : _mhash;
            return {seq.begin(), seq.end()};
        }
        std::vector<kavObject*> out;
        for (const auto& kv : _mslist)
            out.push_back(kv.second);
        return out;
    }
    void verify(unsigned int c)
    {
        std::vector<kavObject*> got;
        for (kavObject& o : box(c))
            got.push_back(&o);
        std::vector<kavObject*> want = model(c);
        if (c == 3) { // chains by key, newest first within one: compare as sets
            std::sort(got.begin(), got.end());
            std::sort(want.begin(), want.end());
        }
        check(got == want, "iteration order", _step);
        check(box(c).count() == static_cast<int>(want.size()), "count", _step);
    }
    void removeAll(unsigned int c)
    {
        std::vector<Elem*> held; // cast while they live: removeAll may delete them
        for (kavObject* o : model(c))
            held.push_back(static_cast<Elem*>(o));
        box(c).removeAll();
        if (c == 1)
            _mslist.clear();
        else
            (c == 0 ? _mlist : c == 2 ? _mfifo : _mhash).clear();
        for (Elem* e : held)
            --_live[e].holders;
        std::sort(held.begin(), held.end());
        held.erase(std::unique(held.begin(), held.end()), held.end());
        for (Elem* e : held)
            forgetIfDead(e);
        check(box(c).empty(), "empty after removeAll", _step);
    }
    void emptyAll() { for (unsigned int c = 0; c < 4; ++c) removeAll(c); }
    void intern() { track(kavString(textOf(pick(300)).c_str())); }
    static std::string textOf(unsigned int n) { return "w" + std::to_string(n); }
    // Checks a string just made from a text against the model of its table.
    void track(const kavString& s)
    {
        const std::string text = static_cast<char*>(s);
        auto& m = kavStringTbl::tempTable() != nullptr ? _tempTexts : _texts;
        auto it = m.find(text);
        if (it == m.end())
            m.emplace(text, s.elem());
        else
            check(it->second == s.elem(), "one element per text", _step);
        check(s == text.c_str(), "interned text", _step);
        const kavStringTbl* t = kavStringTbl::tempTable() != nullptr ? kavStringTbl::tempTable() : kavStringTbl::table();
        check(t->count() == static_cast<int>(m.size()), "table count", _step);
    }
    void named()
    {
        kavString s(textOf(pick(300)).c_str());
        track(s);
        kavNamedObj* n = new (_pools[pick(2)]) kavNamedObj(s);
        kavNamedObj local(s);
        check(n->isEqual(s) && s.isEqual(*n) && local.isEqual(*n) && n->objcmp(local) == 0, "named equality", _step);
        check(n->hash(4191) == s.hash(4191), "named hash", _step);
        delete n;
    }
    void temporary()
    {
        if (kavStringTbl::tempTable() == nullptr) {
            kavLib::tempInit(&_scratch);
        } else {
            kavLib::tempReset();
            _tempTexts.clear();
            check(_scratch.amem() == 0, "temporary pool emptied", _step);
        }
    }
    // Everything goes; containers that still hold elements keep their links
    // up to the first that went with a pool.
    void resetCycle(bool emptyFirst)
    {
        if (emptyFirst)
            emptyAll();
        else
            takeOutStranded();
        for (auto it = _live.begin(); it != _live.end();)
            it = it->second.pooled ? _live.erase(it) : std::next(it);
        const auto survivors = [this](std::vector<kavObject*> seq, bool cut) {
            std::vector<kavObject*> out;
            for (kavObject* o : seq) {
                if (o->getPool() != nullptr || _live.count(static_cast<Elem*>(o)) == 0) {
                    if (cut)
                        break;
                    continue;
                }
                out.push_back(o);
            }
            return out;
        };
        // Read pools before the reset: the objects are gone after it.
        std::vector<kavObject*> keep[4];
        for (unsigned int c = 0; c < 3; ++c)
            keep[c] = survivors(model(c), true);
        // The hash container cuts each chain (newest first) on its own.
        std::map<unsigned int, bool> cut;
        for (auto it = _mhash.rbegin(); it != _mhash.rend(); ++it) {
            bool& chainCut = cut[static_cast<unsigned int>(static_cast<Elem*>(*it)->key) % chains];
            chainCut = chainCut || _live.count(static_cast<Elem*>(*it)) == 0;
            if (!chainCut)
                keep[3].insert(keep[3].begin(), *it);
        }
        kavLib::reInit(false);
        _pools[0] = new kavPool;
        _pools[1] = new kavPool;
        _texts.clear();
        _tempTexts.clear();
        check(kavPool::npools() == 5, "pools after a reset", _step);
        _mlist.assign(keep[0].begin(), keep[0].end());
        _mslist.clear();
        for (kavObject* o : keep[1])
            _mslist.emplace(static_cast<Elem*>(o)->key, static_cast<Elem*>(o));
        _mfifo.assign(keep[2].begin(), keep[2].end());
        _mhash.assign(keep[3].begin(), keep[3].end());
        for (auto& kv : _live) {
            kv.second.holders = 0;
            for (const auto& k : keep)
                kv.second.holders += static_cast<int>(std::count(k.begin(), k.end(), kv.first));
        }
        for (unsigned int c = 0; c < 4; ++c)
            verify(c);
    }

    // An unpooled element's link on the heap that stands after a link in a
    // pool is left unreachable by a reset, and never given back (the guide
    // says so).  Such elements are taken out of their containers first, so
    // that a run leaves no heap memory behind.
    void takeOutStranded()
    {
        for (unsigned int c = 0; c < 4; ++c) {
            std::vector<Elem*> stranded;
            std::map<unsigned int, bool> cut; // per chain; one chain for the others
            const std::vector<kavObject*> seq = model(c);
            const auto visit = [&](kavObject* o) {
                auto* e = static_cast<Elem*>(o);
                bool& chainCut = cut[c == 3 ? static_cast<unsigned int>(e->key) % chains : 0u];
                if (e->getPool() != nullptr)
                    chainCut = true;
                else if (chainCut)
                    stranded.push_back(e);
            };
            if (c == 3) // chains newest first
                std::for_each(seq.rbegin(), seq.rend(), visit);
            else
                std::for_each(seq.begin(), seq.end(), visit);
            for (Elem* e : stranded)
                while (box(c).remove(*e))
                    --_live[e].holders;
            const auto gone = [&](kavObject* o) {
                return std::find(stranded.begin(), stranded.end(), o) != stranded.end();
            };
            if (c == 0)
                _mlist.erase(std::remove_if(_mlist.begin(), _mlist.end(), gone), _mlist.end());
            else if (c == 2)
                _mfifo.erase(std::remove_if(_mfifo.begin(), _mfifo.end(), gone), _mfifo.end());
            else if (c == 3)
                _mhash.erase(std::remove_if(_mhash.begin(), _mhash.end(), gone), _mhash.end());
            else
                for (Elem* e : stranded)
                    _mslist.erase(e->key);
        }
    }

    std::mt19937 _random;
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
    std::deque<kavObject*> _mlist, _mfifo, _mhash;
    std::multimap<int, Elem*> _mslist;
    std::map<std::string, const kavStrElem*> _texts, _tempTexts;
};

} // namespace soak

#endif
