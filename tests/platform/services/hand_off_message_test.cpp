#include "platform/services/hand_off_message.h"

#include <gtest/gtest.h>

using platform::HandOffMessageReader;
using namespace platform::handoff;

namespace {

QByteArray withHeader(const QByteArray& body) {
  QByteArray header(4, '\0');
  const quint32 n = static_cast<quint32>(body.size());
  header[0] = static_cast<char>(n >> 24);
  header[1] = static_cast<char>(n >> 16);
  header[2] = static_cast<char>(n >> 8);
  header[3] = static_cast<char>(n);
  return header + body;
}

HandOffMessageReader::State readWhole(const QByteArray& bytes, HandOffMessageReader& reader) {
  return reader.append(bytes);
}

}  // namespace

TEST(HandOffMessage, ArgumentsTravelAbsoluteAndComeBackAsSent) {
  const QStringList normalized = normalizedArguments(
      {"map.orrery", "/abs/../abs/x.opml", "file:///tmp/with%20space.orrery", "db-abc://2/token?code=1", "",
       "./sub/../Ünïcødé 🪐.orrery", "file://LocalHost/tmp/y.orrery", "file:z.orrery", ":colon.orrery",
       ":x/../:y.orrery", "FILE:///tmp/caps.orrery", "file:///tmp/100%25.orrery", "file:///tmp/a%00b.orrery",
       "file://otherhost/tmp/y.orrery"},
      "/home/u");
  // A name that starts with ":" is a file's, not a Qt resource's; a URL that names no file of
  // this computer is left out.
  EXPECT_EQ(normalized,
            (QStringList{"/home/u/map.orrery", "/abs/x.opml", "/tmp/with space.orrery", "db-abc://2/token?code=1",
                         "/home/u/Ünïcødé 🪐.orrery", "/tmp/y.orrery", "/home/u/z.orrery",
                         "/home/u/:colon.orrery", "/home/u/:y.orrery", "/tmp/caps.orrery", "/tmp/100%.orrery"}));
  const QByteArray message = encodeMessage(normalized);
  EXPECT_EQ(message.left(4), withHeader(message.mid(4)).left(4)) << "a big-endian length of the body";

  HandOffMessageReader reader;
  ASSERT_EQ(readWhole(message, reader), HandOffMessageReader::State::Complete);
  EXPECT_EQ(reader.arguments(), normalized);

  // Byte by byte, as a slow connection delivers it, with bytes after the message ignored.
  HandOffMessageReader slow;
  const QByteArray trailing = message + "junk";
  for (qsizetype i = 0; i < trailing.size(); ++i) {
    const auto state = slow.append(trailing.mid(i, 1));
    EXPECT_EQ(state == HandOffMessageReader::State::Complete, i >= message.size() - 1) << i;
  }
  EXPECT_EQ(slow.arguments(), normalized);

  HandOffMessageReader empty;
  EXPECT_EQ(empty.append(encodeMessage({})), HandOffMessageReader::State::Complete);
  EXPECT_TRUE(empty.arguments().isEmpty()) << "no arguments: raise the key window";
}

TEST(HandOffMessage, WhatNoLaunchSendsIsRefusedWithAReason) {
  const QList<QByteArray> refused = {
      withHeader("hello"),
      withHeader("{\"a\":1}"),
      withHeader("[\"/a\", 1]"),
      withHeader("[\"relative.orrery\"]"),
      withHeader("[\":resource.orrery\"]"),
      withHeader(QByteArray("[\"/a\\u0000b\"]")),
      withHeader("[\"/a\""),
      withHeader(""),
      QByteArray("\x7f\xff\xff\xff", 4),
      QByteArray("\xff\xff\xff\xff", 4),
  };
  for (const QByteArray& bytes : refused) {
    HandOffMessageReader reader;
    EXPECT_EQ(reader.append(bytes), HandOffMessageReader::State::Refused) << bytes.toHex().toStdString();
    EXPECT_FALSE(reader.error().isEmpty());
    EXPECT_TRUE(reader.arguments().isEmpty());
    // Nothing more is read from that connection.
    EXPECT_EQ(reader.append(encodeMessage({"/x"})), HandOffMessageReader::State::Refused);
  }
  // A length over the limit is refused from the header alone, before any body is buffered.
  QByteArray header(4, '\0');
  header[1] = 0x10;
  header[3] = 0x01;
  HandOffMessageReader big;
  EXPECT_EQ(big.append(header), HandOffMessageReader::State::Refused);

  // A message cut short waits for the rest.
  HandOffMessageReader cut;
  EXPECT_EQ(cut.append(encodeMessage({"/x"}).chopped(1)), HandOffMessageReader::State::NeedMore);
}

TEST(HandOffMessage, AFileNamedLikeARedirectIsAPath) {
  EXPECT_EQ(normalizedArguments({"db-notes.orrery", "db-abc://1/connect?x", "DB-abc://x"}, "/w"),
            (QStringList{"/w/db-notes.orrery", "db-abc://1/connect?x", "/w/DB-abc:/x"}));
  EXPECT_TRUE(isRedirectURL("db-k3y://2/token"));
  EXPECT_FALSE(isRedirectURL("db-notes.orrery"));
  EXPECT_FALSE(isRedirectURL("/home/u/db-x://y"));
}

TEST(HandOffMessage, ManyArgumentsTravelInSeveralMessagesWithinTheLimit) {
  QStringList many;
  const QString longName = QString(200, QChar(u'é'));
  for (int i = 0; i < 5000; ++i) many.append(QStringLiteral("/files/%1-%2.orrery").arg(longName).arg(i));
  const QString hopeless = "/" + QString(kMaxMessageBytes, QChar(u'x'));
  many.insert(17, hopeless);

  QStringList dropped;
  const QList<QStringList> split = splitIntoMessages(many, &dropped);
  EXPECT_EQ(dropped, QStringList{hopeless});
  EXPECT_GT(split.size(), 1);
  QStringList received;
  for (const QStringList& part : split) {
    const QByteArray message = encodeMessage(part);
    EXPECT_LE(message.size() - 4, kMaxMessageBytes);
    HandOffMessageReader reader;
    ASSERT_EQ(reader.append(message), HandOffMessageReader::State::Complete) << reader.error().toStdString();
    received += reader.arguments();
  }
  many.removeAt(17);
  EXPECT_EQ(received, many) << "all of them, in order";

  EXPECT_EQ(splitIntoMessages({}), QList<QStringList>{QStringList()}) << "no arguments still reach the instance";
}
