// Copying a disk file byte for byte.
#pragma once

#include <string>

namespace kavrin::engine {

// Copies source over dest (replacing it), with other writers of source kept out. False when source
// cannot be opened, dest cannot be created, any read or write fails (the partial copy is removed), or
// both names reach the same file.
bool CopyDiskFile(const std::string& source, const std::string& dest);

}  // namespace kavrin::engine
