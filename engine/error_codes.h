// The engine's error codes: 16-bit numbers in the numbering that every program and stored message
// knows; 0 is success.
#pragma once

#include <cstdint>

namespace kavrin::engine {

using TErrorCode = std::uint16_t;

namespace ec {
inline constexpr TErrorCode Success = 0;
inline constexpr TErrorCode BeginningOfFile = 8705;
inline constexpr TErrorCode EndOfFile = 8706;
inline constexpr TErrorCode KeyNotFound = 8708;
inline constexpr TErrorCode RecordNotFound = 8710;
inline constexpr TErrorCode EndOfBlob = 8711;
inline constexpr TErrorCode RecordBuffersCorrupt = 8962;
inline constexpr TErrorCode BlockBuffersCorrupt = 8963;
inline constexpr TErrorCode PageBuffersCorrupt = 8965;
inline constexpr TErrorCode ReadError = 9217;
inline constexpr TErrorCode WriteError = 9218;
inline constexpr TErrorCode CannotDelete = 9220;
inline constexpr TErrorCode HeaderError = 9221;
inline constexpr TErrorCode RecordSizeExceeded = 9477;
inline constexpr TErrorCode TooManyFilters = 9482;
inline constexpr TErrorCode IndexLimits = 9487;
inline constexpr TErrorCode FieldLimits = 9492;
inline constexpr TErrorCode TooManyBlobs = 9494;
inline constexpr TErrorCode BlobFieldsOrBlockSize = 9498;
inline constexpr TErrorCode KeyViolation = 9729;
inline constexpr TErrorCode MinimumExceeded = 9730;
inline constexpr TErrorCode MaximumExceeded = 9731;
inline constexpr TErrorCode RequiredField = 9732;
inline constexpr TErrorCode InvalidFieldNumber = 9985;
inline constexpr TErrorCode PrimaryIndexExists = 9993;
inline constexpr TErrorCode InvalidBlobOffset = 9998;
inline constexpr TErrorCode InvalidFieldDefinition = 10000;
inline constexpr TErrorCode InvalidValidityCheck = 10006;
inline constexpr TErrorCode IndexNameMissing = 10010;
inline constexpr TErrorCode InvalidPassword = 10015;
inline constexpr TErrorCode InvalidIndexName = 10022;
inline constexpr TErrorCode InvalidKeySize = 10026;
inline constexpr TErrorCode IndexExists = 10027;
inline constexpr TErrorCode InvalidBlobLength = 10029;
inline constexpr TErrorCode InvalidBlobHandle = 10030;
inline constexpr TErrorCode FileInUse = 10031;
inline constexpr TErrorCode InvalidFieldName = 10038;
inline constexpr TErrorCode InvalidFilterHandle = 10050;
inline constexpr TErrorCode InvalidFilterExpression = 10051;
inline constexpr TErrorCode PrimaryIndexRequired = 10055;
inline constexpr TErrorCode TableLocked = 10241;
inline constexpr TErrorCode CannotUnlock = 10242;
inline constexpr TErrorCode GeneralLockFailure = 10249;
inline constexpr TErrorCode MustBeExclusive = 10253;
inline constexpr TErrorCode RecordLocked = 10258;
inline constexpr TErrorCode PasswordRequired = 10498;
inline constexpr TErrorCode InvalidBlobField = 10753;
inline constexpr TErrorCode InvalidPath = 11010;
inline constexpr TErrorCode TooManyOpenFiles = 11012;
inline constexpr TErrorCode AccessDenied = 11013;
inline constexpr TErrorCode InvalidHandle = 11014;
inline constexpr TErrorCode OutOfMemory = 11016;
inline constexpr TErrorCode InvalidMemoryFileLength = 11017;
inline constexpr TErrorCode InvalidDrive = 11023;
inline constexpr TErrorCode FileMoved = 11025;
inline constexpr TErrorCode UnknownError = 11047;
inline constexpr TErrorCode IncorrectVersion = 12035;
inline constexpr TErrorCode InvalidIndexFieldType = 12292;
}  // namespace ec

}  // namespace kavrin::engine
