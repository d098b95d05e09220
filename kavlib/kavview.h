// kavlib: typed access to the elements of containers.
//
// Containers hold kavObject references.  kavCast<T>(obj) gives an object as
// the class T it is, checked with isA against T's class-name constant; an
// object that is no T stops the program (check castClass, naming T's class
// and the object's).
//
// kavView<T>(container) walks a container as T&, each element cast so:
//
//     for (City& c : kavView<City>(cities))
//         total += c.people();
//
// T's class-name constant comes from kavClassOf<T>.  The library's classes
// have theirs; name yours once, beside the class, at namespace scope:
//
//     extern const char* const cityClass;   // declared in the header,
//     KAVLIB_CLASS_OF(City, cityClass);     // defined in one source file
#ifndef KAVLIB_KAVVIEW_H
#define KAVLIB_KAVVIEW_H

#include <kavlib/container.h>
#include <kavlib/export.h>
#include <kavlib/kavfifo.h>
#include <kavlib/kavhash.h>
#include <kavlib/kavlist.h>
#include <kavlib/kavslist.h>
#include <kavlib/kavstr.h>
#include <kavlib/namedobject.h>

#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>

/// The class-name constant of T, for kavCast and kavView: name() returns it.
/// Specialise it for a class of yours with KAVLIB_CLASS_OF.
template <class T>
struct kavClassOf {
    static_assert(sizeof(T) == 0, "name T's class-name constant with KAVLIB_CLASS_OF(T, constant)");
};

/// Makes `constant` the class-name constant of CLASS for kavCast and kavView.
#define KAVLIB_CLASS_OF(CLASS, constant)               \
    template <>                                        \
    struct kavClassOf<CLASS> {                         \
        static const char* name() { return constant; } \
    }

KAVLIB_CLASS_OF(kavObject, kavObjectClass);
KAVLIB_CLASS_OF(kavContainer, kavContainerClass);
KAVLIB_CLASS_OF(kavList, kavListClass);
KAVLIB_CLASS_OF(kavSList, kavSListClass);
KAVLIB_CLASS_OF(kavFifo, kavFifoClass);
KAVLIB_CLASS_OF(kavStringTbl, kavStringTblClass);
KAVLIB_CLASS_OF(kavIterator, kavIteratorClass);
KAVLIB_CLASS_OF(kavListIter, kavListIterClass);
KAVLIB_CLASS_OF(kavSListIter, kavSListIterClass);
KAVLIB_CLASS_OF(kavFifoIter, kavFifoIterClass);
KAVLIB_CLASS_OF(kavNamedObj, kavNamedObjClass);
KAVLIB_CLASS_OF(kavString, kavStringClass);
KAVLIB_CLASS_OF(kavStrElem, kavStrElemClass);

/// Every kavHash<size> answers to kavHashClass.
template <unsigned int size>
struct kavClassOf<kavHash<size>> {
    static const char* name() { return kavHashClass; }
};
/// Every kavHashIter<size> answers to kavHashIterClass.
template <unsigned int size>
struct kavClassOf<kavHashIter<size>> {
    static const char* name() { return kavHashIterClass; }
};

/// Reports that `obj` is not of the class `name` names ("kavCast<NAME> of a
/// CLASS", kavview, 30), then stops the program.
[[noreturn]] KAVLIB_API void kavCastFail(const kavObject& obj, const char* name);

/// `obj` as a T; obj.isA(T's constant) must hold (check kavview, 30).
template <class T>
T& kavCast(kavObject& obj)
{
    static_assert(std::is_base_of<kavObject, T>::value, "kavCast is for classes derived from kavObject");
    const char* name = kavClassOf<std::remove_const_t<T>>::name();
    if (!obj.isA(name))
        kavCastFail(obj, name);
    return static_cast<T&>(obj);
}
/// `obj` as a const T, checked the same way.
template <class T>
const T& kavCast(const kavObject& obj)
{
    return kavCast<const T>(const_cast<kavObject&>(obj));
}
/// `p` as a T*: null stays null, any other object must be a T.
template <class T>
T* kavCast(kavObject* p)
{
    return p != nullptr ? &kavCast<T>(*p) : nullptr;
}
/// `p` as a const T*, checked the same way.
template <class T>
const T* kavCast(const kavObject* p)
{
    return p != nullptr ? &kavCast<T>(*p) : nullptr;
}

/// A container's elements as T&: a forward range over the container, in its
/// own iteration order.  Each element is cast with kavCast<T> when it is
/// read.  The view refers to the container, which must outlive it.
template <class T>
class kavView {
public:
    /// The view's forward iterator: a kavRangeIter that reads T&.
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using reference = T&;
        using pointer = T*;
        using difference_type = std::ptrdiff_t;

        /// The end of every walk.
        iterator() = default;
        /// Stands where `it` stands.
        explicit iterator(kavRangeIter it) : _it(std::move(it)) {}

        /// The current element as a T (checked).
        T& operator*() const { return kavCast<T>(*_it); }
        /// The current element's address as a T*.
        T* operator->() const { return &**this; }
        /// Steps to the following element.
        iterator& operator++()
        {
            ++_it;
            return *this;
        }
        /// Steps; returns the position before the step.
        iterator operator++(int)
        {
            iterator before(*this);
            ++_it;
            return before;
        }
        /// Same position.
        friend bool operator==(const iterator& a, const iterator& b) { return a._it == b._it; }
        friend bool operator!=(const iterator& a, const iterator& b) { return !(a._it == b._it); }

    private:
        kavRangeIter _it; ///< the untyped position
    };

    /// A view of `c`'s elements as T.
    explicit kavView(const kavContainer& c) : _container(&c) {}

    /// The first element.
    iterator begin() const { return iterator(_container->begin()); }
    /// The end of the walk.
    iterator end() const { return iterator(_container->end()); }

private:
    const kavContainer* _container; ///< the container viewed
};

#endif
