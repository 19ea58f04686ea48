#pragma once
// What the drag window tests share: a planet view of the drag-copy kind, a screen controller
// that records what its window tells it and answers from a script, and a source view that
// starts a drag on a press.

#include "foundation/application_delegate.h"
#include "foundation/views/base_view.h"
#include "foundation/views/base_view_controller.h"
#include "foundation/views/progress_hud.h"
#include "model/idea.h"
#include "shell/drag_support.h"
#include "shell/my_window.h"
#include "ui_test_env.h"

#include <QPainter>
#include <QThread>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dragtest {

using namespace orrery;

// A disc of side 140 × scale, resized about its centre like the editor's planets.
class TestPlanet : public BaseView, public DraggablePlanet {
 public:
  TestPlanet(QString idea, QString doc, QString title)
      : mIdea(std::move(idea)), mDoc(std::move(doc)), mTitle(std::move(title)) {
    setFrame(QRectF(0, 0, kSide, kSide));
  }
  static constexpr double kSide = 140;
  int draws = 0;
  const QString& ideaIdentifier() const override { return mIdea; }
  const QString& docIdentifier() const override { return mDoc; }
  QString representativeTitle() const override { return mTitle; }
  void setScale(double scale) override {
    if (scale != mScale) setNeedsDisplay();
    mScale = scale;
    const QRectF f = frame();
    const double side = kSide * scale;
    setFrame(QRectF(f.center().x() - side / 2, f.center().y() - side / 2, side, side));
  }
  std::shared_ptr<DraggablePlanet> copyPlanetForDragging() const override {
    auto copy = std::make_shared<TestPlanet>(mIdea, mDoc, mTitle);
    copy->copies = copies;
    ++*copies;
    return copy;
  }
  BaseView& planetView() override { return *this; }
  void drawRect(QPainter& painter, const QRectF&) override {
    ++draws;
    painter.setBrush(Qt::blue);
    painter.drawEllipse(bounds());
  }
  std::shared_ptr<int> copies = std::make_shared<int>(0);

 private:
  QString mIdea, mDoc, mTitle;
  double mScale = 1;
};

// The hosted controller: records calls, answers updates from `target`, and holds the drop's
// completion until the test answers it (or answers at once with `answerAtOnce`).
class Screen : public BaseViewController, public DragSupportDelegate {
 public:
  std::vector<std::string> log;
  std::function<DragReturnTarget(const DragInfo&)> target = [](const DragInfo&) { return DragReturnTarget(); };
  bool accept = true;
  std::optional<DragResult> answerAtOnce;
  ResultCompletion pending;
  IdeaPtr dropped;
  std::vector<DragInfoForIdea> startedWith;
  std::vector<DragResult> endedWith;
  std::vector<DragSourceKind> endedSources;

  bool dragOperationStarted(const DragInfo& info) override {
    log.push_back("started");
    if (auto* idea = dynamic_cast<const DragInfoForIdea*>(&info)) startedWith.push_back(*idea);
    lastSource = info.source;
    return accept;
  }
  DragReturnTarget dragOperationUpdate(const DragInfo& info) override {
    log.push_back("update");
    lastLocation = info.location;
    return target(info);
  }
  void dragOperationExited() override { log.push_back("exited"); }
  void dragOperationEnded(const DragInfo&, const IdeaPtr& idea, const QString&, ResultCompletion completion) override {
    log.push_back("accept");
    dropped = idea;
    if (answerAtOnce)
      completion(*answerAtOnce);
    else
      pending = std::move(completion);
  }
  void dragOperationEndedWithResult(const DragInfo* info, DragResult result) override {
    log.push_back("ended " + std::to_string(result));
    endedWith.push_back(result);
    endedSources.push_back(info ? info->source : 99);
  }
  // Acceptances and results together: the ends this controller heard.
  int ends() const {
    int n = 0;
    for (const auto& l : log) n += l == "accept" || l.rfind("ended", 0) == 0;
    return n;
  }
  DragSourceKind lastSource = 99;
  QPointF lastLocation;
};

// Starts the window's drag of `planet` on a press.
class SourceView : public BaseView {
 public:
  SourceView(DragSupportWindow& window, QRectF frame) : BaseView(frame), mWindow(window) {}
  std::shared_ptr<DraggablePlanet> planet;
  DragReturnTarget back;
  void mouseDown(const platform::Event& event) override { mWindow.startDragForEvent(event, *this, planet, back); }

 private:
  DragSupportWindow& mWindow;
};

struct QuietApp : ApplicationDelegate {
  void addNewRecentDocumentURL(const QUrl&) override {}
  bool canWeSafelyDeleteIdea(const QString&, const QString&) override { return true; }
  bool isFileCurrentlyOpen(const QUrl&) override { return false; }
  void markPersistentAppStateDirty() override {}
  void openDocumentInNewWindow(const QString&, const QString&) override {}
};

// Runs the main queue until `done` holds (work on other threads posts back to it).
template <class Pred>
bool runUntil(Pred done) {
  for (int i = 0; i < 5000 && !done(); ++i) {
    uitest::advance(0);
    QThread::msleep(1);
  }
  return done();
}

inline std::vector<QString> notices(MyWindow& window) {
  std::vector<QString> found;
  for (const auto& v : window.containerView()->subviews())
    if (auto hud = std::dynamic_pointer_cast<ProgressHUD>(v)) found.push_back(hud->labelText());
  return found;
}

}  // namespace dragtest
