#pragma once
// What the radial view reports to its controller. The view decides what a gesture hit and
// reports it here; it never edits ideas itself. Main thread only.

#include "platform/ui/event.h"
#include "platform/ui/weak_ref.h"

#include <QRectF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace platform {
class Menu;
}

namespace orrery {

class SolarSystemDelegate : public virtual platform::Trackable {
 public:
  // An adder was tapped (its index and frame), or space asked for a new last idea.
  virtual void onAddNewIdeaAfterIndex(std::int64_t /*index*/, const QRectF& /*rect*/) {}
  // A single tap on the sun or a double tap on a planet.
  virtual void onEditIdea(const QString& /*ideaIdentifier*/) {}
  // A single tap on a planet, 300 ms after it was recognised.
  virtual void onDrillDownTo(const QString& /*ideaIdentifier*/) {}
  // A single tap on the parent idea.
  virtual void onDrillUp() {}
  // A long press on a planet: its frame and the event that started the gesture.
  virtual void startDragForIdea(const QString& /*ideaIdentifier*/, const QRectF& /*rect*/,
                                const std::optional<platform::Event>& /*event*/) {}
  // The context menu for an idea, or none.
  virtual std::shared_ptr<platform::Menu> onRightClickAtIdea(const QString& /*ideaIdentifier*/) { return nullptr; }
};

}  // namespace orrery
