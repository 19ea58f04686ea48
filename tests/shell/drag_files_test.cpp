#include "shell/drag_overlay_view.h"
#include "shell/my_window.h"
#include "shell/promised_file.h"

#include "document_test_support.h"
#include "drag_test_fixtures.h"
#include "drag_test_support.h"
#include "foundation/application_delegate.h"
#include "foundation/data_extensions.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/document_limits.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "model/opml_parser.h"
#include "platform/services/resources.h"
#include "platform/services/standard_folders.h"
#include "support/fake_pointer.h"
#include "support/window_manager_child.h"
#include "ui_test_env.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <QtEndian>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace orrery;
using namespace dragtest;
using platform::Event;
using platform::EventType;

namespace {

struct OneWindow {
  QuietApp app;
  ApplicationDelegate* previousApp = Globals::app();
  uitest::DragSeams seams;
  QTemporaryDir files;
  std::shared_ptr<DragSupportWindow> w = std::make_shared<DragSupportWindow>(QSizeF(600, 400));
  std::shared_ptr<Screen> screen = std::make_shared<Screen>();
  IdeaPtr parked = Idea::createWithText(QStringLiteral("parked before"));
  OneWindow() {
    Globals::setApp(&app);
    w->switchToViewController(screen, nullptr);
    uitest::place(*w, QPoint(0, 0));
    w->setDockedIdea(parked, QString());
  }
  ~OneWindow() {
    uitest::advance(1.5);
    Globals::setApp(previousApp);
  }
  QString write(const QString& name, const QByteArray& bytes) {
    QFile f(files.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return f.fileName();
  }
  // A map file of `root`; its document identifier, empty when it could not be written.
  QString map(const IdeaPtr& root) {
    const QString path = files.filePath("map.orrery");
    auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
    doc->setIdea(root);
    return testsupport::writeAll(path, doc->snapshot().encode(/*compressed=*/true)) ? doc->docIdentifier() : QString();
  }
  // Another program's drag of `urls` entering, moving and dropping; answers whether the drop
  // was taken.
  bool enter(QMimeData& data, Qt::DropActions actions = Qt::CopyAction) {
    QDragEnterEvent e(QPoint(300, 200), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->canvas(), &e);
    return e.isAccepted();
  }
  // What the other program hears while it hovers: Qt follows every entry with a move.
  bool move(QMimeData& data, Qt::DropActions actions = Qt::CopyAction) {
    QDragMoveEvent e(QPoint(305, 205), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->canvas(), &e);
    return e.isAccepted();
  }
  void leave() {
    QDragLeaveEvent e;
    QCoreApplication::sendEvent(w->canvas(), &e);
  }
  bool drop(QMimeData& data, Qt::DropActions actions = Qt::CopyAction) {
    QDropEvent e(QPointF(310, 210), actions, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->canvas(), &e);
    return e.isAccepted();
  }
};

std::unique_ptr<QMimeData> urls(const QStringList& paths) {
  auto data = std::make_unique<QMimeData>();
  QList<QUrl> list;
  for (const QString& p : paths) list << QUrl::fromLocalFile(p);
  data->setUrls(list);
  return data;
}

QByteArray pngBytes(QSize size, QColor colour) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG");
  return bytes;
}

// Another program that takes file drops, as a file manager does: it reads the drop's URI list
// in its drop handler, after the drop, and prints it. It moves the pointer itself: a press on
// the planet at `from`, out of the source's window onto this one, and the release, each step
// once the source has its answer to the drag's last move.
constexpr char kDropTakerVariable[] = "ORRERY_DROP_TAKER_FROM";

class DropTaker : public QWidget {
 public:
  explicit DropTaker(QPoint from) : mFrom(from) {
    setAcceptDrops(true);
    setGeometry(900, 300, 300, 300);
  }
  bool dropped = false;
  void start() {
    mPointer.moveTo(mFrom);
    mPointer.press();
    mPointer.moveTo(mFrom + QPoint(8, 8));
    mPointer.moveTo(geometry().center());
  }

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override { e->acceptProposedAction(); }
  void dragMoveEvent(QDragMoveEvent* e) override {
    e->acceptProposedAction();
    // Queued: the answer to this move goes out first.
    QMetaObject::invokeMethod(this, [this, n = ++mMoves] {
      if (n == 1) mPointer.moveTo(geometry().center() + QPoint(10, 10));
      if (n == 2) mPointer.release();
    }, Qt::QueuedConnection);
  }
  void dropEvent(QDropEvent* e) override {
    std::printf("DROPPED %s\n", e->mimeData()->data("text/uri-list").trimmed().constData());
    std::fflush(stdout);
    e->acceptProposedAction();
    dropped = true;
  }

