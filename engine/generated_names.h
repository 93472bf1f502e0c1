// Names for transaction logs ("LOGn.DAT") and restructure targets ("TMPn.DAT") in a table's directory.
#pragma once

#include <string>
#include <string_view>

namespace kavrin::engine {

// The name for the smallest n from 0 whose name is free: no in-memory file of that name with inMemory
// set, else no disk file of that name up to case. The name is reserved before it is returned (an empty
// file, or an unused memory file), so two callers never receive one name; the caller's table creation
// takes it over. Raises when all 65,536 names are taken or the directory cannot be written.
std::string UniqueLogFileName(std::string_view dir, bool inMemory);
std::string UniqueTempFileName(std::string_view dir, bool inMemory);

}  // namespace kavrin::engine
