// Two running instances of the program with windows on one map of icons, pictures and
// colours: this test's process and a second one (this program again, driven through its
// standard input). Each edits a field, both save, and the alerts each shows and the files on
// disk say who lost what: only a change that left the file is told, to the instance that made
// it, once, with one kept copy. Two instances adding ideas in one second make two ideas.

#include "controller_test_support.h"
#include "support/rerun_this_program.h"

#include "foundation/views/custom_text_field.h"
#include "model/icon_image.h"
#include "model/idea_identifier_maker_testing.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/picture_view_controller.h"
#include "platform/services/file_presenter.h"
#include "platform/ui/popover.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <future>
#include <iostream>
#include <string>

using namespace controllertest;

namespace {

constexpr char kPeerVariable[] = "ORRERY_TEST_PEER_INSTANCE";
// The seconds the peer's new identifiers carry, when set.
constexpr char kSecondsVariable[] = "ORRERY_TEST_PEER_IDENTIFIER_SECONDS";
constexpr char kReply[] = "peer: ";

// "solar" with "Planet 9" (an icon), "Mars" (a colour), a picture and "Venus" (an icon).
IdeaPtr solarMap() {
  IdeaPtr root = idea(QStringLiteral("solar"));
  IdeaPtr planet9 = idea(QStringLiteral("Planet 9"), 1);
  planet9->setIconImage(std::make_shared<orrery::IconImage>("ringed planet", "Travel", QStringLiteral("\U0001FA90")));
  root->addIdea(planet9);
  root->addIdea(idea(QStringLiteral("Mars"), 2));
  QImage pixels(16, 16, QImage::Format_ARGB32);
  pixels.fill(Qt::darkBlue);
  root->addIdea(orrery::Idea::createWithOriginalImage(orrery::KitImage(pixels)));
  IdeaPtr venus = idea(QStringLiteral("Venus"), 3);
  venus->setIconImage(std::make_shared<orrery::IconImage>("sun", "Travel", QStringLiteral("\u2600")));
  root->addIdea(venus);
  return root;
}

// The pixels of picture variant `n`.
QImage pictureVariant(int n) {
  QImage pixels(16, 16, QImage::Format_ARGB32);
  pixels.fill(QColor(30 * n, 0, 0));
  return pixels;
}

// Sets `field` (named as the merge names it) of `idea` to its variant `n`, made anew each time.
void setField(orrery::Idea& idea, const QString& field, int n) {
  if (field == QLatin1String("text")) {
    idea.setText(QStringLiteral("title %1").arg(n));
  } else if (field == QLatin1String("icon")) {
    idea.setIconImage(std::make_shared<orrery::IconImage>(QStringLiteral("icon %1").arg(n), "Travel", QString(QChar(0x2600 + n))));
  } else if (field == QLatin1String("color")) {
    idea.setColor(colour(n + 2));  // the map's colours are 0 to 3
  } else if (field == QLatin1String("image")) {
    idea.replaceWithOriginalImage(orrery::KitImage(pictureVariant(n)));
  } else {
    ADD_FAILURE() << "no field " << field.toStdString();
  }
}

// Types `title` into the title field of the edit panel `c` shows, as the user does; false
// when no panel shows.
bool typeTitle(SolarSystemViewController& c, const QString& title) {
  EXPECT_TRUE(c.editPopover() && c.editPopover()->isShown());
  auto* panel = c.editPopover()
                    ? dynamic_cast<orrery::EditIdeaViewController*>(c.editPopover()->contentViewController().get())
                    : nullptr;
  if (!panel) return false;
  QLineEdit* field = panel->textTabView()->titleTextField()->field()->lineEdit();
  field->selectAll();
  QTest::keyClicks(field, title);
  return true;
}

// One instance's window on the map.
struct Instance {
  Instance(Opened document, testsupport::ScriptedPresenter& shown, RecordingAppDelegate& app)
      : presenter(shown), opened(std::move(document)) {
    EXPECT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    alertsBefore = presenter.alerts.size();
    settle();
  }
  SolarSystemViewController& c() { return *editor->controller; }
  IdeaPtr child(int i) { return c().rootIdea()->ideas()[size_t(i)]; }
  void edit(const QString& field, int i, int n) { setField(*child(i), field, n); }
  // A planet added after the last one through the new-idea panel, saved: its identifier.
  QString add(const QString& title) {
    c().onAddNewIdeaAfterIndex(std::int64_t(c().rootIdea()->ideas().size()) - 1, QRectF());
    if (!typeTitle(c(), title)) return {};
    c().editPopover()->performClose();
    IdeaPtr added;
    EXPECT_TRUE(waitFor([&] {
      for (const IdeaPtr& idea : c().rootIdea()->ideas())
        if (idea->text() == title) added = idea;
      return added && !c().isUpdatingDocument();
    }));
    return added ? added->identifier() : QString();
  }
  // The idea renamed in its panel, opened as a double click on its planet opens it, and saved.
  void rename(const QString& identifier, const QString& title) {
    c().onEditIdea(identifier);
    if (!typeTitle(c(), title)) return;
    c().editPopover()->performClose();
    uitest::advance(1.0);
    EXPECT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
  }
  // "<identifier> <text>" of each idea below the root ("<identifier>" without a text).
  QStringList ideas() {
    QStringList out;
    for (const IdeaPtr& idea : c().rootIdea()->ideas())
      out << (idea->identifier() + QLatin1Char(' ') + idea->text()).trimmed();
    return out;
  }
  void save() {
    c().updateSolarSystemAndSaveDocument();
    EXPECT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
  }
  // Lets the other instance's writes arrive and what they start (kept copies, saves) finish.
  void settle() {
    for (int turn = 0; turn < 5; ++turn) {
      platform::FilePresenterRegistry::shared().recheckAll();
      auto done = std::make_shared<std::promise<void>>();
      auto drained = done->get_future().share();
      orrery::PersistenceController::singleton().workQueue().async([done] { done->set_value(); });
      uitest::loop().runUntil([&] { return drained.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                              platform::Millis(5000));
      uitest::advance(0.05);
    }
    EXPECT_TRUE(waitFor([&] { return !c().isUpdatingDocument(); }));
  }
  QStringList alerts() const {
    QStringList out;
    for (size_t i = alertsBefore; i < presenter.alerts.size(); ++i)
      out << presenter.alerts[i].messageText + QStringLiteral(": ") + presenter.alerts[i].informativeText;
    return out;
  }

  testsupport::ScriptedPresenter& presenter;
  Opened opened;
  size_t alertsBefore = 0;
  std::unique_ptr<EditorWindow> editor;
};

// The second instance, as a process of its own.
struct Peer {
  // `seconds`: what its new identifiers carry instead of the clock's, when given.
  explicit Peer(const QString& seconds = QString()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX", "GTEST_SHARD_STATUS_FILE"}) env.remove(name);
    env.insert(kPeerVariable, QStringLiteral("1"));
    if (!seconds.isEmpty()) env.insert(kSecondsVariable, seconds);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=TwoInstances.PeerRuns")});
  }
  ~Peer() { finish(); }
  // Ends the peer: its exit code (0 when all its checks held).
  int finish() {
    process.closeWriteChannel();
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(10000)) process.kill();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
  // Sends a command and answers the lines the peer replied, up to its "done".
  QStringList ask(const QString& command) {
    process.write(command.toUtf8() + '\n');
    QStringList replies;
    for (;;) {
      while (!process.canReadLine())
        if (!process.waitForReadyRead(20000)) {
          ADD_FAILURE() << "the peer did not answer " << command.toStdString();
          return replies;
        }
      const QString line = QString::fromUtf8(process.readLine()).trimmed();
      if (!line.startsWith(QLatin1String(kReply))) continue;
      const QString reply = line.mid(int(qstrlen(kReply)));
      if (reply == QLatin1String("done")) return replies;
      replies << reply;
    }
  }
  QProcess process;
};

using TwoInstances = ControllerTest;

// The peer's side: one window at a time, on the map each "open" names.
//   open <file> | edit <field> <child> <variant> | delete <child> | save | settle | alerts
//   | add <title> | rename <identifier> <title> | ideas
TEST_F(TwoInstances, PeerRuns) {
  if (qEnvironmentVariable(kPeerVariable).isEmpty()) GTEST_SKIP() << "runs only as the second instance";
  if (const QString seconds = qEnvironmentVariable(kSecondsVariable); !seconds.isEmpty())
    orrery::setIdentifierSecondsForTesting(seconds.toLongLong());
  std::unique_ptr<Instance> instance;
  std::string line;
  while (std::getline(std::cin, line)) {
    const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '));
    const QString& command = words.front();
    if (command == QLatin1String("open")) {
      instance.reset();
      const QString file = words.mid(1).join(QLatin1Char(' '));
      instance = std::make_unique<Instance>(
          openAgain(IdeaDocument::createWithFileName(file, orrery::DocumentLocationLocalFile)), *presenter, app);
    } else if (command == QLatin1String("edit") && words.size() == 4) {
      instance->edit(words[1], words[2].toInt(), words[3].toInt());
    } else if (command == QLatin1String("delete") && words.size() == 2) {
      // "Delete" when asked (a picture); the question is no report.
      presenter->alertAnswers = {1000};
      instance->c().onDeleteItem(instance->child(words[1].toInt())->identifier());
      presenter->alertAnswers.clear();
      instance->alertsBefore = presenter->alerts.size();
      EXPECT_TRUE(waitFor([&] { return !instance->c().isUpdatingDocument(); }));
    } else if (command == QLatin1String("save")) {
      instance->save();
    } else if (command == QLatin1String("settle")) {
      instance->settle();
    } else if (command == QLatin1String("alerts")) {
      for (const QString& alert : instance->alerts()) std::cout << kReply << alert.toStdString() << '\n';
    } else if (command == QLatin1String("add")) {
      std::cout << kReply << instance->add(words.mid(1).join(QLatin1Char(' '))).toStdString() << '\n';
    } else if (command == QLatin1String("rename") && words.size() >= 3) {
      instance->rename(words[1], words.mid(2).join(QLatin1Char(' ')));
    } else if (command == QLatin1String("ideas")) {
      for (const QString& idea : instance->ideas()) std::cout << kReply << idea.toStdString() << '\n';
    }
    std::cout << kReply << "done" << std::endl;
  }
  instance.reset();
  orrery::setIdentifierSecondsForTesting(std::nullopt);
}

struct Change {
  const char* field;
  int child;
  int variant;
};

// Whether `tree` holds, in the fields the changes name, the map with the changes made in turn.
bool holds(const IdeaPtr& tree, const std::vector<Change>& changes) {
  if (!tree || tree->ideas().size() != 4) return false;
  const IdeaPtr expected = solarMap();
  for (const Change& change : changes) setField(*expected->ideas()[size_t(change.child)], change.field, change.variant);
  for (size_t i = 0; i < 4; ++i)
    for (const Change& change : changes)
      if (!orrery::sameIdeaValue(*tree->ideas()[i], *expected->ideas()[i], QString::fromLatin1(change.field))) return false;
  return true;
}

// Opens the panel that edits `change.field` of the idea and makes the change there, as the
// user would: the title typed into the popover, or a picture chosen from `folder`. Answers
// what closes the panel.
std::function<void()> editInPanel(Instance& instance, const Change& change, const QString& folder) {
  SolarSystemViewController& c = instance.c();
  if (QLatin1String(change.field) == QLatin1String("text")) {
    c.doEditTextualIdea(instance.child(change.child));
    typeTitle(c, QStringLiteral("title %1").arg(change.variant));
    return [&c] { c.editPopover()->performClose(); };
  }
  c.onEditIdea(instance.child(change.child)->identifier());
  orrery::PictureViewController* panel = nullptr;
  for (const auto& presented : c.presentedViewControllers())
    if (auto* p = dynamic_cast<orrery::PictureViewController*>(presented.get())) panel = p;
  EXPECT_TRUE(panel);
  const QString chosen = folder + QStringLiteral("/chosen.png");
  EXPECT_TRUE(pictureVariant(change.variant).save(chosen));
  platform::FilePanelResult ok;
  ok.response = platform::kModalResponseOK;
  ok.paths = {chosen};
  instance.presenter.panelAnswers.push_back(ok);
  panel->pleaseStartImageChange();
  EXPECT_TRUE(waitFor([&] { return panel->didChangeImage(); }));
  return [panel] { panel->tryToPerform(platform::Actions::cancelOperation); };
}

struct Case {
  const char* name;
  const char* ourField;  // this instance's change, saved first
  int ourChild;
  int ourVariant;
  const char* theirField;  // the peer's change, made before ours arrived, saved after it
  int theirChild;
  int theirVariant;
  bool inPanel;           // ours made in an edit panel open while the peer's save arrives
  QStringList ourAlerts;  // the ideas each alert names
  QStringList theirAlerts;
};

// The names the alerts hold, in order.
std::string namedIn(const QStringList& alerts, const QStringList& names) {
  QStringList out;
  for (const QString& alert : alerts)
    for (const QString& name : names)
      if (alert.contains(name)) out << name;
  return out.join(QStringLiteral(", ")).toStdString();
}

TEST_F(TwoInstances, OnlyAChangeThatLeftTheFileIsToldToItsInstanceOnceWithOneKeptCopy) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  const QString planet9 = QStringLiteral("\u201CPlanet 9\u201D"), mars = QStringLiteral("\u201CMars\u201D");
  const QString picture = QStringLiteral("a picture"), typed = QStringLiteral("\u201Ctitle 3\u201D");
  const QStringList names = {planet9, mars, picture, typed, QStringLiteral("\u201CVenus\u201D")};
  const Case cases[] = {
      {"different ideas", "icon", 0, 2, "color", 1, 3, false, {}, {}},
      {"different fields of one idea", "icon", 0, 2, "text", 0, 3, false, {}, {}},
      {"a picture and an icon", "image", 2, 2, "icon", 3, 3, false, {}, {}},
      {"the same value alike", "icon", 0, 2, "icon", 0, 2, false, {}, {}},
      {"the same icon", "icon", 0, 2, "icon", 0, 3, false, {planet9}, {}},
      {"the same colour", "color", 1, 2, "color", 1, 3, false, {mars}, {}},
      {"the same picture", "image", 2, 2, "image", 2, 3, false, {picture}, {}},
      {"a title typed while the peer renamed it", "text", 0, 2, "text", 0, 3, true, {}, {typed}},
      {"a picture chosen while the peer changed it", "image", 2, 2, "image", 2, 3, true, {}, {picture}},
      {"a picture chosen while the peer changed another idea", "image", 2, 2, "text", 0, 3, true, {}, {}},
  };
  Peer peer;
  int n = 0;
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const QString file = path(QStringLiteral("solar%1/solar.orrery").arg(n++));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
    Instance ours(createLocal(file, solarMap()), *presenter, app);
    peer.ask(QStringLiteral("open ") + file);
    peer.ask(QStringLiteral("edit %1 %2 %3").arg(row.theirField).arg(row.theirChild).arg(row.theirVariant));
    if (row.inPanel) {
      const auto close = editInPanel(ours, {row.ourField, row.ourChild, row.ourVariant}, QFileInfo(file).path() + "/..");
      peer.ask(QStringLiteral("save"));
      ours.settle();
      close();
      uitest::advance(1.0);
      ASSERT_TRUE(waitFor([&] { return !ours.c().isUpdatingDocument(); }));
    } else {
      ours.edit(QString::fromLatin1(row.ourField), row.ourChild, row.ourVariant);
      ours.save();
      peer.ask(QStringLiteral("save"));
    }
    // Enough rounds for alerts to bounce back and forth, were they to.
    for (int round = 0; round < 3; ++round) {
      ours.settle();
      peer.ask(QStringLiteral("settle"));
    }
    const QStringList theirs = peer.ask(QStringLiteral("alerts"));
    EXPECT_EQ(namedIn(ours.alerts(), names), namedIn(row.ourAlerts, names)) << ours.alerts().join('\n').toStdString();
    EXPECT_EQ(namedIn(theirs, names), namedIn(row.theirAlerts, names)) << theirs.join('\n').toStdString();
    EXPECT_EQ(ours.alerts().size() + theirs.size(), qsizetype(row.ourAlerts.size() + row.theirAlerts.size()));