 private:
  QPoint mFrom;
  testsupport::FakePointer mPointer;
  int mMoves = 0;
};

void takeOneDrop() {
  const QStringList from = qEnvironmentVariable(kDropTakerVariable).split(',');
  DropTaker taker(QPoint(from.value(0).toInt(), from.value(1).toInt()));
  taker.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&taker));
  taker.start();
  EXPECT_TRUE(QTest::qWaitFor([&] { return taker.dropped; }, 30000));
}

// Starts its drag while a save of `busy` runs on the persistence queue, ahead of the write of
// the dragged file.
class BusySource : public SourceView {
 public:
  BusySource(DragSupportWindow& window, QRectF frame, std::chrono::milliseconds busy)
      : SourceView(window, frame), mBusy(busy) {}
  void mouseDown(const Event& event) override {
    if (mBusy.count() > 0)
      PersistenceController::singleton().workQueue().async([busy = mBusy] { std::this_thread::sleep_for(busy); });
    SourceView::mouseDown(event);
  }

 private:
  std::chrono::milliseconds mBusy;
};

}  // namespace

TEST(DragFilesIn, APictureFileWaitsInTheDockAfterItDecodesWithTheOverlayShownMeanwhile) {
  OneWindow o;
  const QString path = o.write("PHOTO.JPEG", pngBytes(QSize(30, 20), Qt::red));
  auto data = urls({path});
  ASSERT_TRUE(o.enter(*data));
  ASSERT_TRUE(o.w->overlay());
  EXPECT_TRUE(o.w->overlay()->accepts());
  EXPECT_EQ(o.w->overlay()->label()->text(), "Drop files here");
  EXPECT_EQ(o.screen->lastSource, kDragSourceOutside);
  // What the user sees: the arrow of "drop_here" in the middle of the blurred window.
  o.w->displayIfNeeded();
  const QPointF middle = o.w->containerView()->bounds().center();
  const QImage shown = o.w->snapshot();
  const QColor arrow = shown.pixelColor((middle + QPointF(0, -14)).toPoint());
  EXPECT_LT(arrow.red(), 120);
  EXPECT_GT(arrow.blue(), 180);
  const QRectF picture = o.w->overlay()->imageView()->frame();
  EXPECT_EQ(picture.center(), middle);
  EXPECT_EQ(picture.size(), QSizeF(QImage(platform::pathForResource("drop_here", "png")).size())) << "in points";
  EXPECT_DOUBLE_EQ(o.w->overlay()->label()->frame().top(), picture.bottom() + 28);
  o.w->setContentSize(QSizeF(800, 600));
  o.w->displayIfNeeded();
  EXPECT_EQ(o.w->overlay()->imageView()->frame().center(), QPointF(400, 300)) << "centred after a resize";

  EXPECT_TRUE(o.drop(*data));
  // A second file while the first is read is refused.
  auto other = urls({o.write("b.png", pngBytes(QSize(4, 4), Qt::blue))});
  EXPECT_FALSE(o.enter(*other));
  ASSERT_TRUE(runUntil([&] { return o.screen->ends() == 1; }));
  ASSERT_TRUE(o.w->currentDockedIdea());
  EXPECT_EQ(o.w->currentDockedIdea()->ideaType(), IdeaTypeImage);
  EXPECT_TRUE(o.w->currentDockedDocIdentifier().isEmpty());
  EXPECT_EQ(o.screen->endedWith, (std::vector<DragResult>{kDragResultKept}));
  EXPECT_FALSE(o.w->overlay());
  uitest::advance(0.25);
  EXPECT_EQ(notices(*o.w), (std::vector<QString>{"Copied to clipboard"}));
}

