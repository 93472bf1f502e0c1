#include "engine/filter_block.h"

#include <algorithm>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/error_codes.h"

namespace kavrin::engine {

std::size_t FilterNodeSize(std::int32_t nodeClass) {
  switch (nodeClass) {
    case fnUnary: return 10;
    case fnBinary: return 12;
    case fnCompare: return 16;
    case fnField: return 12;
    case fnConstant: return 14;
    default: return 0;
  }
}

namespace {

// One walk over a block's tree from the root; any fault refuses the whole block.
class TBlockCheck {
 public:
  TBlockCheck(const TFilterBlock& block, const TDataFile& table, std::size_t nodeArea)
      : block_(block), table_(table), owner_(nodeArea, -1) {}

  void Run() {
    if (!IsLogicalClass(Walk(0, 1))) Refuse();
  }

 private:
  [[noreturn]] void Refuse() const { RaiseEngineError(ec::InvalidFilterExpression, table_.FileName()); }

  // Claims the node's bytes; a node met again keeps its claim, one that overlaps another is refused.
  void Claim(const TFilterNode& node) {
    const std::size_t size = FilterNodeSize(node.Class);
    if (owner_[node.Offset] == node.Offset) return;
    for (std::size_t at = node.Offset; at < node.Offset + size; ++at) {
      if (owner_[at] != -1) Refuse();
      owner_[at] = node.Offset;
    }
  }

  const TFieldDescriptor& FieldOf(std::uint16_t fieldOffset) const {
    const TFieldDescriptor* field = table_.FindField(block_.FieldNumber(*block_.Node(fieldOffset)));
    if (!field) Refuse();
    return *field;
  }

  // A comparison reads its constant as the field's data size.
  void CheckComparison(std::uint16_t fieldOffset, std::int32_t fieldClass, std::uint16_t constantOffset,
                       std::int32_t constantClass) const {
    if (fieldClass != fnField || constantClass != fnConstant) Refuse();
    const std::size_t size = static_cast<std::size_t>(FieldDataSize(FieldOf(fieldOffset)));
    if (size == 0 || !block_.ConstantValue(*block_.Node(constantOffset), size)) Refuse();
  }

  // Returns the node's class.
  std::int32_t Walk(std::uint16_t offset, int depth) {
    if (depth > MaxFilterDepth || ++visits_ > MaxFilterNodeVisits) Refuse();
    const std::optional<TFilterNode> found = block_.Node(offset);
    if (!found) Refuse();
    const TFilterNode node = *found;
    Claim(node);
    const std::int32_t op = node.Operator;
    if (IsLogicalClass(node.Class) && (op < 0 || op > MaxFilterOperator)) Refuse();
    switch (node.Class) {
      case fnUnary: {
        const std::int32_t operand = Walk(block_.Operand(node), depth + 1);
        if ((op == foIsBlank || op == foNotBlank) && operand != fnField) Refuse();
        if (op == foNot && !IsLogicalClass(operand)) Refuse();
        break;
      }
      case fnBinary:
      case fnCompare: {
        const std::uint16_t first = block_.FirstOperand(node);
        const std::uint16_t second = block_.SecondOperand(node);
        const std::int32_t a = Walk(first, depth + 1);
        const std::int32_t b = Walk(second, depth + 1);
        if (IsComparisonOperator(op)) CheckComparison(first, a, second, b);
        if (node.Class == fnBinary && (op == foAnd || op == foOr) && (!IsLogicalClass(a) || !IsLogicalClass(b))) {
          Refuse();
        }
        break;
      }
      case fnField: FieldOf(offset); break;
      default:
        if (!block_.ConstantValue(node, 0)) Refuse();
        break;
    }
    return node.Class;
  }

