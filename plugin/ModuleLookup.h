// The platform layer under the host service table: find a module that is
// already loaded in this process and look names up in its exports. Nothing is
// ever loaded by it.
#pragma once

#include "plugin/HostServiceTable.h"

namespace cvts {

// Opaque; null means "no such module".
using ModuleHandle = void*;

// The loaded module (the main program included) whose file name equals fileName,
// compared case-insensitively; a trailing ".exe" of fileName may be missing from
// the file's name ("Corvantis.exe" finds a program file named "Corvantis").
ModuleHandle findLoadedModule(const char* fileName);

// The entry the module itself exports under name; null when it exports none.
HostEntry findExport(ModuleHandle module, const char* name);

// Gives back what findLoadedModule took: the module stays loaded (it was loaded
// before it was found) and the entries found in it stay valid.
void releaseModule(ModuleHandle module);

// The rule findLoadedModule applies to one file name (without folder).
bool moduleFileNameMatches(const char* fileName, const char* requested);

} // namespace cvts
