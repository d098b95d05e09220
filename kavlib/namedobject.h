// kavlib: the named object.
//
// kavNamedObj is the base for application objects known by a name.  It
// holds its own copy of a name string and takes its identity from it: it
// hashes like the name, is equal to every named object and every string that
// refers to the same interned element, and orders by the name's text.  So a
// container of named objects can be searched with a plain kavString as key,
// and a sorted list keeps them in name order.
//
// hash and isEqual use the stored name; objcmp and dump ask the virtual
// name(), which a derived class may replace.
#ifndef KAVLIB_NAMEDOBJECT_H
#define KAVLIB_NAMEDOBJECT_H

#include <kavlib/kavstr.h>

#include <string_view>

/// An object known by a name: equal to, hashed and ordered like its name.
class KAVLIB_API kavNamedObj : public kavObject {
public:
    /// Copies the string `s` (not its text) into this object's pool (the
    /// main pool when the object has none).  Needs no string table.
    explicit kavNamedObj(const kavString& s);
    /// A new object with its own copy of other's name string.
    kavNamedObj(const kavNamedObj& other);
    /// Destroys the name string; the element stays in its table.  A name
    /// that went with its released pool (reset) is left alone.
    ~kavNamedObj() override;

    /// The name never changes: no assignment.
    kavNamedObj& operator=(const kavNamedObj&) = delete;

    /// The stored name string (a derived class may answer otherwise).
    virtual const kavString& name() const;
    /// The stored name string, always.
    operator const kavString&() const { return *_name; }

    /// The stored name's hash.
    unsigned int hash(int n) const override;
    /// Same name element as another named object or a string.
    bool isEqual(const kavObject& o) const override;
    /// name() order against named objects and strings, else address order.
    int objcmp(const kavObject& o) const override;
    /// The object line, then name() on it (flag 4: on the next line, one
    /// blank deeper).
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    /// True for kavNamedObjClass, else kavObject::isA.
    bool isA(const char* name) const override;
    /// kavNamedObjClass ("kavNamedObj").
    const char* className() const override;

    /// What c.find(kavString(name)) finds, without interning the name: null
    /// when the name was never interned in the table a string from text
    /// would use (no named object can have such a name), else c.find with
    /// a string of that element.  Changes no table and no pool.
    static kavObject* findIn(const kavContainer& c, std::string_view name);
    /// The same for a NUL-terminated name; null means the empty text.
    static kavObject* findIn(const kavContainer& c, const char* name);

private:
    /// kavPool::releaseCount() when the name was made: the destructor gives
    /// the name back only while its pool still holds it.
    unsigned int _stamp;
    kavString* _name; ///< the object's own name string
};

#endif
