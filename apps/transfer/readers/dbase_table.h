// The dBase reader: ".DBF" tables of levels III, IV, V and 7 with ".DBT" memos and production ".MDX"
// tags. The layouts are written down in dbase_table.cpp.
#pragma once

#include <memory>
#include <string>

#include "apps/transfer/readers/source_table.h"

namespace kavrin::transfer {

std::unique_ptr<TSourceTable> OpenDBaseTable(const std::string& path);

}  // namespace kavrin::transfer
