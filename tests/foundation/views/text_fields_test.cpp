#include "foundation/globals.h"
#include "foundation/views/base_view.h"
#include "foundation/views/custom_text_field.h"
#include "foundation/views/search_text_field.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;
using platform::Menu;

namespace {

std::vector<QString> titles(const Menu& menu) {
  std::vector<QString> result;
  for (const auto& item : menu.items()) result.push_back(item->isSeparator() ? QString("-") : item->title());
  return result;
}

const std::vector<QString> kReduced = {"Cut", "Copy", "Paste", "-", "Make Upper Case", "Make Lower Case",
                                       "Capitalize", "-"};

std::shared_ptr<platform::MenuItem> itemWithAction(const Menu& menu, const QString& action) {
  for (const auto& item : menu.items())
    if (item->action() == action) return item;
  return nullptr;
}

// The red channel of the outline at the middle of the field's left edge.
int outlineRed(SearchTextField& field) { return field.snapshot().pixelColor(0, 11).red(); }

}  // namespace

TEST(SearchTextField, TypedTextAndFocusDecideTheOutline) {
  platform::Window window(QSizeF(400, 100));
  auto content = std::make_shared<BaseView>();
  window.setContentView(content);
  auto field = std::make_shared<SearchTextField>(1);
  content->addSubview(field);
  EXPECT_EQ(field->frame(), QRectF(0, 0, 326, 22));
  EXPECT_EQ(field->hostedField()->frame(), QRectF(28, 3, 326 - 58, 16));
  EXPECT_EQ(field->cell().cancelButtonRectForBounds(QRectF(10, 0, 100, 22)), QRectF(80, 0, 16, 22));
  EXPECT_EQ(field->cell().searchButtonRectForBounds(QRectF(10, 0, 100, 22)), QRectF(14, 0, 16, 22));

  // Empty and without focus: the 2-point white outline.
  EXPECT_EQ(outlineRed(*field), 255);
  EXPECT_EQ(field->snapshot().pixelColor(0, 11).alpha(), 255);

  QTest::keyClicks(field->lineEdit(), "planets");
  EXPECT_EQ(field->stringValue(), "planets");
  EXPECT_LT(outlineRed(*field), 110) << "style 1 with text: dark grey";

  // The clear button empties the field as a typed change; focused and empty, the style outline stays.
  std::vector<QString> edits;
  QObject::connect(field->lineEdit(), &QLineEdit::textEdited, [&edits](const QString& t) { edits.push_back(t); });
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(326 - 12, 11)));
  window.sendEvent(Event::mouse(EventType::LeftMouseUp, QPointF(326 - 12, 11)));
  EXPECT_EQ(field->stringValue(), "");
  EXPECT_EQ(edits, std::vector<QString>{QString()}) << "listeners of typed changes hear the clearing";
  EXPECT_TRUE(field->showsFirstResponder());
  EXPECT_LT(outlineRed(*field), 110);

  window.makeFirstResponder(nullptr);
  uitest::advance(0.01);
  EXPECT_EQ(outlineRed(*field), 255);

  SearchTextField light(0);
  light.setStringValue("x");
  const int red = outlineRed(light);
  EXPECT_GT(red, 120);
  EXPECT_LT(red, 180) << "the light grey outline of other styles";
}

TEST(TextFieldMenu, KeepsOnlyClipboardAndCaseItemsOfWhatTheFieldOffers) {
  QLineEdit edit("hello world");
  const auto offered = CustomTextField::offeredMenu(&edit);
  EXPECT_NE(itemWithAction(*offered, "undo"), nullptr);
  EXPECT_NE(itemWithAction(*offered, "selectAll"), nullptr);
  const auto reduced = CustomTextField::createTextFieldMenuFrom(*offered);
  EXPECT_EQ(titles(*reduced), kReduced);

  Menu foreign;
  foreign.addActionItem("Speak", "startSpeaking");
  auto spelling = std::make_shared<platform::MenuItem>("Spelling", platform::MenuItem::Handler());
  spelling->setSubmenu(std::make_shared<Menu>());
  spelling->submenu()->addActionItem("Check Now", "checkSpelling");
  foreign.addItem(spelling);
  EXPECT_EQ(titles(*CustomTextField::createTextFieldMenuFrom(foreign)), std::vector<QString>{"-"});

  // Nested twice: the case items still land in the flat menu.
  Menu nested;
  nested.addActionItem("Copy", "copy");
  auto outer = std::make_shared<platform::MenuItem>("Outer", platform::MenuItem::Handler());
  outer->setSubmenu(std::make_shared<Menu>());
  auto inner = std::make_shared<platform::MenuItem>("Inner", platform::MenuItem::Handler());
  inner->setSubmenu(std::make_shared<Menu>());
  inner->submenu()->addActionItem("Upper", "uppercaseWord");
  outer->submenu()->addItem(inner);
  nested.addItem(outer);
  EXPECT_EQ(titles(*CustomTextField::createTextFieldMenuFrom(nested)),
            (std::vector<QString>{"Copy", "-", "Upper", "-"}));
}

TEST(TextFieldMenu, CaseItemsChangeTheSelectionOrTheWordAtTheCaret) {
  QLineEdit edit("hello wide world");
  auto run = [&](const char* action) {
    const auto menu = CustomTextField::createTextFieldMenuFrom(*CustomTextField::offeredMenu(&edit));
    itemWithAction(*menu, action)->perform();
  };
  edit.setCursorPosition(2);
  run("uppercaseWord");
  EXPECT_EQ(edit.text(), "HELLO wide world");
  edit.setSelection(6, 10);
  run("capitalizeWord");
  EXPECT_EQ(edit.text(), "HELLO Wide World");
  EXPECT_EQ(edit.selectedText(), "Wide World");
  edit.setCursorPosition(0);
  run("lowercaseWord");
  EXPECT_EQ(edit.text(), "hello Wide World");
  edit.undo();
  EXPECT_EQ(edit.text(), "HELLO Wide World") << "one undo step per change";
  edit.setText("  ");
  edit.setCursorPosition(1);
  run("uppercaseWord");  // no word at the caret
  EXPECT_EQ(edit.text(), "  ");
}

TEST(TextFieldMenu, ARightClickInTheFieldPopsUpTheReducedMenu) {
  uitest::PresenterScope presenter;
  platform::Window window(QSizeF(400, 100));
  auto content = std::make_shared<BaseView>();
  window.setContentView(content);
  auto field = std::make_shared<CustomTextField>();
  field->setFrame(QRectF(0, 0, 200, 30));
  content->addSubview(field);
  field->setText("orbit");
  field->field()->lineEdit()->setCursorPosition(1);
  presenter->menuAnswers.push_back(4);  // Make Upper Case
  emit field->field()->lineEdit()->customContextMenuRequested(QPoint(5, 5));
  ASSERT_EQ(presenter->menuLocations.size(), 1u);
  EXPECT_EQ(field->text(), "ORBIT");
}

TEST(CustomTextField, InnerFieldInsetAndLightFrame) {
  CustomTextField field;
  const QRectF before = field.field()->frame();
  field.applyLayout();
  EXPECT_EQ(field.field()->frame(), before) << "empty bounds leave the inner field alone";
  field.setFrame(QRectF(0, 0, 200, 30));
  EXPECT_EQ(field.field()->frame(), QRectF(9, 3, 182, 24));
  field.setText("note");
  EXPECT_EQ(field.text(), "note");
  EXPECT_EQ(field.snapshot().pixelColor(0, 15).rgb(), Globals::colorLightGray().rgb());
}
