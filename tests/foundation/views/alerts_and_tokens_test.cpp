#include "foundation/logging.h"
#include "foundation/my_result.h"
#include "foundation/views/base_view_controller.h"
#include "foundation/views/custom_alert_view.h"
#include "foundation/views/modal_choice_controller.h"
#include "platform/ui/view.h"
#include "ui_test_env.h"

#include <gtest/gtest.h>

using namespace orrery;

namespace {

class LogCapture {
 public:
  LogCapture() {
    mPrevious = setLogSink([this](const QString& line) { lines.push_back(line); });
  }
  ~LogCapture() { setLogSink(mPrevious); }
  std::vector<QString> lines;

 private:
  LogSink mPrevious;
};

class Controller : public BaseViewController {
 public:
  int reactions = 0;
  void reactToStateChange() override { ++reactions; }
};

}  // namespace

TEST(CustomAlert, ButtonsKeepTheirOrderAndOnlyTheChosenBlockRunsOnce) {
  uitest::PresenterScope presenter;
  std::vector<int> ran;
  CustomAlertView alert("Title", "Message");
  alert.addButton("Delete", CAVButton::kDestructive, [&] { ran.push_back(0); });
  alert.addButton("Keep", CAVButton::kOrdinary, [&] { ran.push_back(1); });
  alert.addButton("Cancel", CAVButton::kCancel, [&] { ran.push_back(2); });
  presenter->alertAnswers = {1001};
  alert.showFromWindow(nullptr);
  ASSERT_EQ(presenter->alerts.size(), 1u);
  const auto& request = presenter->alerts.front();
  ASSERT_EQ(request.buttons.size(), 3u);
  EXPECT_EQ(request.buttons[0].title, "Delete");
  EXPECT_EQ(request.messageText, "Title");
  EXPECT_EQ(request.informativeText, "Message");
  EXPECT_EQ(ran, std::vector<int>{1});
  alert.handleResultWithButtonIndex(2);  // answered already: nothing more runs
  EXPECT_EQ(ran, std::vector<int>{1});
}

TEST(CustomAlert, EscapeOrCloseBoxAnswersTheCancelButtonNeverADestructiveFirstOne) {
  uitest::PresenterScope presenter;
  std::vector<std::string> ran;
  auto ask = [&](bool withCancel, int answer) {
    CustomAlertView alert("", "Save changes?");
    alert.addButton("Save", CAVButton::kOrdinary, [&] { ran.push_back("save"); });
    alert.addButton("Do Not Save", CAVButton::kOrdinary, [&] { ran.push_back("discard"); });
    if (withCancel) alert.addButton("Cancel", CAVButton::kCancel, [&] { ran.push_back("cancel"); });
    presenter->alertAnswers = {answer};
    alert.showFromWindow(nullptr);
  };
  ask(true, platform::kAlertDismissed);
  ask(false, platform::kAlertDismissed);  // without a cancel button the first one answers
  ask(true, 999);                         // codes below the first button's count as the first
  EXPECT_EQ(ran, (std::vector<std::string>{"cancel", "save", "save"}));

  presenter->alertAnswers = {1000};
  CustomAlertView::showErrorResult(MyResult::error("test:key", "Something failed"));
  EXPECT_EQ(presenter->alerts.back().informativeText, "Something failed");
  EXPECT_EQ(presenter->alerts.back().buttons.size(), 1u);
}

TEST(ModalChoice, AChoiceSuppressesCancelAndClosingRunsCancelOnceLater) {
  uitest::PresenterScope presenter;
  std::vector<std::string> ran;
  auto makeMenu = [&] {
    auto choice = ModalChoiceController::create();
    choice->addButton("Move Here", [&] { ran.push_back("move"); });
    choice->addButton("Copy Here", [&] { ran.push_back("copy"); });
    choice->addButton("Create Link", [&] { ran.push_back("link"); });
    choice->addButton(QString(), [&] { ran.push_back("first cancel"); });
    choice->addButton(QString(), [&] { ran.push_back("cancel"); });  // replaces the first
    return choice;
  };
  auto view = std::make_shared<platform::View>(QRectF(0, 0, 300, 300));

  presenter->menuAnswers = {1};
  makeMenu()->showModallyFromRect(QRectF(10, 20, 100, 40), view.get());
  EXPECT_EQ(presenter->menuLocations.back(), QPointF(60, 40));  // the centre, not the corner
  uitest::loop().runPending();
  EXPECT_EQ(ran, std::vector<std::string>{"copy"});

  ran.clear();
  presenter->menuAnswers = {-1};
  makeMenu()->showModallyFromRect(QRectF(0, 0, 10, 10), view.get());
  EXPECT_TRUE(ran.empty());  // not while the menu is going away
  uitest::loop().runPending();
  uitest::loop().runPending();
  EXPECT_EQ(ran, std::vector<std::string>{"cancel"});
}

