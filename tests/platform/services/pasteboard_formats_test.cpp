#include "platform/services/pasteboard_formats.h"

#include "encoded_picture.h"

#include <QImage>

#include <gtest/gtest.h>

using namespace platform::pasteboardformats;

namespace {

QByteArray bigEndian16(int value) {
  QByteArray bytes(2, '\0');
  bytes[0] = char(value >> 8);
  bytes[1] = char(value & 0xff);
  return bytes;
}

}  // namespace

TEST(PasteboardFormats, ListsReadTheSameWithEitherLineEndAndRefuseAnyBadLine) {
  const QByteArray crlf = "# from a file manager\r\nfile:///home/u/a%20b.orrery\r\n\r\n  https://example.org/x?y#z \r\n";
  QByteArray lf = crlf;
  lf.replace("\r\n", "\n");
  const QList<QUrl> urls = readURIList(crlf);
  ASSERT_EQ(urls.size(), 2);
  EXPECT_EQ(readURIList(lf), urls);
  EXPECT_EQ(urls[1], QUrl("https://example.org/x?y#z"));
  EXPECT_EQ(localFilePaths(urls), QStringList{"/home/u/a b.orrery"});
  EXPECT_EQ(readURIList(writeURIList(urls)), urls);
  EXPECT_EQ(writeURIList(urls), "file:///home/u/a%20b.orrery\r\nhttps://example.org/x?y#z\r\n");

  for (const QByteArray bad : {"file:///ok.orrery\r\nhttp://exa mple.org/\r\n", "file:///ok.orrery\nmap.orrery\n",
                               "file:///ok.orrery\n%zz:x\n", "file:///a\rfile:///b\n"})
    EXPECT_TRUE(readURIList(bad).isEmpty()) << bad.constData();
  EXPECT_TRUE(readURIList("# only a comment\r\n\r\n").isEmpty());
}

TEST(PasteboardFormats, LocalFilesAreAbsolutePathsOnThisMachine) {
  const QList<QUrl> urls = readURIList(
      "file://localhost/home/u/here.orrery\r\n"
      "file://LOCALHOST/home/u/also%20here.orrery\r\n"
      "file://server/share/elsewhere.orrery\r\n"
      "file:relative.orrery\r\n"
      "file:///etc/passwd%00.orrery\r\n"
      "file:\r\n"
      "https://example.org/not-a-file.orrery\r\n"
      "file:////double/slash.orrery\r\n");
  ASSERT_EQ(urls.size(), 8) << "each line is a URL, so the list is read";
  EXPECT_EQ(localFilePaths(urls), (QStringList{"/home/u/here.orrery", "/home/u/also here.orrery", "//double/slash.orrery"}))
      << "localhost is this machine; another host, a relative name, a NUL or no path name no local file";
}

TEST(PasteboardFormats, PictureHeadersGiveTheSizeTheDecoderMeets) {
  QImage picture(QSize(7, 3), QImage::Format_RGB32);
  picture.fill(Qt::darkGreen);
  for (const char* format : {"png", "jpeg"}) {
    const QByteArray bytes = testsupport::encodedPicture(picture, format);
    ASSERT_FALSE(bytes.isEmpty()) << format;
    const PictureHeader header = readPictureHeader(bytes);
    EXPECT_STREQ(header.format, format);
    EXPECT_EQ(header.size, QSize(7, 3)) << format;
    EXPECT_TRUE(isDecodable(header));
    EXPECT_FALSE(isDecodable(readPictureHeader(bytes.left(bytes.indexOf("IHDR") + 8)))) << "cut inside the header";
  }

  // Too many pixels to decode, though each side fits.
  QByteArray huge = testsupport::encodedPicture(picture, "png");
  huge.replace(16, 8, QByteArray::fromHex("0000400000004001"));
  EXPECT_EQ(readPictureHeader(huge).size, QSize(0x4000, 0x4001));
  EXPECT_FALSE(isDecodable(readPictureHeader(huge)));
  huge.replace(16, 8, QByteArray::fromHex("8000000000000001"));
  EXPECT_FALSE(readPictureHeader(huge).size.isValid()) << "a side past 2^31 - 1";

  // A JPEG: fill bytes and a standalone marker before the frame header; a frame whose height
  // comes later; a scan with no frame at all.
  const QByteArray start = QByteArray::fromHex("ffd8") + "\xff\xfe" + bigEndian16(5) + "abc" + "\xff\xff\xd0";
  const QByteArray frame = QByteArray::fromHex("ffc1") + bigEndian16(11) + "\x08" + bigEndian16(900) +
                           bigEndian16(1600) + QByteArray::fromHex("01011100");
  EXPECT_EQ(readPictureHeader(start + frame).size, QSize(1600, 900));
  QByteArray laterHeight = start + frame;
  laterHeight.replace(start.size() + 5, 2, bigEndian16(0));
  EXPECT_FALSE(readPictureHeader(laterHeight).size.isValid());
  EXPECT_FALSE(readPictureHeader(start + QByteArray::fromHex("ffda0002") + frame).size.isValid());
  EXPECT_EQ(readPictureHeader("GIF89a....").format, nullptr) << "only PNG and JPEG are read";
}
