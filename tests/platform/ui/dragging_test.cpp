#include "platform/ui/dragging.h"
#include "platform/ui/pasteboard.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"
#include "drag_test_support.h"
#include "ui_test_env.h"
#include "support/encoded_picture.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPointer>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

using namespace platform;

namespace {

std::vector<std::string>* gLog = nullptr;
void note(const std::string& s) {
  if (gLog) gLog->push_back(s);
}

class Destination : public DraggingDestination {
 public:
  explicit Destination(std::string name) : mName(std::move(name)) {}
  DragOperation answer = DragOperationBits::Every;
  bool perform = true;
  std::vector<std::int64_t> numbers;
  std::vector<QPointF> locations;
  std::vector<bool> hadSource;
  QStringList files;
  QImage imageToSet;

  DragOperation draggingEntered(const DraggingInfo& info) override {
    record("entered", info);
    if (!imageToSet.isNull()) info.setDraggingImage(imageToSet);
    return answer;
  }
  DragOperation draggingUpdated(const DraggingInfo& info) override {
    record("updated", info);
    return answer;
  }
  void draggingExited(const DraggingInfo*) override { note(mName + ":exited"); }
  bool performDragOperation(const DraggingInfo& info) override {
    record("perform", info);
    files = info.draggingPasteboard().localFilePaths();
    return perform;
  }
  void draggingEnded(const DraggingInfo& info) override { record("ended", info); }

 private:
  void record(const std::string& what, const DraggingInfo& info) {
    note(mName + ":" + what);
    numbers.push_back(info.draggingSequenceNumber());
    locations.push_back(info.draggingLocation());
    hadSource.push_back(info.draggingSource() != nullptr);
  }
  std::string mName;
};

// Starts a drag on a press; records what the source hears.
class SourceView : public View, public DraggingSource {
 public:
  using View::View;
  std::shared_ptr<Pasteboard> pasteboard = std::make_shared<Pasteboard>();
  std::vector<DragOperation> ends;
  int drags = 0;
  QImage image{QSize(8, 8), QImage::Format_ARGB32_Premultiplied};
  std::shared_ptr<DraggingSession> session;

  void mouseDown(const Event& e) override { session = beginDraggingSession(pasteboard, e, this, image); }
  void mouseDragged(const Event&) override { ++drags; }
  DragOperation sourceOperationMaskForDraggingContext(DraggingSession&, DraggingContext) override {
    return DragOperationBits::Copy;
  }
  void draggingSessionWillBegin(DraggingSession&, const QPointF&) override { note("source:begin"); }
  void draggingSessionWillHandOver(DraggingSession& s) override {
    note("source:handover");
    s.pasteboard().setDataProvider("text/uri-list", [] {
      note("provider");
      return QByteArray("file:///tmp/x.orrery\r\n");
    });
  }
  void draggingSessionEnded(DraggingSession&, const QPointF&, DragOperation op) override {
    note("source:end");
    ends.push_back(op);
  }
};

struct Fixture {
  std::vector<std::string> log;
  uitest::DragSeams seams;
  Window a{QSizeF(300, 200)};
  Window b{QSizeF(300, 200)};
  Destination da{"A"}, db{"B"};
  std::shared_ptr<SourceView> source = std::make_shared<SourceView>(QRectF(10, 10, 80, 80));
  Fixture() {
    gLog = &log;
    a.contentView()->addSubview(source);
    a.setDraggingDestination(&da, {"application/x-test"});
    b.setDraggingDestination(&db, {"application/x-test", "text/uri-list"});
    uitest::place(a, QPoint(0, 0));
    uitest::place(b, QPoint(400, 0));
    source->pasteboard->setData("application/x-test", "payload");
  }
  ~Fixture() { gLog = nullptr; }
  void press(QPointF p) { a.sendEvent(Event::mouse(EventType::LeftMouseDown, p)); }
  void dragTo(QPointF p) { a.sendEvent(Event::mouse(EventType::LeftMouseDragged, p)); }
  void release(QPointF p) { a.sendEvent(Event::mouse(EventType::LeftMouseUp, p)); }
};

}  // namespace

