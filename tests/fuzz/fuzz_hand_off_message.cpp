// Whatever reaches the running instance's socket is read into arguments or refused, never
// crashes it, and reads the same however the connection splits the bytes; what a launch sends
// for any command line is always accepted as it was sent.
//
// The first byte picks the case: even, the rest is a stream on the socket, split into chunks
// whose sizes the second byte seeds; odd, the rest is a command line (one argument a line).

#include "platform/services/hand_off_message.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using platform::HandOffMessageReader;

void fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

void readStream(const QByteArray& stream, uint8_t chunkSeed) {
  HandOffMessageReader whole;
  whole.append(stream);

  HandOffMessageReader chunked;
  uint32_t state = chunkSeed * 2654435761u + 1;
  for (qsizetype at = 0; at < stream.size();) {
    state = state * 1103515245u + 12345u;
    const qsizetype n = 1 + (state >> 16) % 17;
    chunked.append(stream.mid(at, n));
    at += n;
  }
  if (stream.isEmpty()) chunked.append({});

  if (whole.state() != chunked.state() || whole.arguments() != chunked.arguments() || whole.error() != chunked.error())
    fail("the outcome depends on how the bytes arrive");
  if (whole.state() == HandOffMessageReader::State::Refused && whole.error().isEmpty()) fail("refused without a reason");
  if (whole.state() != HandOffMessageReader::State::Complete) return;
  for (const QString& argument : whole.arguments())
    if (!platform::handoff::isAcceptableArgument(argument)) fail("an unacceptable argument got through");
  HandOffMessageReader again;
  if (again.append(platform::handoff::encodeMessage(whole.arguments())) != HandOffMessageReader::State::Complete ||
      again.arguments() != whole.arguments())
    fail("accepted arguments do not travel again");
}

void sendCommandLine(const QByteArray& text) {
  const QStringList commandLine = QString::fromUtf8(text).split(QLatin1Char('\n'));
  QStringList sent;
  for (const QString& argument : commandLine)
    if (!argument.contains(QChar(0))) sent.append(argument);  // a command line holds no NUL
  const QStringList normalized = platform::handoff::normalizedArguments(sent, QStringLiteral("/work dir/ünï"));
  QStringList received;
  for (const QStringList& part : platform::handoff::splitIntoMessages(normalized)) {
    HandOffMessageReader reader;
    if (reader.append(platform::handoff::encodeMessage(part)) != HandOffMessageReader::State::Complete) {
      std::fprintf(stderr, "refused: %s\n", qPrintable(reader.error()));
      fail("the instance refuses what a launch sends");
    }
    received += reader.arguments();
  }
  if (received != normalized) fail("the arguments changed on the way");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const QByteArray rest(reinterpret_cast<const char*>(data) + 2, static_cast<qsizetype>(size - 2));
  if (data[0] % 2 == 0) readStream(rest, data[1]);
  else sendCommandLine(rest);
  return 0;
}
