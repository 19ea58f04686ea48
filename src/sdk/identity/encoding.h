#pragma once
// Hexadecimal, SHA-1 and UUID helpers shared by the whole SDK.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace telemetry {

// Zeroes the 2n + 1 bytes of `out`, then writes two lowercase hexadecimal characters per
// byte. Nothing without a buffer; only the zeroing without bytes or with n = 0.
void TELHexEncodeBytes(const void* bytes, size_t n, char* out);
std::string TELHexStringFromData(const std::vector<uint8_t>& data);
// SHA-1 as 40 lowercase hexadecimal characters (of empty input when there are no bytes).
std::string TELSHA1HexStringFromBytes(const void* bytes, uint32_t count);
std::string TELSHA1HexStringFromData(const std::vector<uint8_t>& data);
std::string TELSHA1HexStringFromData(const std::string& data);
std::string TELHexStringFromUUIDBytes(const uint8_t uuid[16]);
// A new random UUID in canonical form: 36 characters, upper-case, hyphens at 8-4-4-4-12.
std::string TELGenerateUUIDString();

struct TELByteRange {
  size_t location = 0;
  size_t length = 0;
};
// Our data is one contiguous buffer: the block runs once, over the whole of it.
void TELEnumerateDataByteRanges(const std::vector<uint8_t>& data,
                                const std::function<void(const uint8_t* bytes, TELByteRange range, bool* stop)>& block);

}  // namespace telemetry