TEST(DragFilesIn, DocumentsAndOutlinesArriveAsTheirTrees) {
  OneWindow o;
  const QString outline = o.write("Plan.OPML",
                                  "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body>"
                                  "<outline text=\"Plan\"><outline text=\"A\"/><outline text=\"B\"/></outline>"
                                  "</body></opml>");
  auto data = urls({outline});
  ASSERT_TRUE(o.enter(*data));
  ASSERT_TRUE(o.drop(*data));
  ASSERT_TRUE(runUntil([&] { return o.screen->ends() == 1; }));
  ASSERT_TRUE(o.w->currentDockedIdea());
  QFile file(outline);
  file.open(QIODevice::ReadOnly);
  const IdeaPtr expected = OPMLParser().parseIdeaFromOPMLData(file.readAll());
  ASSERT_TRUE(expected);
  EXPECT_EQ(o.w->currentDockedIdea()->calculateWholeTreeSize(), expected->calculateWholeTreeSize());
}

TEST(DragFilesIn, WhatCannotBeReadIsRefusedOrReportedAndTheDockKeepsItsIdea) {
  OneWindow o;
  struct Case {
    QStringList paths;
    Qt::DropActions actions;
    bool overlayAccepts;
    bool dropTaken;
    const char* notice;
  };
  const QString broken = o.write("broken.png", QByteArray("\x89PNG\r\n\x1a\n garbage", 18));
  const QString gone = o.files.filePath("gone.orrery");
  const QString fifo = o.files.filePath("x.opml");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  // 2 GB on disk (sparse), a PNG header promising 60 000 × 60 000 pixels.
  const QString huge = o.write("huge.png", [] {
    QImage small(QSize(1, 1), QImage::Format_ARGB32);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "PNG");
    const quint32 side = qToBigEndian<quint32>(60000);
    bytes.replace(16, 4, reinterpret_cast<const char*>(&side), 4);
    bytes.replace(20, 4, reinterpret_cast<const char*>(&side), 4);
    return bytes;
  }());
  ASSERT_TRUE(QFile::resize(huge, qint64(2) << 30));
  QStringList many;
  for (int i = 0; i < 10000; ++i) many << o.files.filePath(QStringLiteral("f%1.png").arg(i));
  const std::vector<Case> cases = {
      {{o.write("notes.txt", "hi")}, Qt::CopyAction, false, false, "File type not supported"},
      {{broken, o.write("two.png", "x")}, Qt::CopyAction, false, false, "File type not supported"},
      {many, Qt::CopyAction, false, false, "File type not supported"},
      {{}, Qt::CopyAction, false, false, "File type not supported"},  // plain text
      {{o.write("linked.png", pngBytes(QSize(2, 2), Qt::red))}, Qt::LinkAction, true, true, nullptr},
      {{broken}, Qt::CopyAction, true, true, "Error importing contents"},
      {{huge}, Qt::CopyAction, true, true, "Error importing contents"},
      {{gone}, Qt::CopyAction, true, true, "Error importing contents"},
      {{fifo}, Qt::CopyAction, true, true, "Error importing contents"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.paths.isEmpty() ? std::string("text") : c.paths.front().toStdString());
    const int before = o.screen->ends();
    auto data = c.paths.isEmpty() ? std::make_unique<QMimeData>() : urls(c.paths);
    if (c.paths.isEmpty()) data->setText(QStringLiteral("words from another program"));
    ASSERT_TRUE(o.enter(*data, c.actions));
    EXPECT_EQ(o.move(*data, c.actions), c.overlayAccepts);
    ASSERT_TRUE(o.w->overlay());
    EXPECT_EQ(o.w->overlay()->accepts(), c.overlayAccepts);
    if (!c.overlayAccepts) {
      EXPECT_EQ(o.w->overlay()->label()->text(), "File type not supported");
    }
    EXPECT_EQ(o.drop(*data, c.actions), c.dropTaken);
    ASSERT_TRUE(runUntil([&] { return o.screen->ends() == before + 1; }));
    EXPECT_EQ(o.screen->endedWith.back(), kDragResultRefused);
    EXPECT_FALSE(o.w->overlay()) << "the overlay goes on every path";
    EXPECT_EQ(o.w->currentDockedIdea(), o.parked);
    uitest::advance(0.25);
    const auto shown = notices(*o.w);
    if (c.notice) {
      ASSERT_FALSE(shown.empty());
      EXPECT_EQ(shown.back(), c.notice);
    }
    uitest::advance(1.5);
  }
}

