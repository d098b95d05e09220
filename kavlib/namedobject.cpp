// kavlib: the named object.
#include <kavlib/namedobject.h>

#include <kavlib/services.h>

#include <ostream>

const char* const kavNamedObjClass = "kavNamedObj";

namespace {

// The element of the stored name when `o` is a named object: what strings
// compare with a named object (kavString::_nameOf).
const kavStrElem* nameOf(const kavObject& o)
{
    return o.isA(kavNamedObjClass) ? static_cast<const kavString&>(static_cast<const kavNamedObj&>(o)).elem()
                                   : nullptr;
}

} // namespace

kavNamedObj::kavNamedObj(const kavString& s) : _stamp(kavPool::releaseCount()), _name(nullptr)
{
    kavString::_nameOf = &nameOf;
    _name = new (getPool()) kavString(s);
}

kavNamedObj::kavNamedObj(const kavNamedObj& other) : kavObject(), _stamp(kavPool::releaseCount()), _name(nullptr)
{
    kavString::_nameOf = &nameOf;
    _name = new (getPool()) kavString(*other._name);
}

kavNamedObj::~kavNamedObj()
{
    // The name lives in a pool (this object's, else the main pool).  Once a
    // pool was released, it is given back only if its block is still there.
    if (_name != nullptr && (_stamp == kavPool::releaseCount() || kavPool::holdsSince(_name, _stamp)))
        delete _name;
}

namespace {

kavObject* findByElem(const kavContainer& c, kavStrElem* e)
{
    if (e == nullptr)
        return nullptr;
    const kavString key(e); // unpooled: nothing is allocated
    return c.find(key);
}

} // namespace

kavObject* kavNamedObj::findIn(const kavContainer& c, std::string_view name)
{
    return findByElem(c, kavString::lookup(name));
}

kavObject* kavNamedObj::findIn(const kavContainer& c, const char* name)
{
    return findByElem(c, kavString::lookup(name));
}

const kavString& kavNamedObj::name() const
{
    return *_name;
}

unsigned int kavNamedObj::hash(int n) const
{
    return _name->hash(n);
}

bool kavNamedObj::isEqual(const kavObject& o) const
{
    if (&o == this)
        return true;
    if (o.isA(kavNamedObjClass))
        return _name->elem() == static_cast<const kavNamedObj&>(o)._name->elem();
    if (o.isA(kavStringClass))
        return _name->elem() == static_cast<const kavString&>(o).elem();
    return false;
}

int kavNamedObj::objcmp(const kavObject& o) const
{
    if (&o == this)
        return 0;
    if (o.isA(kavNamedObjClass))
        return name().objcmp(static_cast<const kavNamedObj&>(o).name());
    if (o.isA(kavStringClass))
        return name().objcmp(o);
    return addressOrder(*this, o);
}

std::ostream& kavNamedObj::dump(std::ostream& os, int indent, int endLine) const
{
    kavObject::dump(os, indent, 0);
    int nameIndent = 0;
    if (kavServices::get(kavFlagObjectLine)) {
        os << "\n";
        nameIndent = indent + 1;
    }
    return name().dump(os, nameIndent, endLine);
}

bool kavNamedObj::isA(const char* name) const
{
    return name == kavNamedObjClass || kavObject::isA(name);
}

const char* kavNamedObj::className() const
{
    return kavNamedObjClass;
}