    // On disk: the map with the winning values, and one kept copy per lost change, holding it.
    const QStringList files = QDir(QFileInfo(file).path()).entryList(QDir::Files, QDir::Name);
    const bool oursLost = !row.ourAlerts.isEmpty(), theirsLost = !row.theirAlerts.isEmpty();
    EXPECT_EQ(files.join(QStringLiteral(" | ")).toStdString(),
              oursLost || theirsLost ? "solar (replaced changes).orrery | solar.orrery" : "solar.orrery");
    const Change mine{row.ourField, row.ourChild, row.ourVariant};
    const Change peers{row.theirField, row.theirChild, row.theirVariant};
    // Of a value both changed, the later save's wins: the peer's, or the popover's closing.
    EXPECT_TRUE(holds(readTree(file), row.inPanel ? std::vector{peers, mine} : std::vector{mine, peers}));
    if (oursLost || theirsLost) {
      EXPECT_TRUE(holds(readTree(QFileInfo(file).dir().filePath(QStringLiteral("solar (replaced changes).orrery"))),
                        {oursLost ? mine : peers}))
          << "the kept copy holds the lost value";
    }
  }
  EXPECT_EQ(peer.finish(), 0) << "the peer's own checks held";
}

// The files in `file`'s folder, in order.
std::string filesBeside(const QString& file) {
  return QDir(QFileInfo(file).path()).entryList(QDir::Files, QDir::Name).join(QStringLiteral(" | ")).toStdString();
}