// The other program reads the outcome from the answers to the moves Qt sends after every
// entry; after a refusal it ends the drag with a leave, or, if it drops all the same, with a drop.
TEST(DragFilesIn, WhatTheOverlayRefusesIsRefusedToTheOtherProgramAndEveryDragGetsItsOverlay) {
  OneWindow o;
  struct Case {
    const char* what;
    bool endWithDrop;
  };
  const QString notes = o.write("notes.txt", "hi");
  for (int round = 0; round < 2; ++round)
    for (const Case& c : {Case{"text", true}, Case{"text", false}, Case{"notes.txt", true}, Case{"notes.txt", false}}) {
      SCOPED_TRACE(std::string(c.what) + (c.endWithDrop ? " dropped" : " left") + " round " + std::to_string(round));
      auto data = QString::fromLatin1(c.what) == "text" ? std::make_unique<QMimeData>() : urls({notes});
      if (!data->hasUrls()) data->setText(QStringLiteral("words from another program"));
      o.enter(*data, Qt::CopyAction | Qt::MoveAction);
      EXPECT_FALSE(o.move(*data, Qt::CopyAction | Qt::MoveAction)) << "the program is told none while it hovers";
      ASSERT_TRUE(o.w->overlay()) << "the refusal shows";
      EXPECT_FALSE(o.w->overlay()->accepts());
      if (c.endWithDrop)
        EXPECT_FALSE(o.drop(*data, Qt::CopyAction | Qt::MoveAction));
      else
        o.leave();
      EXPECT_FALSE(o.w->overlay());
      EXPECT_EQ(o.w->targetSessionNumber(), DragSupportWindow::kNoSession) << "ready for the next drag";
      uitest::advance(1.5);
    }
  // A file that can be dropped is still taken.
  auto picture = urls({o.write("a.png", pngBytes(QSize(2, 2), Qt::red))});
  EXPECT_TRUE(o.enter(*picture));
  EXPECT_TRUE(o.move(*picture));
  ASSERT_TRUE(o.w->overlay());
  EXPECT_TRUE(o.w->overlay()->accepts());
  o.leave();
  EXPECT_FALSE(o.w->overlay());
}

TEST(DragFilesIn, ARefusedMapSaysWhichFileAndWhy) {
  uitest::PresenterScope presenter;
  OneWindow o;
  const QString future = o.write(
      "future.orrery", *dataext::zlibDeflate(R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"text":"x"}}})"));
  const QString damaged = o.write("damaged.orrery", QByteArray("\x78\x9c not a stream", 16));
  for (const auto& [path, reason] : {std::pair{future, "Newer Orrery version is needed"},
                                     std::pair{damaged, "Invalid document format"}}) {
    const int before = o.screen->ends();
    presenter->alerts.clear();
    auto data = urls({path});
    ASSERT_TRUE(o.enter(*data));
    EXPECT_TRUE(o.drop(*data));
    ASSERT_TRUE(runUntil([&] { return o.screen->ends() == before + 1 && !presenter->alerts.empty(); }));
    EXPECT_EQ(o.screen->endedWith.back(), kDragResultRefused);
    EXPECT_EQ(o.w->currentDockedIdea(), o.parked);
    const QString text = presenter->alerts[0].informativeText;
    EXPECT_TRUE(text.contains(QFileInfo(path).fileName())) << text.toStdString();
    EXPECT_TRUE(text.contains(reason)) << text.toStdString();
  }
}

TEST(DragFilesIn, ARefusingControllerLeavesNoOverlay) {
  OneWindow o;
  o.screen->accept = false;
  auto data = urls({o.write("a.png", pngBytes(QSize(2, 2), Qt::red))});
  EXPECT_FALSE(o.enter(*data));
  EXPECT_FALSE(o.w->overlay());
  EXPECT_EQ(o.w->targetSessionNumber(), DragSupportWindow::kNoSession);
}

