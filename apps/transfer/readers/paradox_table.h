// The Paradox reader: ".DB" tables of versions 3 to 7 with their ".MB" blobs, ".Xnn"/".XGn" secondary
// index definitions and ".VAL" required flags. The layouts are written down in paradox_table.cpp.
#pragma once

#include <memory>
#include <string>

#include "apps/transfer/readers/source_table.h"

namespace kavrin::transfer {

std::unique_ptr<TSourceTable> OpenParadoxTable(const std::string& path, const TPasswordCallback& askPassword);

}  // namespace kavrin::transfer
