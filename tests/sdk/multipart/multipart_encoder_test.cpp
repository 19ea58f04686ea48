#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/standard_paths.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"
#include "support/required_tool.h"

using namespace telemetry;
using nlohmann::json;

namespace {

// Parses a body with Python's email package, an implementation of MIME of its own, and
// reports every part as JSON.
json parseWithPython(const std::string& bodyPath, const std::string& boundary) {
  const std::string script = paths::join(paths::temporaryDirectory(), "parse_multipart.py");
  std::ofstream(script) << R"(import email, email.policy, json, sys
body = open(sys.argv[1], 'rb').read()
head = b'Content-Type: multipart/form-data; boundary=' + sys.argv[2].encode() + b'\r\n\r\n'
msg = email.message_from_bytes(head + body, policy=email.policy.HTTP)
parts = []
for part in msg.iter_parts():
    parts.append({
        'name': part.get_param('name', header='content-disposition'),
        'filename': part.get_filename(),
        'type': part.get_content_type(),
        'encoding': part.get('Content-Transfer-Encoding'),
        'hex': part.get_payload(decode=True).hex(),
    })
print(json.dumps({'multipart': msg.is_multipart(), 'defects': len(msg.defects), 'parts': parts}))
)";
  std::string out;
  if (!testsupport::requireTool("python3", "python3")) return json();
  if (FILE* p = popen(("python3 '" + script + "' '" + bodyPath + "' '" + boundary + "'").c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return json::parse(out, nullptr, false);
}

std::string hexOf(const std::string& s) {
  static const char* h = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) out += {h[c >> 4], h[c & 15]};
  return out;
}

// Takes `budget` bytes in all, then only part of what it is offered.
class ShortStream : public OutputStream {
 public:
  explicit ShortStream(size_t budget) : mBudget(budget) {}
  bool open() override { return true; }
  ssize_t write(const uint8_t* bytes, size_t length) override {
    size_t n = std::min(length, mBudget);
    mBudget -= n;
    data.append(reinterpret_cast<const char*>(bytes), n);
    return static_cast<ssize_t>(n);
  }
  void close() override {}
  std::string data;

 private:
  size_t mBudget;
};

struct LogCapture {
  std::vector<std::string> lines;
  ConsoleSink previous = setConsoleSink([this](const std::string& l) { lines.push_back(l); });
  ~LogCapture() { setConsoleSink(previous); }
};

}  // namespace

TEST(MultipartEncoder, EmptyBodyIsPreambleAndClosingLine) {
  auto memory = std::make_shared<MemoryOutputStream>();
  TELMultipartMimeStreamEncoder encoder(memory, std::string("B0UND"));
  encoder.encode([] {});
  const std::string body(memory->data().begin(), memory->data().end());
  EXPECT_EQ(body, "MIME-Version: 1.0\r\n--B0UND--\r\n");
  EXPECT_EQ(encoder.length(), body.size());
  EXPECT_EQ(encoder.contentLengthHTTPHeaderValue(), std::to_string(body.size()));
  EXPECT_EQ(encoder.contentTypeHTTPHeaderValue(), "multipart/form-data; boundary=B0UND");
}

TEST(MultipartEncoder, PartsHaveTheirFixedByteLayout) {
  auto memory = std::make_shared<MemoryOutputStream>();
  TELMultipartMimeStreamEncoder encoder(memory, std::string("XYZ"));
  encoder.encode([&] {
    encoder.addValue(42, "n");
    encoder.addFileData({'a', 'b'}, "f.bin", std::nullopt, "raw");
    encoder.addFileData({'c'}, "icon.png", std::string("image/png"), "app[icon][data]");
  });
  EXPECT_EQ(std::string(memory->data().begin(), memory->data().end()),
            "MIME-Version: 1.0\r\n"
            "--XYZ\r\nContent-Disposition: form-data; name=\"n\"\r\nContent-Type: text/plain\r\n\r\n42\r\n"
            "--XYZ\r\nContent-Disposition: form-data; name=\"raw\"; filename=\"f.bin\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\nab\r\n"
            "--XYZ\r\nContent-Disposition: form-data; name=\"app[icon][data]\"; filename=\"icon.png\"\r\n"
            "Content-Type: image/png\r\nContent-Transfer-Encoding: binary\r\n\r\nc\r\n"
            "--XYZ--\r\n");
}

TEST(MultipartEncoder, FileBodyParsesBackWithAnIndependentMIMEParser) {
  std::string binary;
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  binary += "\r\n--not-the-boundary\r\n\n\r";
  const std::string attachment = paths::join(paths::temporaryDirectory(), "attachment.gz");
  std::ofstream(attachment, std::ios::binary) << binary;
  const std::string bodyPath = paths::join(paths::temporaryDirectory(), "body.multipartmime");

  auto file = std::make_shared<FileOutputStream>(bodyPath);
  auto encoder = TELMultipartMimeStreamEncoder::encoderWithStream(file);
  encoder->encode([&] {
    encoder->addValue("org.orrery.Orrery", "app[identifier]");
    encoder->addValue(3, "app[source]");
    encoder->addValue(1.5, "ratio");
    encoder->addValue("Größe – line one\r\nline two", "app[name]");
    encoder->addFile(attachment, "events.gz", std::string("application/gzip"), "file");
    encoder->addFileData(std::vector<uint8_t>(binary.begin(), binary.end()), "raw.bin", std::nullopt, "raw");
  });
  auto bytes = fileio::readFile(bodyPath);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(encoder->length(), bytes->size());

  json parsed = parseWithPython(bodyPath, encoder->boundary());
  ASSERT_TRUE(parsed.is_object()) << "python3 could not parse the body";
  EXPECT_TRUE(parsed["multipart"].get<bool>());
  EXPECT_EQ(parsed["defects"], 0);
  const json& parts = parsed["parts"];
  ASSERT_EQ(parts.size(), 6u);
  EXPECT_EQ(parts[0]["name"], "app[identifier]");
  EXPECT_EQ(parts[0]["type"], "text/plain");
  EXPECT_EQ(parts[0]["hex"], hexOf("org.orrery.Orrery"));
  EXPECT_EQ(parts[1]["hex"], hexOf("3"));
  EXPECT_EQ(parts[2]["hex"], hexOf("1.5"));
  EXPECT_EQ(parts[3]["hex"], hexOf("Größe – line one\r\nline two"));
  EXPECT_EQ(parts[4]["name"], "file");
  EXPECT_EQ(parts[4]["filename"], "events.gz");
  EXPECT_EQ(parts[4]["type"], "application/gzip");
  EXPECT_EQ(parts[4]["encoding"], "binary");
  EXPECT_EQ(parts[4]["hex"], hexOf(binary));
  EXPECT_EQ(parts[5]["type"], "application/octet-stream");
  EXPECT_TRUE(parts[5]["encoding"].is_null());
  EXPECT_EQ(parts[5]["hex"], hexOf(binary));
}