// Round after round the peer saves its title over ours, which it had not seen yet; ours is the
// same again in the third round, lost to a new title of the peer's. Every loss is told here
// once, with a kept copy of its own that holds the title lost.
TEST_F(TwoInstances, EveryTitleLostInARowIsToldOnceWithACopyOfItsOwn) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  const QString file = path(QStringLiteral("rounds/solar.orrery"));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
  Instance ours(createLocal(file, solarMap()), *presenter, app);
  Peer peer;
  peer.ask(QStringLiteral("open ") + file);
  const struct { int ours, theirs; } rounds[] = {{1, 11}, {2, 12}, {2, 13}, {3, 14}};
  QStringList files = {QStringLiteral("solar.orrery")};
  for (int round = 1; round <= int(std::size(rounds)); ++round) {
    SCOPED_TRACE(round);
    const auto& titles = rounds[round - 1];
    peer.ask(QStringLiteral("edit text 0 %1").arg(titles.theirs));
    ours.edit(QStringLiteral("text"), 0, titles.ours);
    ours.save();
    peer.ask(QStringLiteral("save"));
    for (int turn = 0; turn < 3; ++turn) {
      ours.settle();
      peer.ask(QStringLiteral("settle"));
    }
    const QStringList told = ours.alerts();
    ASSERT_EQ(told.size(), round) << told.join('\n').toStdString();
    EXPECT_TRUE(told.back().contains(QStringLiteral("\u201Ctitle %1\u201D").arg(titles.ours)))
        << told.back().toStdString();
    files << (round == 1 ? QStringLiteral("solar (replaced changes).orrery")
                         : QStringLiteral("solar (replaced changes) %1.orrery").arg(round));
    EXPECT_TRUE(holds(readTree(file), {{"text", 0, titles.theirs}}));
    EXPECT_TRUE(holds(readTree(QFileInfo(file).dir().filePath(files.back())), {{"text", 0, titles.ours}}))
        << "the copy holds the title lost";
  }
  files.sort();
  EXPECT_EQ(filesBeside(file), files.join(QStringLiteral(" | ")).toStdString());
  EXPECT_TRUE(peer.ask(QStringLiteral("alerts")).isEmpty());
  EXPECT_EQ(peer.finish(), 0) << "the peer's own checks held";
}

