#include "platform/ui/native_host_view.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QLineEdit>

#include <gtest/gtest.h>

using namespace platform;

TEST(NativeHost, WidgetFollowsTheViewsWindowFrameVisibilityAndFocus) {
  Window window(QSizeF(400, 300));
  auto root = std::make_shared<View>();
  window.setContentView(root);
  auto panel = std::make_shared<View>(QRectF(50, 40, 300, 200));
  auto field = std::make_shared<NativeHostView>(new QLineEdit);
  field->setFrame(QRectF(10, 20, 120, 24));
  panel->addSubview(field);
  root->addSubview(panel);
  window.displayIfNeeded();
  ASSERT_EQ(field->widget()->parentWidget(), window.canvas());
  EXPECT_EQ(field->widget()->geometry(), QRect(60, 60, 120, 24));
  EXPECT_FALSE(field->widget()->isHidden());

  panel->setFrameOrigin(QPointF(0, 0));
  panel->setHidden(true);
  window.displayIfNeeded();
  EXPECT_EQ(field->widget()->geometry(), QRect(10, 20, 120, 24));
  EXPECT_TRUE(field->widget()->isHidden());  // hidden with an ancestor

  panel->setHidden(false);
  EXPECT_TRUE(window.makeFirstResponder(field.get()));
  EXPECT_EQ(window.firstResponder(), field.get());

  field->removeFromSuperview();  // leaving the window takes the widget out of the canvas
  EXPECT_EQ(field->widget()->parentWidget(), nullptr);
  EXPECT_EQ(window.firstResponder(), &window);
}
