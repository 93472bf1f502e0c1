#include "apps/transfer/readers/source_table.h"

#include "apps/transfer/readers/dbase_table.h"
#include "apps/transfer/readers/paradox_table.h"
#include "apps/transfer/readers/source_files.h"

namespace kavrin::transfer {

std::unique_ptr<TSourceTable> OpenSourceTable(const std::string& path, const TPasswordCallback& askPassword) {
  const std::string upper = UpperAscii(path);
  auto endsWith = [&](const char* extension) {
    const std::string e(extension);
    return upper.size() > e.size() && upper.compare(upper.size() - e.size(), e.size(), e) == 0;
  };
  if (endsWith(".DB")) return OpenParadoxTable(path, askPassword);
  if (endsWith(".DBF")) return OpenDBaseTable(path);
  throw ESourceError(path, "is neither a Paradox (.DB) nor a dBase (.DBF) table");
}

}  // namespace kavrin::transfer
