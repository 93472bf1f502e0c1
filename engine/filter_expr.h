// TFilter: one expression filter of a cursor. It keeps its own checked copy of the filter expression
// block, rewrites it once, when it is added, so that every indexed comparison that matches most records
// is evaluated through its complement, and evaluates it into a record bitmap: through index key ranges
// wherever an index begins with the compared field, by reading the records where none does.
//
// A complement covers exactly the key parts outside the comparison, nulls included, so both ways give
// the same records: x > c becomes not (x <= c or x is blank), x = c becomes not (x < c or x > c or x is
// blank), x <> c becomes x < c or x > c or x is blank, a blank test becomes not of the other one.
//
// Levels: 0 evaluated by index alone, 1 partly, 2 not at all (by reading records, or not evaluated).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "engine/filter_block.h"
#include "engine/record_bitmap.h"

namespace kavrin::engine {

class TDataFile;
struct TFieldDescriptor;

// A cursor's handle of one of its filters. Expression filters are numbered from 1 in the order they are
// added and a number is never given twice by one cursor; the record callback filter has its own
// handle; 0 stands for all filters.
using TFilterHandle = std::uint32_t;
inline constexpr TFilterHandle AllFilters = 0;
inline constexpr TFilterHandle RecordCallbackHandle = 0xFFFFFFFFu;
inline constexpr std::size_t MaxExpressionFilters = 128;

inline constexpr std::int32_t FilterLevelByIndex = 0;
inline constexpr std::int32_t FilterLevelPartly = 1;
inline constexpr std::int32_t FilterLevelNone = 2;

// When a key walk takes the complement: when that side holds fewer keys (the engine's way), always or
// never. The records are the same each way; the choice only moves work.
enum class TComplementRule : std::uint8_t { SmallerSide, Always, Never };

class TFilter {
 public:
  // Checks the block (10051) and rewrites the copy against the table's indexes and key counts as they
  // are now; the filter starts inactive. The owner is selected back on its index afterwards.
  TFilter(TDataFile& owner, std::span<const std::uint8_t> block, TFilterHandle handle, TComplementRule rule);
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  TFilterHandle Handle() const { return handle_; }
  bool Active() const { return active_; }
  void Activate() { active_ = true; }
  void Deactivate() { active_ = false; }
  std::int32_t Level() const { return level_; }
  // The rewritten copy; its header's total size is its length, so it can be added to another cursor.
  std::span<const std::uint8_t> Expression() const { return block_.Bytes(); }
  // The block as it was added: what a clone adds, to be rewritten for the clone's own key counts.
  std::span<const std::uint8_t> Original() const { return original_; }

  // Marks the records the expression holds for in bitmap, which comes with every bit set, and takes
  // this evaluation's level. Deleted records may come out set: the caller removes them.
  void Evaluate(TRecordBitmap& bitmap);

 private:
  // The parts of a comparison node: field, constant, flags. Binary comparisons have neither a
  // case-insensitive flag nor a partial length.
  struct TComparison {
    std::uint16_t FieldNode = 0;
    std::uint16_t ConstantNode = 0;
    const TFieldDescriptor* Field = nullptr;
    const std::uint8_t* Constant = nullptr;  // null for the blank tests
    std::int32_t Operator = 0;
    bool CaseInsensitive = false;
    std::uint16_t PartialLength = 0;
  };
  // Blank tests and comparisons whose operands read as a field and, for comparisons, a constant.
  bool ReadComparison(const TFilterNode& node, TComparison& comparison) const;
  bool SelectIndexFor(const TComparison& comparison);

  std::int32_t OptimizeNode(std::uint16_t node, int depth);
  std::int32_t EvaluateNode(std::uint16_t node, TRecordBitmap& bitmap, std::int32_t parentOperator, int depth);
  // On the owner's current index.
  std::int32_t CountMatching(const TComparison& comparison);
  void MarkByIndex(TRecordBitmap& bitmap, const TComparison& comparison);
  void MarkByScan(TRecordBitmap& bitmap, const TComparison& comparison, std::int32_t parentOperator);
  // The complement rewrites of a comparison node, true when made.
  bool RewriteComplement(const TFilterNode& node, const TComparison& comparison);
  bool TakeComplement(std::int32_t matching);
  // Every path through the block as added: how deep each node lies at most and on how many paths.
  void MeasurePaths(std::uint16_t node, int depth);
  // Whether the node's rewrite keeps the block within the checks of an added block.
  bool RoomToRewrite(std::uint16_t node);

  struct TPaths {
    int Deepest = 0;
    std::size_t Count = 0;
    bool Rewritten = false;
  };
  std::map<std::uint16_t, TPaths> paths_;
  std::size_t visits_ = 0;

  TDataFile& owner_;
  std::vector<std::uint8_t> original_;
  TFilterBlock block_;
  TFilterHandle handle_;
  TComplementRule rule_;
  bool active_ = false;
  std::int32_t level_ = FilterLevelNone;
};

}  // namespace kavrin::engine
