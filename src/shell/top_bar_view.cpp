#include "shell/top_bar_view.h"

#include "foundation/globals.h"
#include "foundation/image_extensions.h"
#include "foundation/views/search_text_field.h"
#include "foundation/views/view_extensions.h"
#include "platform/core/dispatch.h"
#include "platform/ui/window.h"
#include "shell/my_window.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>

namespace orrery {
using namespace viewext;
using imageext::deviceImageNamed;
namespace {

// Escape typed into the field: the line edit itself ignores it.
class EscapeWatcher final : public QObject {
 public:
  EscapeWatcher(QObject* parent, platform::WeakRef<TopBarView> bar) : QObject(parent), mBar(bar) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
      if (TopBarView* bar = mBar.get()) bar->cancelOperation();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  platform::WeakRef<TopBarView> mBar;
};

constexpr double kStorageGlyphSize = 16;
constexpr double kStorageGlyphGap = 8;  // between the glyph and the search field

}  // namespace

TopBarView::TopBarView() : BaseView(QRectF(0, 0, 0, preferredHeight())) {
  mSearchTextField = std::make_shared<SearchTextField>(0);
  addSubview(mSearchTextField);
  platform::WeakRef<TopBarView> self(this);
  QLineEdit* edit = mSearchTextField->lineEdit();
  QObject::connect(edit, &QLineEdit::textEdited, edit, [self] {
    if (TopBarView* bar = self.get()) bar->controlTextDidChange();
  });
  QObject::connect(edit, &QLineEdit::editingFinished, edit, [self] {
    if (TopBarView* bar = self.get()) bar->controlTextDidEndEditing();
  });
  auto previous = mSearchTextField->hostedField()->onFocusChange;
  mSearchTextField->hostedField()->onFocusChange = [self, previous] {
    if (previous) previous();
    // Asked after the window has finished moving its first responder.
    platform::mainQueue().async([self] {
      TopBarView* bar = self.get();
      if (bar && bar->mSearchTextField->showsFirstResponder() && !bar->mIsEditing) bar->controlTextDidBeginEditing();
    });
  };
  mFieldWatcher = new EscapeWatcher(edit, self);
  edit->installEventFilter(mFieldWatcher);
  setNeedsDisplay();
}

TopBarView::~TopBarView() = default;

std::shared_ptr<ButtonView> TopBarView::makeButton(const char* image, const char* activeImage) {
  auto button = std::make_shared<ButtonView>(deviceImageNamed(QString::fromLatin1(image)),
                                             deviceImageNamed(QString::fromLatin1(activeImage)));
  button->setFrame(QRectF(0, 0, 28, 28));
  button->setDelegate(this);
  addSubview(button);
  return button;
}

void TopBarView::switchButton(std::shared_ptr<ButtonView>& button, bool on, const char* image,
                              const char* activeImage) {
  if (on && !button) {
    button = makeButton(image, activeImage);
  } else if (!on && button) {
    button->removeFromSuperview();
    button.reset();
  }
  setNeedsLayout();
  forceDirtyLayout();
}

void TopBarView::setStorageStatus(const QString& imageName, const QString& toolTip) {
  if (imageName.isEmpty()) {
    if (mStorageStatusView) mStorageStatusView->removeFromSuperview();
    mStorageStatusView.reset();
    return;
  }
  if (!mStorageStatusView) {
    mStorageStatusView = std::make_shared<BaseImageView>(QRectF(0, 0, kStorageGlyphSize, kStorageGlyphSize));
    mStorageStatusView->setImageScaling(platform::ImageScaling::ProportionallyUpOrDown);
    addSubview(mStorageStatusView);
  }
  mStorageStatusView->setImage(deviceImageNamed(imageName), QSizeF(kStorageGlyphSize, kStorageGlyphSize));
  mStorageStatusView->setToolTip(toolTip);
  setNeedsLayout();
  forceDirtyLayout();
}

void TopBarView::viewDidMoveToWindow() {
  BaseView::viewDidMoveToWindow();
  if (auto* shell = dynamic_cast<MyWindow*>(window()))
    setStorageStatus(shell->cloudIconName(), shell->cloudIconToolTip());
}

void TopBarView::setHomeAction(bool on) { switchButton(mHomeButton, on, "home_icon", "home_icon_active"); }

void TopBarView::setContentAction(bool on) {
  switchButton(mContentButton, on, "add_image_icon", "add_image_icon_active");
}

void TopBarView::setMindmapToggleAction(bool on, bool toggled) {
  if (on) {
    if (!mMindmapToggleButton) {
      mMindmapToggleButton = makeButton("mindmap_icon", "mindmap_icon_active");
      mMindmapToggleButton->setIsToggleButton(true);
    }
    mMindmapToggleButton->setToggled(toggled);
    hideToggleWhileSearching();
  } else if (mMindmapToggleButton) {
    mMindmapToggleButton->removeFromSuperview();
    mMindmapToggleButton.reset();
  }
  setNeedsLayout();
  forceDirtyLayout();
  setNeedsDisplay();
}

void TopBarView::hideToggleWhileSearching() {
  if (mMindmapToggleButton) mMindmapToggleButton->setHidden(hasSearchContent());
}

void TopBarView::setCurrentSearchText(const QString& text) {
  mSearchTextField->setStringValue(text);
  mPrevCommunicatedSearchText = text.isNull() ? QStringLiteral("") : text;
  hideToggleWhileSearching();
  forceDirtyLayout();
  setNeedsDisplay();
}

QString TopBarView::currentSearchText() const {
  const QString text = mSearchTextField->stringValue();
  return text.isNull() ? QStringLiteral("") : text;
}

bool TopBarView::isEditingSearchText() const {
  const QLineEdit* edit = mSearchTextField->lineEdit();
  return mIsEditing && (mSearchTextField->showsFirstResponder() || (edit && edit->hasFocus()));
}

void TopBarView::startEditingSearchText() {
  if (QLineEdit* edit = mSearchTextField->lineEdit()) {
    edit->selectAll();
    edit->deselect();
    edit->setCursorPosition(static_cast<int>(edit->text().size()));
  }
  if (platform::Window* w = window()) w->makeFirstResponder(mSearchTextField->hostedField().get());
}

void TopBarView::controlTextDidBeginEditing() {
  mIsEditing = true;
  hideToggleWhileSearching();
  setNeedsDisplay();
}

void TopBarView::controlTextDidChange() {
  mIsEditing = true;
  hideToggleWhileSearching();
  forceDirtyLayout();
  setNeedsDisplay();
  platform::WeakRef<TopBarView> self(this);
  platform::mainQueue().async([self] {
    if (TopBarView* bar = self.get()) bar->notifyDelegate();
  });
}

void TopBarView::controlTextDidEndEditing() { stopEditing(); }

void TopBarView::cancelOperation() {
  // Escape empties the search, as search fields do on every desktop; the grid shows all again.
  mSearchTextField->lineEdit()->clear();
  platform::WeakRef<TopBarView> self(this);
  platform::mainQueue().async([self] {
    if (TopBarView* bar = self.get()) bar->stopEditing();
  });
}

void TopBarView::stopEditing() {
  mIsEditing = false;
  hideToggleWhileSearching();
  forceDirtyLayout();
  setNeedsDisplay();
  notifyDelegate();
}

void TopBarView::notifyDelegate() {
  const QString text = currentSearchText();
  const bool changed = text != mPrevCommunicatedSearchText;
  mPrevCommunicatedSearchText = text;
  if (TopBarViewDelegate* d = mDelegate.get()) d->topBarSearchStatusDidChange(changed);
}

void TopBarView::buttonPressed(ButtonView& button) {
  mLastEvent = button.lastEvent();
  TopBarActionKind kind = 0;
  if (&button == mHomeButton.get())
    kind = kTopBarActionHome;
  else if (&button == mMindmapToggleButton.get())
    kind = kTopBarActionMindmapToggle;
  else if (&button == mContentButton.get())
    kind = kTopBarActionContent;
  if (kind == 0) return;
  if (TopBarViewDelegate* d = mDelegate.get()) d->topBarAction(kind, button.frame());
}

void TopBarView::applyLayout() {
  const double w = bounds().width();
  const double h = bounds().height();
  setCenter(*mSearchTextField, QPointF(w / 2, h / 2));
  ensureIntegralFrame(*mSearchTextField);
  if (mStorageStatusView) {
    setMiddleRightPosition(*mStorageStatusView, QPointF(mSearchTextField->frame().left() - kStorageGlyphGap, h / 2));
    ensureIntegralFrame(*mStorageStatusView);
  }
  if (mHomeButton) {
    setMiddleLeftPosition(*mHomeButton, QPointF(14, h / 2));
    ensureIntegralFrame(*mHomeButton);
  }
  double x = w - 14;
  if (mMindmapToggleButton && !mMindmapToggleButton->isHidden()) {
    setMiddleRightPosition(*mMindmapToggleButton, QPointF(x, h / 2));
    ensureIntegralFrame(*mMindmapToggleButton);
    x = mMindmapToggleButton->frame().left() - 10;
  }
  if (mContentButton) {
    setMiddleRightPosition(*mContentButton, QPointF(x, h / 2));
    ensureIntegralFrame(*mContentButton);
  }
  setNeedsDisplay();
}

void TopBarView::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  const bool highlighted = hasSearchContent() || (mMindmapToggleButton && mMindmapToggleButton->toggled());
  painter.fillRect(dirtyRect, highlighted ? Globals::colorGrayD7DEE4() : Globals::colorGray91());
  BaseView::drawRect(painter, dirtyRect);
}

}  // namespace orrery