TEST(Dragging, InOneWindowTheDestinationHearsEveryStepAndTheSourceEndsWithCopy) {
  Fixture f;
  f.press(QPointF(50, 50));
  ASSERT_TRUE(f.source->session);
  EXPECT_EQ(DraggingSession::current(), f.source->session.get());
  f.dragTo(QPointF(60, 50));
  f.dragTo(QPointF(200, 150));
  f.release(QPointF(200, 150));
  EXPECT_EQ(f.log, (std::vector<std::string>{"source:begin", "A:entered", "A:updated", "A:updated", "A:perform",
                                             "A:ended", "source:end"}));
  EXPECT_EQ(f.source->ends, (std::vector<DragOperation>{DragOperationBits::Copy}));
  EXPECT_EQ(f.source->drags, 0) << "the session takes the drags from the view";
  const auto n = f.da.numbers.front();
  EXPECT_GE(n, 1);
  for (auto m : f.da.numbers) EXPECT_EQ(m, n);
  EXPECT_EQ(f.da.locations.back(), QPointF(200, 150));
  EXPECT_TRUE(f.da.hadSource.back());
  EXPECT_EQ(DraggingSession::current(), nullptr);

  // The grab ended: a later drag goes to the view under the pointer, not the old source.
  f.dragTo(QPointF(50, 50));
  EXPECT_EQ(f.source->drags, 1);
  f.dragTo(QPointF(250, 150));
  EXPECT_EQ(f.source->drags, 1);

  // Every session gets the next number.
  f.press(QPointF(50, 50));
  f.release(QPointF(50, 50));
  EXPECT_EQ(f.da.numbers.back(), n + 1);
}

TEST(Dragging, AcrossTwoWindowsTheFirstHearsExitedAndTheSecondTheDrop) {
  Fixture f;
  f.press(QPointF(50, 50));
  f.dragTo(uitest::pointIn(f.a, f.b, QPointF(30, 40)));
  f.dragTo(uitest::pointIn(f.a, f.b, QPointF(40, 40)));
  f.release(uitest::pointIn(f.a, f.b, QPointF(40, 40)));
  EXPECT_EQ(f.log, (std::vector<std::string>{"source:begin", "A:entered", "A:exited", "B:entered", "B:updated",
                                             "B:perform", "B:ended", "source:end"}));
  EXPECT_EQ(f.db.locations.back(), QPointF(40, 40)) << "in the destination window's coordinates";
  EXPECT_EQ(f.db.numbers.front(), f.da.numbers.front()) << "one drag, one number";
  EXPECT_EQ(f.source->ends.back(), DragOperationBits::Copy);
}

TEST(Dragging, RefusalsAndEscapeEndWithNoneAndNoDrop) {
  {
    Fixture f;
    f.da.answer = DragOperationBits::None;
    f.press(QPointF(50, 50));
    f.release(QPointF(60, 50));
    EXPECT_EQ(f.log, (std::vector<std::string>{"source:begin", "A:entered", "A:exited", "source:end"}));
    EXPECT_EQ(f.source->ends.back(), DragOperationBits::None);
  }
  {
    Fixture f;
    f.da.perform = false;
    f.press(QPointF(50, 50));
    f.release(QPointF(60, 50));
    EXPECT_EQ(f.source->ends.back(), DragOperationBits::None) << "the destination answered no";
  }
  {
    Fixture f;
    f.press(QPointF(50, 50));
    f.dragTo(QPointF(60, 50));
    f.a.sendEvent(Event::key(EventType::KeyDown, KeyCode::Escape, QStringLiteral("\x1b")));
    EXPECT_EQ(f.log, (std::vector<std::string>{"source:begin", "A:entered", "A:updated", "A:exited", "source:end"}));
    EXPECT_EQ(DraggingSession::current(), nullptr);
    f.release(QPointF(60, 50));
    EXPECT_EQ(f.source->ends.size(), 1u);
  }
}

TEST(Dragging, ASourceWindowThatGoesEndsItsDrag) {
  std::vector<std::string> log;
  gLog = &log;
  uitest::DragSeams seams;
  auto source = std::make_shared<SourceView>(QRectF(10, 10, 80, 80));
  {
    Window w(QSizeF(300, 200));
    Destination d("W");
    w.setDraggingDestination(&d, {"application/x-test"});
    w.contentView()->addSubview(source);
    uitest::place(w, QPoint(0, 0));
    w.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(50, 50)));
    ASSERT_TRUE(DraggingSession::current());
  }
  EXPECT_EQ(DraggingSession::current(), nullptr) << "a new drag can start";
  EXPECT_EQ(source->ends, (std::vector<DragOperation>{DragOperationBits::None}));
  gLog = nullptr;
}

