// The texts the transfer shows, exactly as the program has always worded them.
#pragma once

#include <string>
#include <string_view>

namespace kavrin::transfer {

std::string TransferringTableText(std::string_view entry);
// The status while a table's records are copied.
std::string TransferProgressText(std::string_view entry, std::int64_t record, std::int64_t records);
std::string ExpressionIndexText(std::string_view indexName, std::string_view table);
std::string FieldLengthText(std::string_view fieldName, std::string_view table);
std::string BcdDecimalsText(std::string_view fieldName, std::string_view table);
std::string NoPrimaryIndexText(std::string_view table);
inline constexpr const char* TransferCompletedText = "Transfer completed successfully.";

// Texts of the cases the original left to fail silently.
std::string SameDestinationText(std::string_view firstTable, std::string_view secondTable);
std::string TooManyFieldsText(std::string_view table, std::size_t engineFields);
std::string TooManyIndexesText(std::string_view indexName, std::string_view table);

}  // namespace kavrin::transfer
