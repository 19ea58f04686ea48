#pragma once
// The words a window and its screen controller use about an idea drag: where a drop would
// land (DragReturnTarget), what one drag looks like from one window (DragInfo,
// DragInfoForIdea) and what the window tells the controller (DragSupportDelegate). The window
// runs the drag; the controller decides what a drop means. Main thread only.

#include "model/idea.h"

#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace orrery {

// What a drop would land on, or where a drag came from.
using DragTargetObject = std::uint64_t;
inline constexpr DragTargetObject kDragTargetNothing = 0;
inline constexpr DragTargetObject kDragTargetContent = 1;
inline constexpr DragTargetObject kDragTargetDock = 2;
inline constexpr DragTargetObject kDragTargetDeleteArea = 3;
inline constexpr DragTargetObject kDragTargetStart = 4;

// Where a drag comes from, as the window handling it sees it.
using DragSourceKind = std::uint64_t;
inline constexpr DragSourceKind kDragSourceThisWindow = 0;
inline constexpr DragSourceKind kDragSourceOtherWindow = 1;
inline constexpr DragSourceKind kDragSourceOutside = 2;

using DragObjectType = std::uint64_t;
inline constexpr DragObjectType kDragObjectIdea = 0;
inline constexpr DragObjectType kDragObjectFile = 1;

// The outcome of a drag: refused (the picture flies back), the idea left its place, or it was
// accepted while its source keeps it.
using DragResult = std::uint64_t;
inline constexpr DragResult kDragResultRefused = 0;
inline constexpr DragResult kDragResultMoved = 1;
inline constexpr DragResult kDragResultKept = 2;

// Passed by value. `area` is in window coordinates; within `gravityRadius` of its centre the
// floating planet shrinks towards the area (0: no pull).
struct DragReturnTarget {
  DragTargetObject object = kDragTargetNothing;
  QRectF area;
  double gravityRadius = 0;
};

class BaseView;

// A planet as the drag window sees it: the editor's idea views implement it, so the window
// can float copies of planets it knows nothing else about.
class DraggablePlanet {
 public:
  virtual ~DraggablePlanet() = default;
  virtual const QString& ideaIdentifier() const = 0;
  // Empty for an idea of no document.
  virtual const QString& docIdentifier() const = 0;
  virtual QString representativeTitle() const = 0;
  // Redraws the planet at the scale and resizes the view about its centre.
  virtual void setScale(double scale) = 0;
  // A new planet of the drag-copy kind showing the same idea; none when there is no such copy.
  virtual std::shared_ptr<DraggablePlanet> copyPlanetForDragging() const = 0;
  virtual BaseView& planetView() = 0;
  std::shared_ptr<BaseView> sharedPlanetView();
};

// One drag as one window sees it; every field starts zero.
class DragInfo {
 public:
  virtual ~DragInfo() = default;
  QPointF location;  // window coordinates
  DragSourceKind source = kDragSourceThisWindow;
  DragReturnTarget returnTarget;
  DragObjectType objectType = kDragObjectIdea;
};

class DragInfoForIdea : public DragInfo {
 public:
  QString ideaIdentifier;
  // Empty for an idea of no document (one parked in a dock from a file or an import).
  QString docIdentifier;
};

// Adopted by the screen controller a window hosts.
class DragSupportDelegate {
 public:
  using ResultCompletion = std::function<void(DragResult)>;
  virtual ~DragSupportDelegate() = default;
  // A drag entered the window; false refuses it.
  virtual bool dragOperationStarted(const DragInfo& info) = 0;
  // Where a drop at the current location would land.
  virtual DragReturnTarget dragOperationUpdate(const DragInfo& info) = 0;
  // A drag that started in this window left it.
  virtual void dragOperationExited() = 0;
  // An idea was dropped and loaded; the completion runs once with the result.
  virtual void dragOperationEnded(const DragInfo& info, const IdeaPtr& idea, const QString& docIdentifier,
                                  ResultCompletion completion) = 0;
  // The drag is over for this window without an acceptance in it.
  virtual void dragOperationEndedWithResult(const DragInfo* info, DragResult result) = 0;
};

}  // namespace orrery
