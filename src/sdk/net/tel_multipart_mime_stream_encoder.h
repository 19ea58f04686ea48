#pragma once
// Writes a multipart/form-data body straight into an output stream, part by part, counting
// the bytes as it goes: the one upload body format of the SDK. Problems are logged and the
// part is skipped or cut short; only writeBytes() reports failure to its caller.
//
// Layout: "MIME-Version: 1.0\r\n", then each part opened by "--<boundary>\r\n", then
// "--<boundary>--\r\n". Field names and file names are header text: names holding a quote,
// a carriage return or a line feed are refused, so no value can end a header early.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sdk/net/output_stream.h"
#include "sdk/net/url_request.h"

namespace telemetry {

class TELMultipartMimeStreamEncoder {
 public:
  // A missing boundary is replaced by a new one.
  static std::shared_ptr<TELMultipartMimeStreamEncoder> encoderWithStream(std::shared_ptr<OutputStream> stream,
                                                                          std::optional<std::string> boundary = {});
  TELMultipartMimeStreamEncoder(std::shared_ptr<OutputStream> stream, std::optional<std::string> boundary = {});

  // A fresh UUID in canonical upper-case form.
  static std::string generateBoundary();
  // "multipart/form-data; boundary=<boundary>".
  static std::string contentTypeHTTPHeaderValueWithBoundary(const std::string& boundary);
  // Encodes a whole body into memory and makes it the request's body, with its
  // Content-Type and Content-Length headers.
  static void populateRequest(URLRequest& request, const std::function<void(TELMultipartMimeStreamEncoder&)>& block);

  // beginEncoding(), the block (which adds the parts), endEncoding().
  void encode(const std::function<void()>& block);
  void beginEncoding();
  void endEncoding();

  // A text part holding the value's description (strings as they are, 42 as "42"); null
  // counts as no value.
  void addValue(const nlohmann::json& value, const std::string& fieldName);
  void addFileData(const std::vector<uint8_t>& data, const std::string& fileName,
                   const std::optional<std::string>& mimeType, const std::string& fieldName);
  // Reads the whole file; an unreadable file, or one beyond kMaxFileBytes (refused, and
  // logged), counts as empty data.
  static constexpr size_t kMaxFileBytes = 256u << 20;
  void addFile(const std::string& path, const std::string& fileName, const std::optional<std::string>& mimeType,
               const std::string& fieldName);

  void writeData(const std::vector<uint8_t>& data);
  // True when the stream took every byte.
  bool writeBytes(const void* bytes, size_t length);

  std::vector<uint8_t> headerData() const;
  std::vector<uint8_t> footerData() const;
  std::string contentTypeHTTPHeaderValue() const;
  std::string contentLengthHTTPHeaderValue() const;

  const std::shared_ptr<OutputStream>& outputStream() const { return mOutputStream; }
  const std::string& boundary() const { return mBoundary; }
  uint64_t length() const { return mLength; }

 private:
  void writeText(const std::string& text);

  std::shared_ptr<OutputStream> mOutputStream;
  std::string mBoundary;
  uint64_t mLength = 0;
};

// The description of a value as a text part shows it; "(null)" for null.
std::string TELDescriptionOfValue(const nlohmann::json& value);

}  // namespace telemetry
