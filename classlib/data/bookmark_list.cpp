#include "classlib/data/bookmark_list.h"

#include "classlib/data/data_set.h"
#include "classlib/data/data_source.h"
#include "classlib/data/exceptions.h"
#include "engine/data_file.h"

namespace kavrin::classlib {

int TBookmarkList::CompareBookmarks(const std::string& first, const std::string& second) const {
  if (first.empty() || second.empty()) {
    if (first.empty() && second.empty()) return 0;
    return first.empty() ? 1 : -1;
  }
  TDataSet* dataSet = source_ ? source_->DataSet() : nullptr;
  if (!dataSet || !dataSet->Handle()) DatabaseError("Cannot perform this operation on a closed dataset");
  if (first.size() != dataSet->KeySize() || second.size() != dataSet->KeySize()) DatabaseError("Invalid bookmark");
  const std::int32_t result = dataSet->Handle()->CompareBookmarks(reinterpret_cast<const std::uint8_t*>(first.data()),
                                                                  reinterpret_cast<const std::uint8_t*>(second.data()));
  if (result == 2 || result == 0) return 0;
  return result < 0 ? -1 : 1;
}

}  // namespace kavrin::classlib