TEST(Dragging, LeavingOurWindowsHandsTheDragToQtOnceWithItsDataAndLastImage) {
  Fixture f;
  f.seams.readTypes = {"text/uri-list", "application/x-test"};
  QPointer<QDrag> handed;
  f.seams.outside = [&handed](QDrag& drag) {
    handed = &drag;
    return Qt::CopyAction;
  };
  QImage accept(QSize(5, 7), QImage::Format_ARGB32_Premultiplied);
  accept.fill(Qt::red);
  f.da.imageToSet = accept;
  f.press(QPointF(50, 50));
  f.dragTo(QPointF(-500, -500));
  ASSERT_EQ(f.seams.handedOver.size(), 1u);
  const auto& out = f.seams.handedOver.front();
  EXPECT_EQ(out.actions, Qt::DropActions(Qt::CopyAction)) << "other programs are offered copy only";
  EXPECT_TRUE(out.types.contains("text/uri-list"));
  EXPECT_EQ(out.data.at("text/uri-list"), QByteArray("file:///tmp/x.orrery\r\n"));
  EXPECT_EQ(out.data.at("application/x-test"), QByteArray("payload"));
  EXPECT_EQ(out.image.size(), QSize(5, 7)) << "the image current at the handover";
  EXPECT_EQ(f.log, (std::vector<std::string>{"source:begin", "A:entered", "A:exited", "source:handover", "provider",
                                             "source:end"}));
  EXPECT_EQ(f.source->ends.back(), DragOperationBits::Copy);
  EXPECT_EQ(DraggingSession::current(), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(handed) << "a drag Qt never ran is not left behind";
  f.release(QPointF(50, 50));
  EXPECT_EQ(f.seams.handedOver.size(), 1u);
  EXPECT_EQ(f.source->ends.size(), 1u);
}

TEST(Dragging, QtDragsBackOverOurWindowsAndFromOtherProgramsBecomeDestinationCalls) {
  Fixture f;
  // Our handed-over drag comes back over window B and is dropped there.
  f.seams.outside = [&f](QDrag& drag) {
    const QPointF p(20, 30);
    QDragEnterEvent enter(p.toPoint(), Qt::CopyAction, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(f.b.canvas(), &enter);
    QDropEvent drop(p, Qt::CopyAction, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(f.b.canvas(), &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
  };
  f.press(QPointF(50, 50));
  f.dragTo(QPointF(-500, -500));
  EXPECT_EQ(f.db.numbers.back(), f.da.numbers.front()) << "the same drag";
  EXPECT_TRUE(f.db.hadSource.back());
  EXPECT_EQ(f.db.locations.back(), QPointF(20, 30));
  EXPECT_EQ(f.source->ends.back(), DragOperationBits::Copy);

  // A file from another program: no source, a fresh number, the file path readable.
  f.log.clear();
  QTemporaryDir dir;
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(dir.filePath("a.png"))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::LinkAction, &files, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.b.canvas(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction | Qt::LinkAction, &files, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.b.canvas(), &move);
  QDropEvent drop(QPointF(6, 6), Qt::CopyAction | Qt::LinkAction, &files, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.b.canvas(), &drop);
  EXPECT_EQ(f.log, (std::vector<std::string>{"B:entered", "B:updated", "B:perform", "B:ended"}));
  EXPECT_FALSE(f.db.hadSource.back());
  EXPECT_GT(f.db.numbers.back(), f.da.numbers.front());
  EXPECT_EQ(f.db.files, QStringList{dir.filePath("a.png")});
  EXPECT_TRUE(drop.isAccepted());

  // Window A takes no URI lists: a file drag is ignored there and its destination never asked.
  f.log.clear();
  QDragEnterEvent toA(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(f.a.canvas(), &toA);
  EXPECT_FALSE(toA.isAccepted());
  EXPECT_TRUE(f.log.empty());
}

TEST(Pasteboard, ReadsFilesURLsTextAndPicturesAndRefusesMalformedLists) {
  QMimeData data;
  data.setData("text/uri-list", "# comment\r\nfile:///home/u/a%20b.opml\r\nhttps://example.org/x\r\n");
  data.setText("hello");
  Pasteboard reader(&data);
  EXPECT_EQ(reader.localFilePaths(), QStringList{"/home/u/a b.opml"});
  EXPECT_EQ(reader.urls().size(), 2);
  EXPECT_EQ(reader.string(), "hello");

  // Raw bytes as another program hands them over.
  Pasteboard bad;
  bad.setDataProvider("text/uri-list", [] { return QByteArray("file:///ok.png\r\nhttp://exa mple.org/%zz\r\n"); });
  EXPECT_TRUE(bad.localFilePaths().isEmpty()) << "one bad line spoils the list";
  QMimeData noScheme;
  noScheme.setData("text/uri-list", "just words\n");
  EXPECT_TRUE(Pasteboard(&noScheme).urls().isEmpty());

  QImage picture(QSize(3, 2), QImage::Format_ARGB32);
  picture.fill(Qt::blue);
  const QByteArray png = testsupport::encodedPicture(picture, "PNG");
  QMimeData pictures;
  pictures.setData("image/png", png);
  EXPECT_EQ(Pasteboard(&pictures).image().size(), QSize(3, 2));
  QMimeData garbage;
  garbage.setData("image/png", QByteArray("\x89PNG not really", 15));
  EXPECT_TRUE(Pasteboard(&garbage).image().isNull());

  // Own data: a provider is asked once, however often its type is read.
  Pasteboard own;
  int asked = 0;
  own.setDataProvider("text/uri-list", [&asked] {
    ++asked;
    return QByteArray("file:///tmp/a.orrery\r\n");
  });
  own.setURLs({});
  EXPECT_TRUE(own.hasType("text/uri-list"));
  EXPECT_EQ(own.localFilePaths(), QStringList{"/tmp/a.orrery"});
  EXPECT_EQ(own.localFilePaths(), QStringList{"/tmp/a.orrery"});
  EXPECT_EQ(asked, 1);
  std::unique_ptr<QMimeData> handed(own.releaseMimeDataForDrag());
  EXPECT_EQ(own.mimeData(), handed.get()) << "still readable while the drag runs";
  handed.reset();
  EXPECT_EQ(own.mimeData(), nullptr);
}

namespace {

// What Qt's drop data does with another program's picture: it lists the bytes' type and offers
// the picture Qt itself decodes from them.
class ForeignPictureData final : public QMimeData {
 public:
  ForeignPictureData(QString type, QByteArray bytes) : mType(std::move(type)), mBytes(std::move(bytes)) {}
  QStringList formats() const override { return {mType, "application/x-qt-image"}; }
  bool hasFormat(const QString& type) const override { return formats().contains(type); }

 protected:
  QVariant retrieveData(const QString& type, QMetaType) const override {
    if (type == mType) return mBytes;
    if (type == "application/x-qt-image") {
      QImage decoded(QSize(4, 4), QImage::Format_ARGB32);
      decoded.fill(Qt::red);
      return decoded;
    }
    return {};
  }

 private:
  QString mType;
  QByteArray mBytes;
};

}  // namespace

TEST(Pasteboard, AnotherProgramsPictureIsSizedBeforeItIsDecoded) {
  QImage picture(QSize(3, 2), QImage::Format_ARGB32);
  picture.fill(Qt::blue);
  const QByteArray png = testsupport::encodedPicture(picture, "PNG");
  ForeignPictureData small("image/png", png);
  EXPECT_EQ(Pasteboard(&small).image().pixelColor(0, 0), QColor(Qt::blue)) << "the bytes, not Qt's picture";

  QByteArray huge = png;
  huge.replace(16, 8, QByteArray::fromHex("0000800000008000"));  // 32768 × 32768 declared
  ForeignPictureData tooLarge("image/png", huge);
  EXPECT_TRUE(Pasteboard(&tooLarge).image().isNull()) << "Qt's unchecked decoding is not taken instead";
  ForeignPictureData otherFormat("image/gif", "GIF89a");
  EXPECT_TRUE(Pasteboard(&otherFormat).image().isNull()) << "only PNG and JPEG bytes are read";

  // The same type carrying another format's bytes: read by what the bytes are, as long as they
  // are PNG or JPEG.
  ForeignPictureData mislabelled("image/png", testsupport::encodedPicture(picture, "JPEG"));
  EXPECT_EQ(Pasteboard(&mislabelled).image().size(), QSize(3, 2));
  ForeignPictureData bmpAsPng("image/png", testsupport::encodedPicture(picture, "BMP"));
  EXPECT_TRUE(Pasteboard(&bmpAsPng).image().isNull());

  QMimeData ours;
  ours.setImageData(picture);
  EXPECT_EQ(Pasteboard(&ours).image().size(), QSize(3, 2)) << "this process's own picture";
}