TEST(PromisedFile, NamesComeFromTitlesCutToTenCharactersWithoutLeadingDots) {
  EXPECT_EQ(PromisedFile::fileNameForTitle("My great idea"), "Mygreatide.orrery");
  EXPECT_EQ(PromisedFile::fileNameForTitle(".hidden"), "hidden.orrery");
  EXPECT_EQ(PromisedFile::fileNameForTitle("..."), "document.orrery");
  EXPECT_EQ(PromisedFile::fileNameForTitle(QString::fromUtf8("  :// \xE2\x98\x85\n")), "document.orrery");
  EXPECT_EQ(PromisedFile::fileNameForTitle(""), "document.orrery");
  // Emoji are symbols and go; a letter that would be cut in half at the tenth unit is left
  // out whole.
  EXPECT_EQ(PromisedFile::fileNameForTitle(QString::fromUtf8("abc\xF0\x9F\x98\x80" "defghijk")), "abcdefghij.orrery");
  EXPECT_EQ(PromisedFile::fileNameForTitle(QString::fromUtf8("abcdefghi\xF0\xA0\x80\x80")), "abcdefghi.orrery");
  EXPECT_EQ(PromisedFile::fileNameForTitle(QString::fromUtf8("abcdefgh\xF0\xA0\x80\x80z")),
            QString::fromUtf8("abcdefgh\xF0\xA0\x80\x80.orrery"));
}

TEST(DragFilesOut, LeavingTheProgramWritesTheSubtreeIntoAFreshPrivateFolderAndOffersItsURL) {
  // The idea from the dock, and from a map, which is read again on the persistence queue. That
  // reading is held until the receiver has asked: its idea then reaches the main queue (on the
  // Qt event loop, as in the program) only while the reader waits on the main thread.
  for (const bool fromMap : {false, true}) {
    SCOPED_TRACE(fromMap);
    OneWindow o;
    // X is dragged; its child links to Y outside it.
    IdeaPtr root = Idea::createWithText("root");
    IdeaPtr x = Idea::createWithText("My great idea");
    IdeaPtr y = Idea::createWithText("outside");
    root->addIdea(x);
    root->addIdea(y);
    x->addIdea(Idea::createWithLinkToIdea(y->identifier()));
    QString map;
    if (fromMap) {
      map = o.map(root);
      ASSERT_FALSE(map.isEmpty());
    } else {
      o.w->setDockedIdea(x, QString());
    }
    auto src = std::make_shared<SourceView>(*o.w, QRectF(20, 20, 100, 100));
    src->planet = std::make_shared<TestPlanet>(x->identifier(), map, x->text());
    o.w->containerView()->addSubview(src);
    platform::SerialQueue& persistence = PersistenceController::singleton().workQueue();
    bool held = fromMap;
    auto release = [&] {
      if (std::exchange(held, false)) persistence.resume();
    };
    std::optional<testsupport::QtMainQueueScope> asInTheProgram;
    if (fromMap) {
      persistence.suspend();
      asInTheProgram.emplace();
    }
    o.seams.readTypes = {"text/uri-list", DragSupportWindow::kIdeaPasteboardType};
    // The receiver asks right after this: the reading goes on once the main queue runs.
    o.seams.outside = [&](QDrag&) {
      platform::mainQueue().async(release);
      return Qt::CopyAction;
    };
    o.w->sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(60, 60)));
    o.w->sendEvent(Event::mouse(EventType::LeftMouseDragged, QPointF(-900, -900)));
    release();
    asInTheProgram.reset();
    ASSERT_EQ(o.seams.handedOver.size(), 1u);
    const auto& out = o.seams.handedOver.front();
    EXPECT_EQ(out.actions, Qt::DropActions(Qt::CopyAction));
    EXPECT_EQ(out.image.deviceIndependentSize(), QSizeF(56, 56)) << "\"accept_active\", set as the drag left the window";
    const QJsonObject ids = QJsonDocument::fromJson(out.data.at(DragSupportWindow::kIdeaPasteboardType)).object();
    EXPECT_EQ(ids.value("ideaIdentifier").toString(), x->identifier());
    const QUrl url = QUrl::fromEncoded(out.data.at("text/uri-list").trimmed());
    ASSERT_TRUE(url.isLocalFile()) << out.data.at("text/uri-list").toStdString();
    const QFileInfo file(url.toLocalFile());
    EXPECT_EQ(file.fileName(), "Mygreatide.orrery");
    EXPECT_EQ(file.dir().dirName().section('-', 0, 0).toLongLong(), ::getpid());
    EXPECT_TRUE(file.dir().absolutePath().startsWith(PromisedFile::dragsFolder()));
    struct stat st {};
    ASSERT_EQ(::stat(file.dir().absolutePath().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(o.screen->endedWith, (std::vector<DragResult>{kDragResultKept})) << "taken by the other program";

    auto doc = IdeaDocument::createWithFileName(file.absoluteFilePath(), DocumentLocationLocalFile);
    bool read = false;
    doc->readFromURL(url, [&](bool ok) { read = ok; });
    ASSERT_TRUE(runUntil([&] { return read; }));
    ASSERT_TRUE(doc->idea());
    EXPECT_EQ(doc->idea()->text(), "My great idea");
    ASSERT_EQ(doc->idea()->ideas().size(), 1u);
    EXPECT_FALSE(doc->idea()->ideas()[0]->isLink()) << "a link leading out becomes a plain idea";
    EXPECT_EQ(doc->idea()->ideas()[0]->text(), "outside");

    // Quitting removes this run's folders.
    PromisedFile::removeOwnFolders();
    EXPECT_FALSE(file.dir().exists());
  }
}

