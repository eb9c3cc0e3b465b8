// Reading an Intel HEX firmware image into a `FirmwareImage`, and the two image
// transformations that depend on the boot loader or the target: the file header of the
// sequence-numbered boot loader and the vector checksum of NXP LPC ARM parts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "firmware/FirmwareImage.h"
#include "firmware/LoaderMessage.h"
#include "firmware/UserNotifier.h"

// Decides about a record type other than 0x00 and 0x04; `record` holds the record's count,
// address, type and data as a message.
using RecordTypeHandler = std::function<bool(std::uint8_t type, const LoaderMessage& record)>;

namespace hex_text {
inline constexpr const char* kCrcError = "CRC Error in file";
inline constexpr const char* kAddressError = "Address error in file, file is not correct according to memory map";
inline constexpr const char* kBadExtendedRecord = "Bad \"04\" record. Wrong size specified.";
inline constexpr const char* kUnknownFormat = "Unknown format: record field number incorrect";
}  // namespace hex_text

// Reads the file at `path` into `image`, which is emptied first. A type 0x02 segment base
// applies to the data records after it until a type 0x04 record. Errors are reported through
// `notifier` (may be null) and the fault log; false on any failure, with the records read
// before it kept.
bool ReadImage(const std::string& path, FirmwareImage& image, const RecordTypeHandler& acceptRecordType,
               IUserNotifier* notifier);

// The record types every loader accepts besides 0x00 and 0x04: 0x01 (end of file) and 0x02
// (segment base; `ReadImage` adds base × 16 to the addresses of the data after it).
bool AcceptCommonRecordType(std::uint8_t type, const LoaderMessage& record);

// For target "LPCARM": appends to slot 0 the word at 0x14 that makes the eight vector words
// sum to 0. Other targets leave the image alone.
void ApplyTargetStep(FirmwareImage& image, const std::string& target);

// The image file of the sequence-numbered boot loader starts with two decimal lines, the
// identity numbers; the rest is Intel HEX. Reads the two numbers and copies the remaining
// lines into `path` + ".tmp" (left on disk). False when either file cannot be opened.
bool SplitHeaderedImage(const std::string& path, std::int32_t& identity1, std::int32_t& identity2,
                        std::string& hexPath);

// A decimal number as atoi reads it: leading blanks, an optional sign, digits up to the first
// other character; 0 when there are none.
std::int32_t LenientDecimal(const std::string& text);
