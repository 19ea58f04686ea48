// The document file: a zlib stream of the document's JSON.
//
// Mutating the compressed bytes almost never gives a stream zlib accepts, so the JSON reader
// behind it would stay out of reach: the mutator inflates the input, mutates the JSON and
// compresses it again. One mutation in eight still works on the raw bytes, for the stream
// checks themselves.
#include "fuzz/fuzz_document_check.h"
#include "fuzz/fuzz_qt.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

constexpr size_t kMaxInflated = 1 << 20;

// The stream's text, or nothing when the bytes are no complete zlib stream of at most 1 MiB.
bool inflateSmall(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.resize(kMaxInflated);
  uLongf length = out.size();
  if (uncompress(out.data(), &length, data, size) != Z_OK) return false;
  out.resize(length);
  return true;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  std::minstd_rand random(seed);
  std::vector<uint8_t> json;
  if (random() % 8 == 0 || !inflateSmall(data, size, json)) return LLVMFuzzerMutate(data, size, maxSize);
  // Room to grow: a compressed JSON text is several times smaller than the text.
  const size_t room = std::min(kMaxInflated, std::max(json.size() * 2, maxSize * 4));
  const size_t used = json.size();
  json.resize(room);
  json.resize(LLVMFuzzerMutate(json.data(), used, room));
  uLongf length = compressBound(json.size());
  std::vector<uint8_t> packed(length);
  if (compress2(packed.data(), &length, json.data(), json.size(), Z_BEST_SPEED) != Z_OK || length > maxSize)
    return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, packed.data(), length);
  return length;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto doc = orrery::IdeaDocument::createWithIdentifier(QStringLiteral("temp:/fuzz.orrery"));
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  if (doc->loadFromOrreryData(bytes)) fuzzsupport::checkDocumentRoundTrip(*doc);
  return 0;
}