// A planet's popover or a picture's panel is open here while the peer deletes that idea, and
// closing it keeps the edit: the peer's deletion is taken before the close, or met by the save
// after it. The peer is told once that the idea it deleted was kept, named by what it is now;
// nothing is kept beside the map, and here only the panel's notice says anything.
TEST_F(TwoInstances, AnIdeaDeletedWhileAnotherInstanceEditsItIsKeptAndTheDeleterIsTold) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  const struct {
    Change edit;
    bool takenFirst;
    const char* named;
  } cases[] = {
      {{"text", 0, 3}, true, "\u201Ctitle 3\u201D"},
      {{"text", 0, 3}, false, "\u201Ctitle 3\u201D"},
      {{"image", 2, 3}, true, "a picture"},
      {{"image", 2, 3}, false, "a picture"},
  };
  Peer peer;
  int n = 0;
  for (const auto& row : cases) {
    SCOPED_TRACE(testing::Message() << row.edit.field
                                    << (row.takenFirst ? ", taken before the close" : ", met by the save"));
    const QString file = path(QStringLiteral("deleted%1/solar.orrery").arg(n++));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
    Instance ours(createLocal(file, solarMap()), *presenter, app);
    peer.ask(QStringLiteral("open ") + file);
    const auto close = editInPanel(ours, row.edit, QFileInfo(file).path() + "/..");
    peer.ask(QStringLiteral("delete %1").arg(row.edit.child));
    if (row.takenFirst) ours.settle();
    close();
    uitest::advance(1.0);
    ASSERT_TRUE(waitFor([&] { return !ours.c().isUpdatingDocument(); }));
    for (int turn = 0; turn < 3; ++turn) {
      ours.settle();
      peer.ask(QStringLiteral("settle"));
    }
    const QStringList theirs = peer.ask(QStringLiteral("alerts"));
    ASSERT_EQ(theirs.size(), 1) << theirs.join('\n').toStdString();
    EXPECT_TRUE(theirs.front().contains(QStringLiteral("edited what you deleted, so it was kept: ") + row.named))
        << theirs.front().toStdString();
    EXPECT_TRUE(ours.alerts().isEmpty()) << ours.alerts().join('\n').toStdString();
    EXPECT_EQ(filesBeside(file), "solar.orrery");
    EXPECT_TRUE(holds(readTree(file), {row.edit})) << "the edit is in the map where the idea stood";
  }
  EXPECT_EQ(peer.finish(), 0) << "the peer's own checks held";
}

