#pragma once
// What the radial-view tests share: a window with a container and a radial view filling it,
// a delegate that records every report, ideas with colours, and angle helpers.

#include "editor/solar_system.h"
#include "platform/ui/application.h"
#include "foundation/views/container_window.h"
#include "model/color_theme.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QWidget>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace solartest {

struct RecordingDelegate : orrery::SolarSystemDelegate {
  struct Add {
    std::int64_t index;
    QRectF rect;
  };
  std::vector<Add> adds;
  std::vector<QString> edits, drills, rightClicks;
  int drillUps = 0;
  struct Drag {
    QString identifier;
    QRectF rect;
    std::optional<platform::Event> event;
  };
  std::vector<Drag> drags;

  void onAddNewIdeaAfterIndex(std::int64_t index, const QRectF& rect) override { adds.push_back({index, rect}); }
  void onEditIdea(const QString& id) override { edits.push_back(id); }
  void onDrillDownTo(const QString& id) override { drills.push_back(id); }
  void onDrillUp() override { ++drillUps; }
  void startDragForIdea(const QString& id, const QRectF& rect, const std::optional<platform::Event>& event) override {
    drags.push_back({id, rect, event});
  }
  std::shared_ptr<platform::Menu> onRightClickAtIdea(const QString& id) override {
    rightClicks.push_back(id);
    return nullptr;
  }
  size_t total() const { return adds.size() + edits.size() + drills.size() + rightClicks.size() + drags.size() + drillUps; }
};

inline double degrees(float radians) { return radians * 180.0 / std::numbers::pi; }
inline float radians(double degrees) { return static_cast<float>(degrees * std::numbers::pi / 180.0); }

inline orrery::ColorPtr anyColor(int i) {
  const auto& themes = orrery::ColorTheme::standardThemes();
  const auto& colors = themes.front()->colors();
  return colors[static_cast<size_t>(i) % colors.size()];
}

inline orrery::IdeaPtr idea(const QString& text, int colour = 0) {
  auto i = orrery::Idea::createWithText(text);
  i->setColor(anyColor(colour));
  return i;
}

// A window of `size` whose container holds a radial view over its whole content.
struct Scene {
  explicit Scene(QSizeF size = QSizeF(1000, 800)) {
    shown = orrery::showContainerWindow(QStringLiteral("radial"), size);
    view = orrery::SolarSystem::create(QRectF(QPointF(0, 0), size), QStringLiteral("temp:/doc"));
    shown.containerView->addSubview(view);
    view->setDelegate(&delegate);
    shown.window->displayIfNeeded();
  }
  ~Scene() {
    view->stopAnimations();
    uitest::advance(1.0);
    shown.window->close();
  }
  platform::Window& window() { return *shown.window; }
  QPointF planetCenter(std::int64_t i) const { return view->ideaViewAtIndex(i)->position(); }
  QPointF adderCenter(std::int64_t i) const {
    return view->ideaAdderViewAtIndex(i)->frame().center();
  }
  // The sun and `count` planets, filled as the controller does.
  orrery::IdeaPtr fill(int count, bool withParent = false) {
    root = idea(QStringLiteral("sun"), 1);
    if (withParent) {
      parent = idea(QStringLiteral("parent"), 2);
      parent->addIdea(root);
      view->setParentIdea(parent, false);
    }
    view->startUpdate();
    view->setCentralIdea(root);
    view->reservePlanets(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      auto child = idea(QStringLiteral("child %1").arg(i), i + 3);
      root->addIdea(child);
      view->addIdea(child);
    }
    view->endUpdate();
    view->applyLayout();
    return root;
  }
  void send(platform::EventType type, QPointF p, int clicks = 1, int button = 0) {
    platform::Event e = platform::Event::mouse(type, p, uitest::clock().now(), clicks);
    e.buttonNumber = button;
    window().sendEvent(e);
  }
  void click(QPointF p, int clicks = 1) {
    send(platform::EventType::LeftMouseDown, p, clicks);
    send(platform::EventType::LeftMouseUp, p, clicks);
  }

  orrery::ContainerWindow shown;
  std::shared_ptr<orrery::SolarSystem> view;
  RecordingDelegate delegate;
  orrery::IdeaPtr root, parent;
};

}  // namespace solartest
