// kavlib: the library's instantiation of the hash container, 4191 chains.
#include <kavlib/kavhash.h>

const char* const kavHashClass = "kavHash";
const char* const kavHashIterClass = "kavHashIter";

#if defined(_WIN32) || defined(__CYGWIN__)
template class __declspec(dllexport) kavHash<4191>;
template class __declspec(dllexport) kavHashIter<4191>;
#else
template class kavHash<4191>;
template class kavHashIter<4191>;
#endif