// Started together on one map, two instances each add a planet in the same second: two
// planets, each with an identifier of its own, so that renaming one (opened by a double click,
// which finds the planet's idea by its identifier) leaves the other as it was, untold.
TEST_F(TwoInstances, PlanetsAddedInOneSecondByTwoInstancesStayTwoIdeas) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  const QString file = path(QStringLiteral("one second/solar.orrery"));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
  const Opened made = createLocal(file, solarMap());
  ASSERT_GE(made.token, 1);
  orrery::PersistenceController::singleton().releaseDocument(made.doc, made.token, nullptr);
  const QString second = QString::number(QDateTime::currentSecsSinceEpoch());
  Peer a(second), b(second);
  a.ask(QStringLiteral("open ") + file);
  b.ask(QStringLiteral("open ") + file);
  const QStringList ofA = a.ask(QStringLiteral("add A's planet")), ofB = b.ask(QStringLiteral("add B's planet"));
  ASSERT_EQ(ofA.size(), 1);
  ASSERT_EQ(ofB.size(), 1);
  EXPECT_TRUE(ofA[0].startsWith("id" + second + "_") && ofB[0].startsWith("id" + second + "_"));
  EXPECT_NE(ofA[0].toStdString(), ofB[0].toStdString());
  auto settleBoth = [&] {
    for (int round = 0; round < 3; ++round) {
      a.ask(QStringLiteral("settle"));
      b.ask(QStringLiteral("settle"));
    }
  };
  settleBoth();
  a.ask(QStringLiteral("rename %1 A's planet renamed").arg(ofA[0]));
  settleBoth();

  const QString planetOfA = ofA[0] + QStringLiteral(" A's planet renamed"), planetOfB = ofB[0] + QStringLiteral(" B's planet");
  // In any order: who saved first decides which planet comes first.
  auto sorted = [](QStringList lines) {
    lines.sort();
    return lines.join(QLatin1Char('\n')).toStdString();
  };
  QStringList inFile;
  if (const IdeaPtr tree = readTree(file))
    for (const IdeaPtr& idea : tree->ideas()) inFile << (idea->identifier() + QLatin1Char(' ') + idea->text()).trimmed();
  EXPECT_EQ(inFile.size(), 6) << sorted(inFile);
  EXPECT_TRUE(inFile.contains(planetOfA) && inFile.contains(planetOfB)) << sorted(inFile);
  for (Peer* peer : {&a, &b}) {
    EXPECT_EQ(sorted(peer->ask(QStringLiteral("ideas"))), sorted(inFile)) << "each instance shows the file";
    EXPECT_EQ(peer->ask(QStringLiteral("alerts")).join(QLatin1Char('\n')).toStdString(), "") << "nothing was lost to tell";
  }
  EXPECT_EQ(a.finish(), 0);
  EXPECT_EQ(b.finish(), 0);
}

}  // namespace
