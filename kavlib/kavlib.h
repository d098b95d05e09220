// kavlib: the whole library.
#ifndef KAVLIB_KAVLIB_H
#define KAVLIB_KAVLIB_H

#include <kavlib/export.h>
#include <kavlib/kavassert.h>
#include <kavlib/services.h>
#include <kavlib/library.h>
#include <kavlib/kavpool.h>
#include <kavlib/object.h>
#include <kavlib/container.h>
#include <kavlib/kavlist.h>
#include <kavlib/kavslist.h>
#include <kavlib/kavfifo.h>
#include <kavlib/kavhash.h>
#include <kavlib/kavstr.h>
#include <kavlib/namedobject.h>
#include <kavlib/kavview.h>
#include <kavlib/kavresource.h>

#endif
