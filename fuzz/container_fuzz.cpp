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
#include <algorithm>
#include <vector>

namespace {

// The models and checks are not what is fuzzed: they give no coverage
// feedback, and cost none of its instrumentation.
#define KAV_MODEL_CODE __attribute__((no_sanitize("coverage")))

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

// The models, in each container's iteration order.  Plain vectors: they
// stay short, and an input then makes few heap calls of its own.
using Seq = std::vector<Item*>;
struct Models {
    Seq list;                       // newest first
    Seq slist;                      // by key, equal keys in order of addition
    Seq fifo;                       // order of arrival
    Seq hash[chains];               // newest first per chain

    // The iteration order of one container, into `out`.
    KAV_MODEL_CODE void order(int which, Seq& out) const
    {
        out.clear();
        switch (which) {
        case 0:
            out = list;
            break;
        case 1:
            out = slist;
            break;
        case 2:
            out = fifo;
            break;
        default:
            for (const auto& chain : hash)
                out.insert(out.end(), chain.begin(), chain.end());
        }
    }

    KAV_MODEL_CODE void add(int which, Item* item)
    {
        switch (which) {
        case 0:
            list.insert(list.begin(), item);
            break;
        case 1: // after its equals
            slist.insert(std::upper_bound(slist.begin(), slist.end(), item,
                                          [](const Item* a, const Item* b) { return a->key() < b->key(); }),
                         item);
            break;
        case 2:
            fifo.push_back(item);
            break;
        default: {
            Seq& chain = hash[static_cast<unsigned int>(item->key()) % chains];
            chain.insert(chain.begin(), item);
        }
        }
    }

    // Takes out the first element equal to `key`, as the container does.
    KAV_MODEL_CODE Item* remove(int which, int key)
    {
        const auto take = [key](Seq& d) -> Item* {
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
        case 1:
            return take(slist);
        case 2:
            return take(fifo);
        default:
            return take(hash[static_cast<unsigned int>(key) % chains]);
        }
    }

    KAV_MODEL_CODE void clear(int which)
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

// How many times `seq` holds `item`.
KAV_MODEL_CODE int holdings(const Seq& seq, const Item* item)
{
    return static_cast<int>(std::count(seq.begin(), seq.end(), item));
}

// The one container a step touched, against its model, and the use count
// of the item it touched: cheap enough for every step.
KAV_MODEL_CODE void checkStep(const kavContainer& c, int which, const Models& m, const Item* item)
{
    int holders = holdings(m.list, item) + holdings(m.slist, item) + holdings(m.fifo, item);
    for (const Seq& chain : m.hash)
        holders += holdings(chain, item);
    require(item->useCount() == 1 + holders, "use count");
    static Seq expect; // kept from step to step: no heap call once grown
    m.order(which, expect);
    require(c.count() == static_cast<int>(expect.size()), "count");
    std::size_t i = 0;
    for (kavIterPtr it(c); it; it++, ++i)
        require(i < expect.size() && &it() == expect[i], "iteration order");
    require(i == expect.size(), "iteration ends early");
}

// Every container, every use count, the collision count.
KAV_MODEL_CODE void check(kavContainer* const (&c)[4], const Models& m, Item* const (&items)[nitems], const kavHash<chains>& hash)
{
    int holders[nitems] = {};
    static Seq expect;
    for (int which = 0; which < 4; ++which) {
        m.order(which, expect);
        require(c[which]->count() == static_cast<int>(expect.size()), "count");
        std::size_t i = 0;
        for (kavIterPtr it(c[which]); it; it++, ++i) {
            require(i < expect.size(), "iteration runs long");
            require(&it() == expect[i], "iteration order");
        }
        require(i == expect.size(), "iteration ends early");
        for (const Item* e : expect)
            ++holders[std::find(items, items + nitems, e) - items];
    }
    unsigned int nonEmpty = 0;
    for (const auto& chain : m.hash)
        nonEmpty += chain.empty() ? 0 : 1;
    require(hash.collisions() == static_cast<unsigned int>(hash.count()) - nonEmpty, "collisions");
    for (int i = 0; i < nitems; ++i) // each item is also held by the fuzzer itself
        require(items[i]->useCount() == 1 + holders[i], "use count");
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
                m.add(which, item);
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
                static Seq seq;
                m.order(which, seq);
                Item* expect = nullptr;
                for (Item* e : seq)
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