TEST(DragFilesOut, AnotherProgramReadsTheFileAfterTheDropOnTheRealScreen) {
  if (qEnvironmentVariableIsSet(kDropTakerVariable)) return takeOneDrop();
  if (!testsupport::inWindowManagerChild()) return testsupport::runInWindowManagerChild({false});
  ASSERT_TRUE(testsupport::FakePointer().available()) << "no XTest on the X server";
  // The idea from the dock, written at once; and from a map, read again behind a save that
  // keeps the persistence queue busy for 3 s from the press, while the receiver asks at once
  // after the drop: the idea reaches the main queue (the program's, on the Qt event loop) only
  // while the reader holds the main thread, and the file is written later than the reader
  // used to wait, within the 5 s the receiver gives it.
  for (const std::chrono::milliseconds busy : {std::chrono::milliseconds(0), std::chrono::milliseconds(3000)}) {
    SCOPED_TRACE(busy.count());
    const bool fromMap = busy.count() > 0;
    OneWindow o;
    // Qt's own drag, to whatever window of any program is under the pointer.
    platform::DraggingSession::setDragRunner(nullptr);
    platform::DraggingSession::setWindowLocator(nullptr);
    IdeaPtr root = Idea::createWithText("root");
    IdeaPtr x = Idea::createWithText("My great idea");
    root->addIdea(x);
    const QString map = fromMap ? o.map(root) : QString();
    if (!fromMap) o.w->setDockedIdea(x, QString());
    auto src = std::make_shared<BusySource>(*o.w, QRectF(20, 20, 100, 100), busy);
    src->planet = std::make_shared<TestPlanet>(x->identifier(), map, x->text());
    o.w->containerView()->addSubview(src);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(o.w->widget()->windowHandle()));
    const QPoint from = o.w->canvas()->mapToGlobal(QPoint(60, 60));

    QProcess taker;
    bool ended = false;
    {
      testsupport::QtMainQueueScope asInTheProgram;
      testsupport::startThisProgramAgain(taker, "DragFilesOut.AnotherProgramReadsTheFileAfterTheDropOnTheRealScreen",
                                         {{kDropTakerVariable, QStringLiteral("%1,%2").arg(from.x()).arg(from.y())}});
      // The drag runs here meanwhile, and so do the answers to the other program's reads.
      ended = QTest::qWaitFor(
          [&] {
            uitest::advance(0);
            return taker.state() == QProcess::NotRunning;
          },
          60000);
      testsupport::endProcess(taker);
    }
    const QString output = QString::fromLocal8Bit(taker.readAll());
    ASSERT_TRUE(ended) << output.toStdString();
    const QUrl url = QUrl::fromEncoded(output.section("DROPPED ", 1).section('\n', 0, 0).trimmed().toLatin1());
    ASSERT_TRUE(url.isLocalFile()) << output.toStdString();
    auto doc = IdeaDocument::createWithFileName(url.toLocalFile(), DocumentLocationLocalFile);
    bool read = false;
    doc->readFromURL(url, [&](bool ok) { read = ok; });
    ASSERT_TRUE(runUntil([&] { return read; }));
    EXPECT_EQ(doc->idea()->text(), "My great idea");
    EXPECT_EQ(o.screen->endedWith, (std::vector<DragResult>{kDragResultKept}));
    uitest::advance(1);
    EXPECT_TRUE(notices(*o.w).empty()) << "the file arrived: nothing to report";
  }
}

