#include "sdk/net/tel_multipart_mime_stream_encoder.h"

#include <cmath>

#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/json_text.h"
#include "sdk/identity/encoding.h"

namespace telemetry {

namespace {

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Header text that cannot end its quoted string or its line early.
bool isSafeHeaderText(const std::string& s) { return s.find_first_of("\"\r\n") == std::string::npos; }

}  // namespace

std::string TELDescriptionOfValue(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::null:
      return "(null)";
    case nlohmann::json::value_t::string:
      return value.get<std::string>();
    case nlohmann::json::value_t::boolean:
      return value.get<bool>() ? "1" : "0";  // how a boolean number describes itself
    case nlohmann::json::value_t::number_float: {
      double d = value.get<double>();
      if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15) return std::to_string(static_cast<int64_t>(d));
      return jsonText(value);
    }
    default:
      return jsonText(value);
  }
}

std::shared_ptr<TELMultipartMimeStreamEncoder> TELMultipartMimeStreamEncoder::encoderWithStream(
    std::shared_ptr<OutputStream> stream, std::optional<std::string> boundary) {
  return std::make_shared<TELMultipartMimeStreamEncoder>(std::move(stream), std::move(boundary));
}

TELMultipartMimeStreamEncoder::TELMultipartMimeStreamEncoder(std::shared_ptr<OutputStream> stream,
                                                             std::optional<std::string> boundary)
    : mOutputStream(std::move(stream)), mBoundary(boundary ? std::move(*boundary) : generateBoundary()) {}

std::string TELMultipartMimeStreamEncoder::generateBoundary() { return TELGenerateUUIDString(); }

std::string TELMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(const std::string& boundary) {
  return "multipart/form-data; boundary=" + boundary;
}

void TELMultipartMimeStreamEncoder::populateRequest(URLRequest& request,
                                                    const std::function<void(TELMultipartMimeStreamEncoder&)>& block) {
  auto memory = std::make_shared<MemoryOutputStream>();
  TELMultipartMimeStreamEncoder encoder(memory, generateBoundary());
  encoder.encode([&] {
    if (block) block(encoder);
  });
  request.setValue(encoder.contentTypeHTTPHeaderValue(), "Content-Type");
  request.setValue(encoder.contentLengthHTTPHeaderValue(), "Content-Length");
  request.setHTTPBody(memory->data());
}

void TELMultipartMimeStreamEncoder::encode(const std::function<void()>& block) {
  beginEncoding();
  if (block) block();
  endEncoding();
}

void TELMultipartMimeStreamEncoder::beginEncoding() {
  mLength = 0;
  if (mOutputStream) mOutputStream->open();
  writeData(headerData());
}

void TELMultipartMimeStreamEncoder::endEncoding() {
  writeData(footerData());
  if (mOutputStream) mOutputStream->close();
}

std::vector<uint8_t> TELMultipartMimeStreamEncoder::headerData() const { return bytesOf("MIME-Version: 1.0\r\n"); }

std::vector<uint8_t> TELMultipartMimeStreamEncoder::footerData() const { return bytesOf("--" + mBoundary + "--\r\n"); }

std::string TELMultipartMimeStreamEncoder::contentTypeHTTPHeaderValue() const {
  return contentTypeHTTPHeaderValueWithBoundary(mBoundary);
}

std::string TELMultipartMimeStreamEncoder::contentLengthHTTPHeaderValue() const { return std::to_string(mLength); }

void TELMultipartMimeStreamEncoder::addValue(const nlohmann::json& value, const std::string& fieldName) {
  if (value.is_null() || fieldName.empty() || !isSafeHeaderText(fieldName)) {
    consoleLog("[Telemetry] name (" + (fieldName.empty() ? std::string("(null)") : fieldName) + ") or value (" +
               TELDescriptionOfValue(value) + ") is invalid");
    return;
  }
  writeText("--" + mBoundary + "\r\nContent-Disposition: form-data; name=\"" + fieldName + "\"\r\n");
  writeText("Content-Type: text/plain\r\n\r\n");
  writeText(TELDescriptionOfValue(value) + "\r\n");
}

void TELMultipartMimeStreamEncoder::addFileData(const std::vector<uint8_t>& data, const std::string& fileName,
                                                const std::optional<std::string>& mimeType,
                                                const std::string& fieldName) {
  if (data.empty()) {
    consoleLog("[Telemetry] Unable to MIME encode data with zero length (" + fieldName + ")");
    return;
  }
  if (fieldName.empty() || fileName.empty() || !isSafeHeaderText(fieldName) || !isSafeHeaderText(fileName) ||
      (mimeType && mimeType->find_first_of("\r\n") != std::string::npos)) {
    consoleLog("[Telemetry] name (" + fieldName + ") or fieldname (" + fileName + ") is invalid");
    return;
  }
  writeText("--" + mBoundary + "\r\nContent-Disposition: form-data; name=\"" + fieldName + "\"; filename=\"" +
            fileName + "\"\r\n");
  if (mimeType)
    writeText("Content-Type: " + *mimeType + "\r\nContent-Transfer-Encoding: binary\r\n\r\n");
  else
    writeText("Content-Type: application/octet-stream\r\n\r\n");
  writeData(data);
  writeText("\r\n");
}

void TELMultipartMimeStreamEncoder::addFile(const std::string& path, const std::string& fileName,
                                            const std::optional<std::string>& mimeType, const std::string& fieldName) {
  auto bytes = fileio::readFile(path, kMaxFileBytes);
  addFileData(bytes ? *bytes : std::vector<uint8_t>(), fileName, mimeType, fieldName);
}

void TELMultipartMimeStreamEncoder::writeText(const std::string& text) { writeData(bytesOf(text)); }

void TELMultipartMimeStreamEncoder::writeData(const std::vector<uint8_t>& data) {
  TELEnumerateDataByteRanges(data, [&](const uint8_t* bytes, TELByteRange range, bool* stop) {
    if (range.length == 0) return;
    const ssize_t written = mOutputStream ? mOutputStream->write(bytes, range.length) : -1;
    if (written < 0 || static_cast<size_t>(written) != range.length) {
      consoleLog("[Telemetry] Failed to write data to stream");
      *stop = true;
      return;
    }
    mLength += range.length;
  });
}

bool TELMultipartMimeStreamEncoder::writeBytes(const void* bytes, size_t length) {
  const ssize_t written = mOutputStream && (bytes || length == 0)
                              ? mOutputStream->write(static_cast<const uint8_t*>(bytes), length)
                              : -1;
  if (written < 0 || static_cast<size_t>(written) != length) {
    consoleLog("[Telemetry] Failed to write bytes to stream");
    return false;
  }
  mLength += length;
  return true;
}

}  // namespace telemetry
