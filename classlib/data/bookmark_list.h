// TBookmarkList: the rows a grid has selected, kept as bookmarks of the dataset its data source shows;
// two of them are ordered by the engine.
#pragma once

#include <string>

namespace kavrin::classlib {

class TDataSource;

class TBookmarkList {
 public:
  explicit TBookmarkList(TDataSource* source = nullptr) : source_(source) {}
  void SetDataSource(TDataSource* source) { source_ = source; }
  // -1, 0 or 1. An empty bookmark sorts after any other without asking the engine; bookmarks that are
  // not of the active index's key length are "Invalid bookmark", never read past.
  int CompareBookmarks(const std::string& first, const std::string& second) const;

 private:
  TDataSource* source_;
};

}  // namespace kavrin::classlib
