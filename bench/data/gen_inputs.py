#!/usr/bin/env python3
"""Writes the input documents that bench/data/capture.sh feeds to the traced
programs, into the directory given (the same bytes on every run).

    gen_inputs.py DIR

  catalog.xml   an XML catalogue of 4 500 books (about 2.4 MB)
  orders.json   a JSON array of 4 000 orders (about 1.4 MB)
  fill.sql      fills a table with an index on a text column with 20 000 rows
  parse.cpp     a C++ file including <map>, <string>, <vector>, <iostream>
                and <algorithm>, with a little code that uses them
"""
import os
import sys


class Lcg:
    """A fixed 64-bit linear congruential generator, so the documents do not
    depend on the Python version's random module."""

    def __init__(self, seed):
        self.x = seed

    def next(self, n):
        self.x = (self.x * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        return (self.x >> 33) % n


SYLLABLES = ["ka", "ve", "lor", "min", "dus", "tra", "pel", "on", "qui", "zar",
             "sen", "bo", "ith", "mar", "el", "gru", "fa", "nok", "ter", "ui"]


def word(r, lo=1, hi=4):
    return "".join(SYLLABLES[r.next(len(SYLLABLES))] for _ in range(lo + r.next(hi - lo + 1)))


def sentence(r, n):
    return " ".join(word(r) for _ in range(n))


def catalog(path):
    r = Lcg(1)
    with open(path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<catalog>\n')
        for i in range(4500):
            f.write(' <book id="b%05d" lang="%s" year="%d">\n' % (i, ["en", "fr", "de"][r.next(3)], 1900 + r.next(120)))
            f.write('  <title>%s</title>\n' % sentence(r, 2 + r.next(5)).title())
            for _ in range(1 + r.next(3)):
                f.write('  <author><first>%s</first><last>%s</last></author>\n'
                        % (word(r).title(), word(r, 2, 4).title()))
            f.write('  <price currency="EUR">%d.%02d</price>\n' % (5 + r.next(60), r.next(100)))
            f.write('  <tags>%s</tags>\n' % "".join("<tag>%s</tag>" % word(r) for _ in range(r.next(6))))
            f.write('  <summary>%s.</summary>\n' % sentence(r, 10 + r.next(30)).capitalize())
            f.write(' </book>\n')
        f.write('</catalog>\n')


def orders(path):
    r = Lcg(2)
    with open(path, "w") as f:
        f.write("[\n")
        for i in range(4000):
            items = ",".join('{"sku":"%s-%d","qty":%d,"price":%d.%02d}'
                             % (word(r, 1, 2), r.next(1000), 1 + r.next(9), 1 + r.next(200), r.next(100))
                             for _ in range(1 + r.next(8)))
            tags = ",".join('"%s"' % word(r) for _ in range(r.next(5)))
            f.write('%s{"id":%d,"customer":{"name":"%s %s","city":"%s","vip":%s},"items":[%s],'
                    '"tags":[%s],"note":"%s"}\n'
                    % ("," if i else "", i, word(r).title(), word(r, 2, 4).title(), word(r, 2, 3).title(),
                       "true" if r.next(5) == 0 else "false", items, tags, sentence(r, 3 + r.next(25))))
        f.write("]\n")


SYLLABLE_TEXT = "kavelormindustrapelonquizarsenboithmarelgrufanokteruikavelormi"
NOTE_TEXT = "the quick brown fox jumps over the lazy dog and keeps running through the long grass of the field"


def fill(path):
    """One statement fills the table (the rows made by SQL expressions),
    as a program loading data would; then two queries use the index."""
    with open(path, "w") as f:
        f.write("CREATE TABLE person(id INTEGER PRIMARY KEY, name TEXT, city TEXT, born INTEGER, note TEXT);\n")
        f.write("CREATE INDEX person_name ON person(name);\n")
        f.write("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 20000)\n")
        f.write("INSERT INTO person(name, city, born, note)\n")
        f.write("SELECT printf('%%s%%s %%d', upper(substr('%s', 1 + (x * 37) %% 52, 1)),\n" % SYLLABLE_TEXT)
        f.write("              substr('%s', 2 + (x * 37) %% 52, 2 + x %% 7), (x * 7919) %% 100003),\n" % SYLLABLE_TEXT)
        f.write("       substr('%s', 1 + (x * 11) %% 40, 4 + x %% 9),\n" % SYLLABLE_TEXT)
        f.write("       1920 + (x * 31) % 90,\n")
        f.write("       substr('%s', 1 + x %% 30, 5 + (x * 13) %% 60)\n" % NOTE_TEXT)
        f.write("FROM n;\n")
        f.write("SELECT count(*), count(DISTINCT name) FROM person;\n")
        f.write("SELECT name, born FROM person WHERE name > 'M' ORDER BY name LIMIT 5;\n")


PARSE = """\
// Parsed, not compiled, by the C++ front end under trace.
#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

struct Entry {
    std::string name;
    std::vector<int> values;
    bool operator<(const Entry& o) const { return name < o.name; }
};

int main()
{
    std::map<std::string, std::vector<Entry>> byKey;
    std::vector<std::string> words = {"alpha", "beta", "gamma", "delta"};
    for (const auto& w : words)
        byKey[w].push_back(Entry{w + "!", {1, 2, 3}});
    std::sort(words.begin(), words.end(), [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    auto it = std::find_if(words.begin(), words.end(), [](const std::string& s) { return s.size() > 4; });
    for (auto& [key, entries] : byKey) {
        std::stable_sort(entries.begin(), entries.end());
        std::cout << key << ' ' << entries.size() << '\\n';
    }
    std::cout << (it == words.end() ? std::string("none") : *it) << std::endl;
    return 0;
}
"""


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    catalog(os.path.join(out, "catalog.xml"))
    orders(os.path.join(out, "orders.json"))
    fill(os.path.join(out, "fill.sql"))
    with open(os.path.join(out, "parse.cpp"), "w") as f:
        f.write(PARSE)


if __name__ == "__main__":
    main()