  const TFilterBlock& block_;
  const TDataFile& table_;
  std::vector<std::int32_t> owner_;  // per node-area byte: the offset of the node that holds it
  std::size_t visits_ = 0;
};

}  // namespace

TFilterBlock TFilterBlock::Checked(std::span<const std::uint8_t> block, const TDataFile& table) {
  auto refuse = [&] { RaiseEngineError(ec::InvalidFilterExpression, table.FileName()); };
  if (block.size() < FilterBlockHeaderSize) refuse();
  const std::size_t total = LoadU16(block.data() + 2);
  if (total < FilterBlockHeaderSize || total > block.size()) refuse();
  TFilterBlock copy;
  copy.bytes_.assign(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(total));
  const std::size_t nodeStart = copy.NodeStart();
  const std::size_t literalStart = copy.LiteralStart();
  if (nodeStart < FilterBlockHeaderSize || literalStart < nodeStart || literalStart > total) refuse();
  TBlockCheck(copy, table, literalStart - nodeStart).Run();
  return copy;
}

std::uint16_t TFilterBlock::HeaderU16(std::size_t at) const {
  return bytes_.size() >= at + 2 ? LoadU16(bytes_.data() + at) : 0;
}

std::optional<TFilterNode> TFilterBlock::Node(std::uint16_t offset) const {
  const std::size_t area = LiteralStart() - NodeStart();
  if (LiteralStart() < NodeStart() || offset + std::size_t{8} > area) return std::nullopt;
  const std::uint8_t* p = bytes_.data() + NodeStart() + offset;
  TFilterNode node{offset, LoadI32(p), LoadI32(p + 4)};
  const std::size_t size = FilterNodeSize(node.Class);
  if (size == 0 || offset + size > area) return std::nullopt;
  return node;
}

std::uint16_t TFilterBlock::NodeU16(const TFilterNode& node, std::size_t at) const {
  const std::size_t area = LiteralStart() - NodeStart();
  if (LiteralStart() < NodeStart() || node.Offset + at + 2 > area || at + 2 > FilterNodeSize(node.Class)) return 0;
  return LoadU16(bytes_.data() + NodeStart() + node.Offset + at);
}

std::uint16_t TFilterBlock::FirstOperand(const TFilterNode& node) const {
  return NodeU16(node, node.Class == fnCompare ? 12 : 8);
}

std::uint16_t TFilterBlock::SecondOperand(const TFilterNode& node) const {
  return NodeU16(node, node.Class == fnCompare ? 14 : 10);
}

const std::uint8_t* TFilterBlock::ConstantValue(const TFilterNode& constant, std::size_t size) const {
  const std::size_t start = LiteralStart() + NodeU16(constant, 12);
  if (start + size > bytes_.size()) return nullptr;
  return bytes_.data() + start;
}

std::optional<std::uint16_t> TFilterBlock::AppendNodes(std::span<const std::uint8_t> nodes, std::uint16_t count) {
  const std::size_t literalStart = LiteralStart();
  if (bytes_.size() + nodes.size() > MaxFilterBlockSize) return std::nullopt;
  bytes_.insert(bytes_.begin() + static_cast<std::ptrdiff_t>(literalStart), nodes.begin(), nodes.end());
  StoreU16(bytes_.data() + 2, static_cast<std::uint16_t>(bytes_.size()));
  StoreU16(bytes_.data() + 4, static_cast<std::uint16_t>(HeaderU16(4) + count));
  StoreU16(bytes_.data() + 8, static_cast<std::uint16_t>(literalStart + nodes.size()));
  return static_cast<std::uint16_t>(literalStart - NodeStart());
}

std::vector<std::uint8_t> TFilterBlock::NodeBytes(const TFilterNode& node) const {
  const std::uint8_t* p = bytes_.data() + NodeStart() + node.Offset;
  return {p, p + FilterNodeSize(node.Class)};
}

void TFilterBlock::WriteHead(std::uint16_t offset, std::int32_t nodeClass, std::int32_t op) {
  std::uint8_t* p = bytes_.data() + NodeStart() + offset;
  StoreI32(p, nodeClass);
  StoreI32(p + 4, op);
}

void TFilterBlock::WriteNodeU16(std::uint16_t offset, std::size_t at, std::uint16_t value) {
  StoreU16(bytes_.data() + NodeStart() + offset + at, value);
}

void TFilterBlock::SwapOperands(const TFilterNode& binary) {
  const std::uint16_t first = FirstOperand(binary);
  const std::uint16_t second = SecondOperand(binary);
  const std::size_t at = binary.Class == fnCompare ? 12 : 8;
  WriteNodeU16(binary.Offset, at, second);
  WriteNodeU16(binary.Offset, at + 2, first);
}

}  // namespace kavrin::engine