TEST(ScreenTokens, FirstHolderKeepsTheScreenAndAnyLiberationFreesIt) {
  LogCapture log;
  Controller c;
  c.occupyScreen("A");
  c.occupyScreen("B");
  EXPECT_EQ(c.currentOccupyingOperation(), "A");
  EXPECT_EQ(c.reactions, 1);
  c.liberateScreen("B");
  EXPECT_FALSE(c.screenOccupied());
  EXPECT_EQ(log.lines.back(), "ERROR: Assertion failure: ERROR: operation!=mCurrentOccupyingOperation");

  c.occupyScreen("A");
  c.occupyScreen("A");
  c.liberateScreen("A");
  EXPECT_FALSE(c.screenOccupied());  // no counting
  const int before = c.reactions;
  c.liberateScreen("A");
  EXPECT_EQ(log.lines.back(), "ERROR: Assertion failure: ERROR: Screen is already liberated");
  EXPECT_EQ(c.reactions, before + 1);
  c.occupyScreen(QString());
  EXPECT_FALSE(c.screenOccupied());
}

TEST(ScreenTokens, SimpleAlertsWaitForTheTokenNonBlockingOnesDoNot) {
  uitest::PresenterScope presenter;
  Controller c;
  c.occupyScreen("OpenDocument");
  c.showSimpleAlertViewWithTitle("T", "M");
  EXPECT_TRUE(presenter->alerts.empty());
  presenter->alertAnswers = {1000};
  c.showNonblockingAlertViewWithTitle("T", "M");
  EXPECT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(c.currentOccupyingOperation(), "OpenDocument");

  c.liberateScreen("OpenDocument");
  bool occupiedWhileShowing = false;
  struct Peek : uitest::ScriptedPresenter {
    Controller* c;
    bool* seen;
    int runAlert(const platform::AlertRequest& r) override {
      *seen = c->currentOccupyingOperation() == "ShowingAlert";
      ScriptedPresenter::runAlert(r);
      return 1000;
    }
  };
  auto peek = std::make_shared<Peek>();
  peek->c = &c;
  peek->seen = &occupiedWhileShowing;
  auto previous = platform::setModalPresenter(peek);
  c.showSimpleAlertViewWithTitle("T", "M");
  platform::setModalPresenter(previous);
  EXPECT_TRUE(occupiedWhileShowing);
  EXPECT_FALSE(c.screenOccupied());
}

TEST(ScreenTokens, ImportCancelCallsNothingAndAFailedReadShowsTheErrorThenNull) {
  uitest::PresenterScope presenter;
  Controller c;
  int calls = 0;
  presenter->panelAnswers = {platform::FilePanelResult{platform::kModalResponseCancel, {}}};
  c.startImportingLocalFileOnCompletion([&](std::shared_ptr<IdeaDocument>) { ++calls; });
  uitest::loop().runPending();
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(presenter->alerts.empty());
  ASSERT_EQ(presenter->panels.size(), 1u);
  EXPECT_EQ(presenter->panels[0].allowedFileTypes, (QStringList{"orrery", "opml"}));

  QString askedFor;
  BaseViewController::setLocalDocumentFetcher(
      [&](const QString& path, BaseViewController::FetchedDocument done) {
        askedFor = path;
        done(nullptr, nullptr);
      });
  presenter->panelAnswers = {platform::FilePanelResult{platform::kModalResponseOK, {"/tmp/x.orrery"}}};
  presenter->alertAnswers = {1000};
  bool gotNull = false;
  c.startImportingLocalFileOnCompletion([&](std::shared_ptr<IdeaDocument> d) { gotNull = !d; });
  uitest::loop().runPending();
  BaseViewController::setLocalDocumentFetcher(nullptr);
  EXPECT_EQ(askedFor, "/tmp/x.orrery");
  EXPECT_TRUE(gotNull);
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText, "Failed to open file");
}