TEST(DragFilesOut, AFailedOrLateWriteOffersNothingSaysSoOnceAndLogsNoTitle) {
  enum Failure { kNoFolder, kTooDeep, kFolderGone, kTooLate };
  for (const Failure failure : {kNoFolder, kTooDeep, kFolderGone, kTooLate}) {
    SCOPED_TRACE(failure);
    OneWindow o;
    const QString drags = QDir(platform::privateTemporaryFolder()).filePath("drags");
    QDir(drags).removeRecursively();
    if (failure == kNoFolder) {
      QFile blocker(drags);
      ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    IdeaPtr secret = Idea::createWithText("Secret plan");
    IdeaPtr deepest = secret;
    for (int i = 0; failure == kTooDeep && i <= DocumentLimits::kMaxDepth; ++i) {
      deepest->addIdea(Idea::createWithText("deeper"));
      deepest = deepest->ideas().front();
    }
    // The write waits its turn behind other work: meanwhile a cleaner of temporary files takes
    // the folder, or the work outlasts the reader's wait and the file is written after it.
    std::promise<void> queueFree;
    if (failure == kFolderGone || failure == kTooLate)
      PersistenceController::singleton().workQueue().async([free = queueFree.get_future().share()] { free.wait(); });
    if (failure == kFolderGone) {
      o.seams.outside = [&](QDrag&) {
        QDir(drags).removeRecursively();
        queueFree.set_value();
        return Qt::IgnoreAction;
      };
    }
    o.w->setDockedIdea(secret, QString());
    auto src = std::make_shared<SourceView>(*o.w, QRectF(20, 20, 100, 100));
    src->planet = std::make_shared<TestPlanet>(secret->identifier(), QString(), secret->text());
    o.w->containerView()->addSubview(src);
    o.seams.readTypes = {"text/uri-list"};
    QStringList logged;
    const LogSink previous = setLogSink([&](const QString& line) { logged << line; });
    o.w->sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(60, 60)));
    o.w->sendEvent(Event::mouse(EventType::LeftMouseDragged, QPointF(-900, -900)));
    if (failure == kTooLate) queueFree.set_value();
    PersistenceController::singleton().workQueue().drain();
    setLogSink(previous);
    ASSERT_EQ(o.seams.handedOver.size(), 1u);
    EXPECT_TRUE(o.seams.handedOver.front().data.at("text/uri-list").isEmpty());
    EXPECT_EQ(o.screen->endedWith, (std::vector<DragResult>{kDragResultRefused}));
    // The write's outcome reaches the window through the main queue; the notice then fades in.
    EXPECT_TRUE(runUntil([&] {
      uitest::advance(0.05);
      return !notices(*o.w).empty();
    }));
    EXPECT_EQ(notices(*o.w), (std::vector<QString>{"Failed to save file"}));
    if (failure != kNoFolder) {
      EXPECT_TRUE(logged.join('\n').contains("dragged file in " + drags + "/", Qt::CaseInsensitive));
    }
    EXPECT_FALSE(logged.join('\n').contains("Secret")) << "the user's text stays out of the log: "
                                                        << logged.join('\n').toStdString();
    QFile::remove(drags);
  }
}

TEST(DragFilesOut, StartUpRemovesTheFoldersOfProcessesThatAreGoneOnly) {
  const QString drags = PromisedFile::dragsFolder();
  ASSERT_FALSE(drags.isEmpty());
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const QString dead = QDir(drags).filePath(QStringLiteral("%1-1-abcdef").arg(child));
  const QString live = QDir(drags).filePath(QStringLiteral("%1-77-abcdef").arg(::getpid()));
  const QString stranger = QDir(drags).filePath(QStringLiteral("notes"));
  for (const QString& d : {dead, live, stranger}) ASSERT_TRUE(QDir().mkpath(d + "/inner"));
  EXPECT_GE(PromisedFile::removeFoldersOfDeadProcesses(), 1);
  EXPECT_FALSE(QDir(dead).exists());
  EXPECT_TRUE(QDir(live).exists());
  EXPECT_TRUE(QDir(stranger).exists()) << "a name without a process is not ours to remove";
  PromisedFile::removeOwnFolders();
  EXPECT_FALSE(QDir(live).exists());
  QDir(stranger).removeRecursively();
}
