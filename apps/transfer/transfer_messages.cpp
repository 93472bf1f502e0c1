#include "apps/transfer/transfer_messages.h"

#include <string>

namespace kavrin::transfer {
namespace {

std::string Trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

std::string S(std::string_view text) { return std::string(text); }

}  // namespace

std::string TransferringTableText(std::string_view entry) {
  return "Transferring table " + Trimmed(entry) + " to KAVRIN table...";
}

std::string TransferProgressText(std::string_view entry, std::int64_t record, std::int64_t records) {
  return TransferringTableText(entry) + " record " + std::to_string(record) + " of " + std::to_string(records);
}

std::string ExpressionIndexText(std::string_view indexName, std::string_view table) {
  return "Index " + Trimmed(indexName) + " in source table " + S(table) + " is an " +
         "expression index that contains functions and " + "will not be transferred over to the new " +
         "KAVRIN data file.";
}

std::string FieldLengthText(std::string_view fieldName, std::string_view table) {
  return "Field name " + S(fieldName) + " in source table " + S(table) + " exceeds " + "the maximum field length of " +
         "245" + " in KAVRIN and will " + "be truncated in the new KAVRIN " + "data file.";
}

std::string BcdDecimalsText(std::string_view fieldName, std::string_view table) {
  return "Field name " + S(fieldName) + " in source table " + S(table) + " exceeds " +
         "the maximum number of BCD decimals (4) in " + "KAVRIN and will be truncated in the new " +
         "KAVRIN data file.";
}

std::string NoPrimaryIndexText(std::string_view table) {
  return "A primary index was not found in source table " + S(table) + ", a primary " +
         "index based upon an auto-increment field " + "called RecordID will be added to the new KAVRIN " +
         "data file.";
}

std::string SameDestinationText(std::string_view firstTable, std::string_view secondTable) {
  return "Source table " + S(secondTable) + " would replace the KAVRIN data file just transferred from source table " +
         S(firstTable) + " and will not be transferred.";
}

std::string TooManyFieldsText(std::string_view table, std::size_t engineFields) {
  return "Source table " + S(table) + " needs " + std::to_string(engineFields) +
         " fields in KAVRIN, more than the maximum of 512, and will not be transferred.";
}

std::string TooManyIndexesText(std::string_view indexName, std::string_view table) {
  return "Index " + Trimmed(indexName) + " in source table " + S(table) + " exceeds the maximum of 30 " +
         "secondary indexes in KAVRIN and will not be transferred over to the new KAVRIN data file.";
}

}  // namespace kavrin::transfer
