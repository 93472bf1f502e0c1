#include "engine/filter_expr.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/filter_key_range.h"
#include "engine/index_file.h"
#include "engine/index_format.h"
#include "engine/index_selection_guard.h"

namespace kavrin::engine {
namespace {

// Rewrites add at most three levels to a path; deeper than that is no block that was checked.
constexpr int kDepthLimit = MaxFilterDepth + 8;
constexpr int kRewriteLevels = 3;
// Node visits a rewrite adds to every path through it: an equal becomes not, or, or, two copies and a
// blank test, eleven nodes in place of three.
constexpr std::size_t kRewriteVisits = 8;

using TKeyBuffer = std::array<std::uint8_t, PageEntryArea>;

std::int32_t Opposite(std::int32_t op) {
  switch (op) {
    case foIsBlank: return foNotBlank;
    case foNotBlank: return foIsBlank;
    case foGreater: return foLessOrEqual;
    case foGreaterOrEqual: return foLess;
    case foLess: return foGreaterOrEqual;
    case foLessOrEqual: return foGreater;
    default: return op;
  }
}

void PutHead(std::vector<std::uint8_t>& bytes, std::int32_t nodeClass, std::int32_t op) {
  const std::size_t at = bytes.size();
  bytes.resize(at + FilterNodeSize(nodeClass), 0);
  StoreI32(bytes.data() + at, nodeClass);
  StoreI32(bytes.data() + at + 4, op);
}

void PutOr(std::vector<std::uint8_t>& bytes, std::size_t first, std::size_t second) {
  const std::size_t at = bytes.size();
  PutHead(bytes, fnBinary, foOr);
  StoreU16(bytes.data() + at + 8, static_cast<std::uint16_t>(first));
  StoreU16(bytes.data() + at + 10, static_cast<std::uint16_t>(second));
}

void PutBlank(std::vector<std::uint8_t>& bytes, std::uint16_t field) {
  const std::size_t at = bytes.size();
  PutHead(bytes, fnUnary, foIsBlank);
  StoreU16(bytes.data() + at + 8, field);
}

void PutCopy(std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& node, std::int32_t op) {
  const std::size_t at = bytes.size();
  bytes.insert(bytes.end(), node.begin(), node.end());
  StoreI32(bytes.data() + at + 4, op);
}

std::int32_t AndLevel(std::int32_t a, std::int32_t b) {
  if (a == FilterLevelByIndex && b == FilterLevelByIndex) return FilterLevelByIndex;
  if (a == FilterLevelNone && b == FilterLevelNone) return FilterLevelNone;
  return FilterLevelPartly;
}

std::int32_t OrLevel(std::int32_t a, std::int32_t b) {
  if (a == FilterLevelByIndex && b == FilterLevelByIndex) return FilterLevelByIndex;
  if (a == FilterLevelNone || b == FilterLevelNone) return FilterLevelNone;
  return FilterLevelPartly;
}

}  // namespace

TFilter::TFilter(TDataFile& owner, std::span<const std::uint8_t> block, TFilterHandle handle, TComplementRule rule)
    : owner_(owner),
      original_(block.begin(), block.end()),
      block_(TFilterBlock::Checked(block, owner)),
      handle_(handle),
      rule_(rule) {
  TIndexSelectionGuard restore(owner_.IndexFile());
  MeasurePaths(0, 1);
  level_ = OptimizeNode(0, 1);
  paths_.clear();
}

void TFilter::MeasurePaths(std::uint16_t offset, int depth) {
  const std::optional<TFilterNode> node = block_.Node(offset);
  // The checks bound both; the walk stays inside them whatever it meets.
  if (!node || depth > MaxFilterDepth || ++visits_ > MaxFilterNodeVisits) return;
  TPaths& paths = paths_[offset];
  paths.Deepest = std::max(paths.Deepest, depth);
  ++paths.Count;
  if (node->Class == fnUnary) {
    MeasurePaths(block_.Operand(*node), depth + 1);
  } else if (node->Class == fnBinary || node->Class == fnCompare) {
    MeasurePaths(block_.FirstOperand(*node), depth + 1);
    MeasurePaths(block_.SecondOperand(*node), depth + 1);
  }
}

bool TFilter::RoomToRewrite(std::uint16_t offset) {
  // A rewritten block is itself a block a cursor takes (a clone, the dataset layer): it must pass the
  // same depth and visit checks. Nodes made by rewrites are not rewritten again.
  const auto found = paths_.find(offset);
  if (found == paths_.end() || found->second.Rewritten) return false;
  TPaths& paths = found->second;
  if (paths.Deepest + 1 + kRewriteLevels > MaxFilterDepth) return false;
  if (visits_ + paths.Count * kRewriteVisits > MaxFilterNodeVisits) return false;
  visits_ += paths.Count * kRewriteVisits;
  paths.Rewritten = true;
  return true;
}

void TFilter::Evaluate(TRecordBitmap& bitmap) {
  TIndexSelectionGuard restore(owner_.IndexFile());
  level_ = EvaluateNode(0, bitmap, 0, 1);
}

bool TFilter::ReadComparison(const TFilterNode& node, TComparison& comparison) const {
  const bool blankTest = node.Class == fnUnary && (node.Operator == foIsBlank || node.Operator == foNotBlank);
  const bool compare = (node.Class == fnBinary || node.Class == fnCompare) && IsComparisonOperator(node.Operator);
  if (!blankTest && !compare) return false;
  comparison = {};
  comparison.Operator = node.Operator;
  comparison.FieldNode = blankTest ? block_.Operand(node) : block_.FirstOperand(node);
  const std::optional<TFilterNode> field = block_.Node(comparison.FieldNode);
  if (!field || field->Class != fnField) return false;
  comparison.Field = owner_.FindField(block_.FieldNumber(*field));
  if (!comparison.Field) return false;
  if (blankTest) return true;
  comparison.ConstantNode = block_.SecondOperand(node);
  const std::optional<TFilterNode> constant = block_.Node(comparison.ConstantNode);
  if (!constant || constant->Class != fnConstant) return false;
  comparison.Constant = block_.ConstantValue(*constant, static_cast<std::size_t>(FieldDataSize(*comparison.Field)));
  if (!comparison.Constant) return false;
  if (node.Class == fnCompare) {
    comparison.CaseInsensitive = block_.NodeU16(node, 8) != 0;
    comparison.PartialLength = block_.NodeU16(node, 10);
  }
  return true;
}

bool TFilter::SelectIndexFor(const TComparison& comparison) {
  const bool blankTest = comparison.Operator == foIsBlank || comparison.Operator == foNotBlank;
  // A blank test asks only for the has-value byte, which every index of the field holds alike.
  return owner_.SelectIndexForField(comparison.Field->FieldNumber, blankTest ? false : comparison.CaseInsensitive,
                                    blankTest);
}

bool TFilter::TakeComplement(std::int32_t matching) {
  switch (rule_) {
    case TComplementRule::Always: return true;
    case TComplementRule::Never: return false;
    case TComplementRule::SmallerSide: break;
  }
  const std::int64_t records = owner_.IndexFile().RecordCount();
  return records - matching < matching;
}

std::int32_t TFilter::OptimizeNode(std::uint16_t offset, int depth) {
  const std::optional<TFilterNode> node = block_.Node(offset);
  if (!node || depth > kDepthLimit) return FilterLevelNone;
  TComparison comparison;
  if (ReadComparison(*node, comparison)) {
    if (!SelectIndexFor(comparison)) return FilterLevelNone;
    if (TakeComplement(CountMatching(comparison)) && RoomToRewrite(offset)) RewriteComplement(*node, comparison);
    return FilterLevelByIndex;
  }
  if (node->Class == fnUnary && node->Operator == foNot) return OptimizeNode(block_.Operand(*node), depth + 1);
  if (node->Class == fnBinary && (node->Operator == foAnd || node->Operator == foOr)) {
    const std::int32_t a = OptimizeNode(block_.FirstOperand(*node), depth + 1);
    const std::int32_t b = OptimizeNode(block_.SecondOperand(*node), depth + 1);
    if (node->Operator == foOr) return OrLevel(a, b);
    // The better operand goes first: a scan under an and reads only what the first one kept.
    if (AndLevel(a, b) == FilterLevelPartly && a > b) block_.SwapOperands(*node);
    return AndLevel(a, b);
  }
  return FilterLevelNone;
}

bool TFilter::RewriteComplement(const TFilterNode& node, const TComparison& comparison) {
  const std::vector<std::uint8_t> original = block_.NodeBytes(node);
  const std::size_t size = original.size();
  const std::size_t q = block_.EndOfNodes();
  std::vector<std::uint8_t> added;
  std::uint16_t count = 0;
  switch (comparison.Operator) {
    case foIsBlank:
    case foNotBlank:
      PutCopy(added, original, Opposite(comparison.Operator));
      count = 1;
      break;
    case foGreater:
    case foGreaterOrEqual:
    case foLess:
    case foLessOrEqual:
      // not (opposite or blank)
      PutOr(added, q + 12, q + 12 + size);
      PutCopy(added, original, Opposite(comparison.Operator));
      PutBlank(added, comparison.FieldNode);
      count = 3;
      break;
    case foEqual:
      // not ((less or greater) or blank)
      PutOr(added, q + 12, q + 24 + 2 * size);
      PutOr(added, q + 24, q + 24 + size);
      PutCopy(added, original, foLess);
      PutCopy(added, original, foGreater);
      PutBlank(added, comparison.FieldNode);
      count = 5;
      break;
    case foNotEqual:
      // (less or greater) or blank, in place of the node
      PutOr(added, q + 12, q + 12 + size);
      PutCopy(added, original, foLess);
      PutCopy(added, original, foGreater);
      PutBlank(added, comparison.FieldNode);
      count = 4;
      break;
    default: return false;
  }
  const std::optional<std::uint16_t> at = block_.AppendNodes(added, count);
  if (!at) return false;  // no room: the node stays as it is and is walked directly
  if (comparison.Operator == foNotEqual) {
    block_.WriteHead(node.Offset, fnBinary, foOr);
    block_.WriteNodeU16(node.Offset, 8, *at);
    block_.WriteNodeU16(node.Offset, 10, static_cast<std::uint16_t>(*at + 12 + 2 * size));
  } else {
    block_.WriteHead(node.Offset, fnUnary, foNot);
    block_.WriteNodeU16(node.Offset, 8, *at);
  }
  return true;
}

std::int32_t TFilter::EvaluateNode(std::uint16_t offset, TRecordBitmap& bitmap, std::int32_t parentOperator,
                                   int depth) {
  const std::optional<TFilterNode> node = block_.Node(offset);
  if (!node || depth > kDepthLimit) return FilterLevelNone;
  TComparison comparison;
  if (ReadComparison(*node, comparison)) {
    std::int32_t level;
    if (SelectIndexFor(comparison)) {
      MarkByIndex(bitmap, comparison);
      level = FilterLevelByIndex;
    } else {
      MarkByScan(bitmap, comparison, parentOperator);
      level = FilterLevelNone;
    }
    if (comparison.Operator == foNotEqual) bitmap.Not(bitmap);
    return level;
  }
  if (node->Class == fnUnary && node->Operator == foNot) {
    // From every record, whatever came in: what the operand leaves out is what the not lets through.
    bitmap.FillOnes();
    const std::int32_t level = EvaluateNode(block_.Operand(*node), bitmap, foNot, depth + 1);
    bitmap.Not(bitmap);
    return level;
  }
  if (node->Class == fnBinary && (node->Operator == foAnd || node->Operator == foOr)) {
    const bool isAnd = node->Operator == foAnd;
    const std::int32_t a = EvaluateNode(block_.FirstOperand(*node), bitmap, node->Operator, depth + 1);
    // Under an and the second operand starts from what the first one kept.
    TRecordBitmap second = bitmap;
    if (!isAnd) second.FillOnes();
    const std::int32_t b = EvaluateNode(block_.SecondOperand(*node), second, node->Operator, depth + 1);
    if (isAnd) {
      bitmap.And(second);
      return AndLevel(a, b);
    }
    bitmap.Or(second);
    return OrLevel(a, b);
  }
  return FilterLevelNone;
}

std::int32_t TFilter::CountMatching(const TComparison& comparison) {
  TIndexFile& index = owner_.IndexFile();
  const TKeyPartRange range = ComparisonRange(*comparison.Field, comparison.Operator, comparison.Constant,
                                              comparison.PartialLength, index.CaseInsensitive() != 0);
  if (range.Empty) return 0;
  TKeyBuffer low{}, high{};
  IndexBounds(range, index.KeyLength(), index.Descending() != 0, low.data(), high.data());
  return index.RangeCount(std::span<const std::uint8_t>(low.data(), index.KeyLength()),
                          std::span<const std::uint8_t>(high.data(), index.KeyLength()));
}

void TFilter::MarkByIndex(TRecordBitmap& bitmap, const TComparison& comparison) {
  TIndexFile& index = owner_.IndexFile();
  const TKeyPartRange range = ComparisonRange(*comparison.Field, comparison.Operator, comparison.Constant,
                                              comparison.PartialLength, index.CaseInsensitive() != 0);
  if (range.Empty) {
    bitmap.FillZeros();
    return;
  }
  TKeyBuffer low{}, high{};
  IndexBounds(range, index.KeyLength(), index.Descending() != 0, low.data(), high.data());
  index.MarkKeyRange(std::span<const std::uint8_t>(low.data(), index.KeyLength()),
                     std::span<const std::uint8_t>(high.data(), index.KeyLength()), bitmap);
}

void TFilter::MarkByScan(TRecordBitmap& bitmap, const TComparison& comparison, std::int32_t parentOperator) {
  const TKeyPartRange range = ComparisonRange(*comparison.Field, comparison.Operator, comparison.Constant,
                                              comparison.PartialLength, comparison.CaseInsensitive);
  if (range.Empty) {
    bitmap.FillZeros();
    return;
  }
  const std::size_t width = static_cast<std::size_t>(FieldDataSize(*comparison.Field)) + 1;
  std::vector<std::uint8_t> low(width), high(width);
  ScanBounds(range, width, low.data(), high.data());
  owner_.ScanFieldRange(low, high, comparison.CaseInsensitive, comparison.Field->FieldNumber, parentOperator, bitmap);
}

}  // namespace kavrin::engine
