#include "classlib/filter_expr.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "engine/bcd.h"
#include "engine/byte_order.h"
#include "runtime/conversions.h"

namespace kavrin::classlib {
namespace {

bool IsComparison(TCanOp op) { return op >= TCanOp::Equal && op <= TCanOp::LessOrEqual; }

std::uint16_t U16(std::size_t value) { return static_cast<std::uint16_t>(value); }

}  // namespace

TFilterExpr::TNode TFilterExpr::Make(TNodeClass nodeClass, TCanOp op) {
  TNode node;
  node.nodeClass = nodeClass;
  node.op = op;
  return node;
}

std::size_t TFilterExpr::NodeSize(TNodeClass nodeClass) {
  switch (nodeClass) {
    case TNodeClass::Unary: return UnaryNodeSize;
    case TNodeClass::Binary: return BinaryNodeSize;
    case TNodeClass::Compare: return CompareNodeSize;
    case TNodeClass::Field: return FieldNodeSize;
    case TNodeClass::Constant: return ConstantNodeSize;
  }
  return 0;
}

TNodeClass TFilterExpr::ClassOf(TNodeId id) const {
  if (id >= nodes_.size()) throw std::invalid_argument("filter expression: no such node");
  return nodes_[id].nodeClass;
}

bool TFilterExpr::IsLogical(TNodeId id) const {
  // Whatever their operator: the engine counts a binary comparison as logical, like a compare node.
  const TNodeClass c = ClassOf(id);
  return c == TNodeClass::Unary || c == TNodeClass::Binary || c == TNodeClass::Compare;
}

void TFilterExpr::Use(TNodeId id) {
  if (nodes_[id].used) throw std::invalid_argument("filter expression: node is already an operand");
  nodes_[id].used = true;
}

TFilterExpr::TNodeId TFilterExpr::Add(TNode node) {
  const std::size_t grown = size_ + NodeSize(node.nodeClass) + node.literal.size();
  if (grown > MaxFilterBlockSize) throw EFilterExprTooLarge();
  for (TNodeId operand : node.operands) {
    if (nodes_[operand].used) throw std::invalid_argument("filter expression: node is already an operand");
  }
  if (node.operands.size() == 2 && node.operands[0] == node.operands[1])
    throw std::invalid_argument("filter expression: node is already an operand");
  for (TNodeId operand : node.operands) Use(operand);
  size_ = grown;
  nodes_.push_back(std::move(node));
  return nodes_.size() - 1;
}

TFilterExpr::TNodeId TFilterExpr::NewFieldNode(std::int16_t fieldNumber, std::string_view name) {
  if (name.find('\0') != std::string_view::npos)
    throw std::invalid_argument("filter expression: field name holds a NUL");
  TNode node = Make(TNodeClass::Field, TCanOp::None);
  node.fieldNumber = fieldNumber;
  node.literal.assign(name.begin(), name.end());
  node.literal.push_back(0);
  return Add(std::move(node));
}

TFilterExpr::TNodeId TFilterExpr::NewFieldNode(const engine::TFieldDescriptor& field) {
  return NewFieldNode(field.FieldNumber, field.Name);
}

TFilterExpr::TNodeId TFilterExpr::NewConstNode(std::uint16_t type, std::span<const std::uint8_t> value) {
  TNode node = Make(TNodeClass::Constant, TCanOp::None);
  node.constType = type;
  node.literal.assign(value.begin(), value.end());
  return Add(std::move(node));
}

TFilterExpr::TNodeId TFilterExpr::PutConstBCD(runtime::Currency value, int decimals) {
  std::uint8_t bytes[BCDConstantSize] = {};
  engine::StoreI64(bytes, engine::CurrencyToBCD(decimals, value));
  return NewConstNode(engine::ftBCD, bytes);
}

TFilterExpr::TNodeId TFilterExpr::PutConstBCD(std::string_view value, int decimals) {
  return PutConstBCD(runtime::StrToCurr(value), decimals);
}

TFilterExpr::TNodeId TFilterExpr::NewCompareNode(TCanOp op, bool caseInsensitive, std::uint16_t partialLength,
                                                 TNodeId field, TNodeId constant) {
  if (!IsComparison(op)) throw std::invalid_argument("filter expression: not a comparison operator");
  if (ClassOf(field) != TNodeClass::Field || ClassOf(constant) != TNodeClass::Constant)
    throw std::invalid_argument("filter expression: a comparison takes a field and a constant");
  TNode node = Make(TNodeClass::Compare, op);
  node.caseInsensitive = caseInsensitive ? 1 : 0;
  node.partialLength = partialLength;
  node.operands = {field, constant};
  return Add(std::move(node));
}

TFilterExpr::TNodeId TFilterExpr::NewBinaryNode(TCanOp op, TNodeId first, TNodeId second) {
  if (op == TCanOp::And || op == TCanOp::Or) {
    if (!IsLogical(first) || !IsLogical(second))
      throw std::invalid_argument("filter expression: and / or take two logical nodes");
  } else if (IsComparison(op)) {
    if (ClassOf(first) != TNodeClass::Field || ClassOf(second) != TNodeClass::Constant)
      throw std::invalid_argument("filter expression: a comparison takes a field and a constant");
  } else {
    throw std::invalid_argument("filter expression: not a binary operator");
  }
  TNode node = Make(TNodeClass::Binary, op);
  node.operands = {first, second};
  return Add(std::move(node));
}

TFilterExpr::TNodeId TFilterExpr::NewUnaryNode(TCanOp op, TNodeId operand) {
  if (op == TCanOp::IsBlank || op == TCanOp::NotBlank) {
    if (ClassOf(operand) != TNodeClass::Field)
      throw std::invalid_argument("filter expression: a blank test takes a field");
  } else if (op == TCanOp::Not) {
    if (!IsLogical(operand)) throw std::invalid_argument("filter expression: not takes a logical node");
  } else {
    throw std::invalid_argument("filter expression: not a unary operator");
  }
  TNode node = Make(TNodeClass::Unary, op);
  node.operands = {operand};
  return Add(std::move(node));
}

std::vector<std::uint8_t> TFilterExpr::GetFilterData(TNodeId root) const {
  if (root >= nodes_.size()) throw std::invalid_argument("filter expression: no such node");
  if (nodes_[root].used) throw std::invalid_argument("filter expression: the root is an operand");

  // Depth-first, root first: the engine takes the node at offset 0 as the root. Iterative, so that a
  // long chain of nots cannot exhaust the stack.
  std::vector<TNodeId> order;
  std::vector<TNodeId> pending{root};
  while (!pending.empty()) {
    const TNodeId id = pending.back();
    pending.pop_back();
    order.push_back(id);
    const auto& operands = nodes_[id].operands;
    for (auto it = operands.rbegin(); it != operands.rend(); ++it) pending.push_back(*it);
  }

  std::vector<std::size_t> nodeOffset(nodes_.size());
  std::vector<std::size_t> literalOffset(nodes_.size());
  std::size_t nodeArea = 0;
  std::size_t literalArea = 0;
  for (TNodeId id : order) {
    nodeOffset[id] = nodeArea;
    nodeArea += NodeSize(nodes_[id].nodeClass);
    literalOffset[id] = literalArea;
    literalArea += nodes_[id].literal.size();
  }
  // Never more than size_, which Add kept within 16 bits.
  const std::size_t literalStart = FilterHeaderSize + nodeArea;
  const std::size_t total = literalStart + literalArea;

  std::vector<std::uint8_t> block(total, 0);
  std::uint8_t* p = block.data();
  engine::StoreU16(p + 0, FilterBlockVersion);
  engine::StoreU16(p + 2, U16(total));
  engine::StoreU16(p + 4, U16(order.size()));
  engine::StoreU16(p + 6, U16(FilterHeaderSize));
  engine::StoreU16(p + 8, U16(literalStart));

  for (TNodeId id : order) {
    const TNode& node = nodes_[id];
    std::uint8_t* n = p + FilterHeaderSize + nodeOffset[id];
    engine::StoreI32(n + 0, static_cast<std::int32_t>(node.nodeClass));
    engine::StoreI32(n + 4, static_cast<std::int32_t>(node.op));
    switch (node.nodeClass) {
      case TNodeClass::Unary: engine::StoreU16(n + 8, U16(nodeOffset[node.operands[0]])); break;
      case TNodeClass::Binary:
        engine::StoreU16(n + 8, U16(nodeOffset[node.operands[0]]));
        engine::StoreU16(n + 10, U16(nodeOffset[node.operands[1]]));
        break;
      case TNodeClass::Compare:
        engine::StoreU16(n + 8, node.caseInsensitive);
        engine::StoreU16(n + 10, node.partialLength);
        engine::StoreU16(n + 12, U16(nodeOffset[node.operands[0]]));
        engine::StoreU16(n + 14, U16(nodeOffset[node.operands[1]]));
        break;
      case TNodeClass::Field:
        engine::StoreI16(n + 8, node.fieldNumber);
        engine::StoreU16(n + 10, U16(literalOffset[id]));
        break;
      case TNodeClass::Constant:
        engine::StoreU16(n + 8, node.constType);
        engine::StoreU16(n + 10, U16(node.literal.size()));
        engine::StoreU16(n + 12, U16(literalOffset[id]));
        break;
    }
    std::copy(node.literal.begin(), node.literal.end(), p + literalStart + literalOffset[id]);
  }
  return block;
}

}  // namespace kavrin::classlib
