// kavlib: symbol export control.
//
// KAVLIB_API marks every public class, function and data object of the
// shared library.  The library is built with hidden visibility, so only what
// carries this macro is part of its binary interface.  On Windows it expands
// to dllexport while the DLL is built and to dllimport in applications.
#ifndef KAVLIB_EXPORT_H
#define KAVLIB_EXPORT_H

#if defined(KAVLIB_STATIC)
#  define KAVLIB_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#  if defined(KAVLIB_BUILDING)
#    define KAVLIB_API __declspec(dllexport)
#  else
#    define KAVLIB_API __declspec(dllimport)
#  endif
#else
#  define KAVLIB_API __attribute__((visibility("default")))
#endif

// Class templates defined in headers (kavHash) must not be dllimport'ed as a
// whole on Windows, or applications could not instantiate sizes of their own;
// the library's one instantiation is exported explicitly instead.  On ELF the
// template itself gets default visibility so that every instantiation's
// vtable and type information are shared across the library boundary.
#if defined(_WIN32) || defined(__CYGWIN__) || defined(KAVLIB_STATIC)
#  define KAVLIB_TEMPLATE_API
#else
#  define KAVLIB_TEMPLATE_API __attribute__((visibility("default")))
#endif

#endif
