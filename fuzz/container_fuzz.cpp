// Fuzzes the four containers (kavList, kavSList, kavFifo, kavHash) with add,
// remove, find and removeAll decoded from the input, against standard
// containers: after every step each container must hold the same elements
// in the same iteration order as its model, and every element's use count
// must equal the number of links that hold it.  At the end the pool holds
// nothing: no link leaked, none given back twice.
#include <kavlib/kavlib.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <vector>

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "container_fuzz: %s\n", what);
        std::abort();
    }
}

// An element with a key: equal, ordered and hashed by the key alone, so
// that distinct objects can be equal.
class Item : public kavObject {
public:
    explicit Item(int key) : _key(key) {}
    int key() const { return _key; }
    unsigned int hash(int n) const override { return static_cast<unsigned int>(_key) % static_cast<unsigned int>(n); }
    bool isEqual(const kavObject& o) const override { return static_cast<const Item&>(o)._key == _key; }
    int objcmp(const kavObject& o) const override
    {
        const int other = static_cast<const Item&>(o)._key;
        return _key < other ? -1 : (_key > other ? 1 : 0);
    }

private:
    int _key;
};

constexpr unsigned int chains = 7;
constexpr int nitems = 24;

// The models, in each container's iteration order.
struct Models {
    std::deque<Item*> list;                 // newest first
    std::multimap<int, Item*> slist;        // by key, equal keys in order of addition
    std::deque<Item*> fifo;                 // order of arrival
    std::vector<std::deque<Item*>> hash = std::vector<std::deque<Item*>>(chains); // newest first per chain

    std::vector<Item*> order(int which) const
    {
        std::vector<Item*> out;
        switch (which) {
        case 0:
            out.assign(list.begin(), list.end());
            break;
        case 1:
            for (const auto& e : slist)
                out.push_back(e.second);
            break;
        case 2:
            out.assign(fifo.begin(), fifo.end());
            break;
        default:
            for (const auto& chain : hash)
                out.insert(out.end(), chain.begin(), chain.end());
        }
        return out;
    }

    // Takes out the first element equal to `key`, as the container does.
    Item* remove(int which, int key)
    {
        const auto take = [key](std::deque<Item*>& d) -> Item* {
            for (auto it = d.begin(); it != d.end(); ++it)
                if ((*it)->key() == key) {
                    Item* e = *it;
                    d.erase(it);
                    return e;
                }
            return nullptr;
        };
        switch (which) {
        case 0:
            return take(list);
        case 1: {
            const auto it = slist.lower_bound(key);
            if (it == slist.end() || it->first != key)
                return nullptr;
            Item* e = it->second;
            slist.erase(it);
            return e;
        }
        case 2:
            return take(fifo);
        default:
            return take(hash[static_cast<unsigned int>(key) % chains]);
        }
    }

    void clear(int which)
    {
        switch (which) {
        case 0:
            list.clear();
            break;
        case 1:
            slist.clear();
            break;
        case 2:
            fifo.clear();
            break;
        default:
            for (auto& chain : hash)
                chain.clear();
        }
    }
};

// The one container a step touched, against its model, and the use count
// of the item it touched: cheap enough for every step.
void checkStep(const kavContainer& c, int which, const Models& m, const Item* item)
{
    int holders = 0;
    for (const Item* e : m.list)
        holders += e == item ? 1 : 0;
    for (const auto& kv : m.slist)
        holders += kv.second == item ? 1 : 0;
    for (const Item* e : m.fifo)
        holders += e == item ? 1 : 0;
    for (const auto& chain : m.hash)
        for (const Item* e : chain)
            holders += e == item ? 1 : 0;
    require(item->useCount() == 1 + holders, "use count");
    const std::vector<Item*> expect = m.order(which);
    require(c.count() == static_cast<int>(expect.size()), "count");
    std::size_t i = 0;
    for (kavIterPtr it(c); it; it++, ++i)
        require(i < expect.size() && &it() == expect[i], "iteration order");
    require(i == expect.size(), "iteration ends early");
}

// Every container, every use count, the collision count.
void check(kavContainer* const (&c)[4], const Models& m, Item* const (&items)[nitems], const kavHash<chains>& hash)
{
    std::map<const Item*, int> holders;
    for (int which = 0; which < 4; ++which) {
        const std::vector<Item*> expect = m.order(which);
        require(c[which]->count() == static_cast<int>(expect.size()), "count");
        std::size_t i = 0;
        for (kavIterPtr it(c[which]); it; it++, ++i) {
            require(i < expect.size(), "iteration runs long");
            require(&it() == expect[i], "iteration order");
        }
        require(i == expect.size(), "iteration ends early");
        for (const Item* e : expect)
            ++holders[e];
    }
    unsigned int nonEmpty = 0;
    for (const auto& chain : m.hash)
        nonEmpty += chain.empty() ? 0 : 1;
    require(hash.collisions() == static_cast<unsigned int>(hash.count()) - nonEmpty, "collisions");
    for (const Item* e : items) // each item is also held by the fuzzer itself
        require(e->useCount() == 1 + holders[e], "use count");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // One pool for every input: each input gives back all it took, so the
    // next starts from the same figures without a new block from the heap.
    static kavPool& pool = *[] {
        auto* p = new kavPool;
        p->setReleaseFlag(false);
        return p;
    }();
    {
        Item* items[nitems];
        for (int i = 0; i < nitems; ++i) {
            items[i] = new (&pool) Item(i % 9); // several items per key
            items[i]->up();                     // held by the fuzzer
        }
        kavList list;
        kavSList slist;
        kavFifo fifo;
        kavHash<chains> hash;
        kavContainer* const c[4] = {&list, &slist, &fifo, &hash};
        Models m;

        int steps = 0;
        while (in.remaining_bytes() > 0 && steps++ < 2000) {
            const int which = in.ConsumeIntegralInRange(0, 3);
            Item* item = items[in.ConsumeIntegralInRange(0, nitems - 1)];
            switch (in.ConsumeIntegralInRange(0, 6)) {
            case 0:
            case 1:
            case 2: // add
                require(&c[which]->add(*item) == item, "add returns its element");
                switch (which) {
                case 0:
                    m.list.push_front(item);
                    break;
                case 1:
                    m.slist.emplace(item->key(), item); // after its equals
                    break;
                case 2:
                    m.fifo.push_back(item);
                    break;
                default:
                    m.hash[static_cast<unsigned int>(item->key()) % chains].push_front(item);
                }
                break;
            case 3:
            case 4: { // remove by an equal key, not the object itself
                Item probe(item->key());
                const bool expect = m.remove(which, item->key()) != nullptr;
                require(c[which]->remove(probe) == expect, "remove");
                break;
            }
            case 5: { // find: the first equal element in iteration order
                Item probe(item->key());
                Item* expect = nullptr;
                for (Item* e : m.order(which))
                    if (e->key() == item->key()) {
                        expect = e;
                        break;
                    }
                require(c[which]->find(probe) == expect, "find");
                break;
            }
            default: // removeAll
                if (in.ConsumeIntegralInRange(0, 3) == 0) {
                    c[which]->removeAll();
                    m.clear(which);
                }
            }
            checkStep(*c[which], which, m, item);
            if (steps % 16 == 0)
                check(c, m, items, hash);
        }
        check(c, m, items, hash);
        for (kavContainer* container : c)
            container->removeAll();
        check(c, Models(), items, hash);
        for (Item* item : items)
            item->down(); // the last holder: deleted into the pool
    }
    require(pool.umem() == 0, "pieces left in the pool");
    return 0;
}
