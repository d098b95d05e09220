// kavlib: typed access to the elements of containers.
#include <kavlib/kavview.h>

#include <kavlib/kavassert.h>

#include <string>

void kavCastFail(const kavObject& obj, const char* name)
{
    // The class names are those of the class-name constants' texts.
    const std::string text = std::string("kavCast<") + (name != nullptr ? name : "null") + "> of a " + obj.className();
    kavCheckFail(kavCheck::castClass, text.c_str());
}
