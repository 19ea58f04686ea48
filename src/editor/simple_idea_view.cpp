#include "editor/simple_idea_view.h"

#include "foundation/globals.h"
#include "foundation/logging.h"

namespace orrery {

namespace {

constexpr int kUpdateWithoutIdeaLine = 206;
constexpr char kUpdateWithIdeaOperation[] = "-[SimpleIdeaView updateWithIdea:inDocument:]";

}  // namespace

SimpleIdeaView::SimpleIdeaView(IdeaViewRole role) : IdeaView(role, PlanetLayer::layer()) {
  mPlanetLayer = std::static_pointer_cast<PlanetLayer>(layer());
  mPlanetLayer->setContentsGravity(platform::ContentsGravity::Center);
  mPlanetLayer->setPlanetType(planetTypeForRole(role));
  if (role == 3) mPlanetLayer->setApproximateRendering(true);
  static const ColorPtr kGrey = std::make_shared<const Color>(QStringLiteral("grey"), QColor::fromRgbF(0.5, 0.5, 0.5, 1.0));
  mPlanetLayer->setBaseColor(kGrey);
  mAppearanceObserver.observe(GlobalsAppearanceSettingsChangedNotification, nullptr,
                              [this](const platform::Notification&) { appearanceSettingsChanged(); });
}

SimpleIdeaView::SimpleIdeaView(const QString& text, IdeaViewRole role) : SimpleIdeaView(role) { changeText(text); }

PlanetType SimpleIdeaView::planetTypeForRole(IdeaViewRole role) {
  switch (role) {
    case 1: return 1;
    case 2: return 6;
    default: return 0;
  }
}

void SimpleIdeaView::setScale(double scale) {
  mPlanetLayer->setScale(scale);
  const double side = sideLengthForRole(role()) * scale;
  const QRectF f = frame();
  setFrame(QRectF(f.x() + (f.width() - side) / 2, f.y() + (f.height() - side) / 2, side, side));
}

platform::View* SimpleIdeaView::hitTest(const QPointF& pointInSuperview) {
  if (role() == 3) return nullptr;
  return IdeaView::hitTest(pointInSuperview);
}

void SimpleIdeaView::setShadowMode(bool shadow) {
  if (shadow == IdeaView::shadowMode()) return;
  IdeaView::setShadowMode(shadow);
  mPlanetLayer->setShadowMode(shadow);
}

std::shared_ptr<IdeaView> SimpleIdeaView::copyForDragging() const {
  auto copy = std::make_shared<SimpleIdeaView>(text(), 3);
  copy->setIdeaIdentifier(ideaIdentifier());
  copy->setDocIdentifier(docIdentifier());
  copy->layer()->setZPosition(1.0);
  copy->setBaseColor(baseColor());
  copy->setImage(image());
  copy->setIconImage(iconImage());
  copy->setNote(note());
  copy->setHasWebLink(hasWebLink());
  copy->setShowOrbit(showOrbit());
  copy->setIsLink(isLink());
  return copy;
}

void SimpleIdeaView::updateWithIdea(const IdeaPtr& idea, const QString& docIdentifier) {
  if (!idea) softAssertionFailed(kUpdateWithoutIdeaLine, kUpdateWithIdeaOperation);
  changeText(idea ? idea->text() : QString());
  setNote(idea ? idea->note() : QString());
  setIconImage(idea ? idea->iconImage() : nullptr);
  setHasWebLink(idea && idea->hasURL());
  setBaseColor(idea ? idea->color() : nullptr);
  setImage(idea ? idea->image() : KitImage());
  setIdeaIdentifier(idea ? idea->identifier() : QString());
  setDocIdentifier(docIdentifier);
}

void SimpleIdeaView::appearanceSettingsChanged() {
  updateAppearance();
}

}  // namespace orrery