TEST(MultipartEncoder, InvalidPartsAreLoggedAndLeftOut) {
  LogCapture log;
  auto memory = std::make_shared<MemoryOutputStream>();
  TELMultipartMimeStreamEncoder encoder(memory, std::string("B"));
  // Sparse: it takes no disk.
  const std::string huge = paths::join(paths::temporaryDirectory(), "huge.gz");
  std::ofstream(huge).close();
  ASSERT_EQ(::truncate(huge.c_str(), off_t(TELMultipartMimeStreamEncoder::kMaxFileBytes) + 1), 0);
  encoder.encode([&] {
    encoder.addValue(nullptr, "missing");
    encoder.addValue("v", "");
    encoder.addValue("v", "evil\"\r\nX-Injected: 1");
    encoder.addFileData({}, "empty.bin", std::nullopt, "empty");
    encoder.addFileData({1}, "", std::nullopt, "nameless");
    encoder.addFileData({1}, "a\r\nb", std::nullopt, "crlf");
    encoder.addFile("/nonexistent/file", "x", std::nullopt, "unreadable");
    encoder.addFile(huge, "h", std::nullopt, "huge");
  });
  EXPECT_EQ(std::string(memory->data().begin(), memory->data().end()), "MIME-Version: 1.0\r\n--B--\r\n");
  EXPECT_EQ(log.lines, (std::vector<std::string>{
                           "[Telemetry] name (missing) or value ((null)) is invalid",
                           "[Telemetry] name ((null)) or value (v) is invalid",
                           "[Telemetry] name (evil\"\r\nX-Injected: 1) or value (v) is invalid",
                           "[Telemetry] Unable to MIME encode data with zero length (empty)",
                           "[Telemetry] name (nameless) or fieldname () is invalid",
                           "[Telemetry] name (crlf) or fieldname (a\r\nb) is invalid",
                           "[Telemetry] Unable to MIME encode data with zero length (unreadable)",
                           "[Telemetry] Not reading " + huge + ": too large (268435457 bytes)",
                           "[Telemetry] Unable to MIME encode data with zero length (huge)",
                       }));
}

TEST(MultipartEncoder, ShortWritesAreLoggedAndNotCounted) {
  LogCapture log;
  auto stream = std::make_shared<ShortStream>(25);
  TELMultipartMimeStreamEncoder encoder(stream, std::string("B"));
  encoder.beginEncoding();
  EXPECT_EQ(encoder.length(), 19u);  // the preamble went through whole
  encoder.addValue("value", "field");
  EXPECT_EQ(encoder.length(), 19u);  // the part's first write was cut short
  EXPECT_EQ(stream->data.size(), 25u);
  const uint64_t before = encoder.length();
  EXPECT_FALSE(encoder.writeBytes("xyz", 3));
  EXPECT_EQ(encoder.length(), before);
  EXPECT_FALSE(encoder.writeBytes(nullptr, 3));
  EXPECT_TRUE(encoder.writeBytes("", 0));
  ASSERT_GE(log.lines.size(), 2u);
  EXPECT_EQ(log.lines.front(), "[Telemetry] Failed to write data to stream");
  EXPECT_EQ(log.lines[log.lines.size() - 2], "[Telemetry] Failed to write bytes to stream");
}

TEST(MultipartEncoder, BoundariesAreFreshAndRequestsArePopulated) {
  TELMultipartMimeStreamEncoder a(std::make_shared<MemoryOutputStream>());
  TELMultipartMimeStreamEncoder b(std::make_shared<MemoryOutputStream>(), std::nullopt);
  EXPECT_NE(a.boundary(), b.boundary());
  EXPECT_EQ(a.boundary().size(), 36u);
  EXPECT_EQ(a.boundary().find_first_not_of("0123456789ABCDEF-"), std::string::npos);

  URLRequest request("https://example.test/apps");
  std::string boundary;
  TELMultipartMimeStreamEncoder::populateRequest(request, [&](TELMultipartMimeStreamEncoder& e) {
    boundary = e.boundary();
    e.addValue("x", "app[identifier]");
  });
  const auto& body = request.HTTPBody();
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"), "multipart/form-data; boundary=" + boundary);
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(std::string(body.begin(), body.end()),
            "MIME-Version: 1.0\r\n--" + boundary +
                "\r\nContent-Disposition: form-data; name=\"app[identifier]\"\r\nContent-Type: text/plain\r\n\r\nx\r\n--" +
                boundary + "--\r\n");
}
