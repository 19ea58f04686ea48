#include "app/preferences_panes.h"

#include "foundation/globals.h"
#include "platform/services/resources.h"
#include "platform/ui/native_host_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QWidget>

#include <algorithm>

namespace orrery {

namespace {

QIcon resourceIcon(const QString& name) {
  return QIcon(platform::pathForResource(name, QStringLiteral("png")));
}

}  // namespace

QIcon AdvancedPreferencesViewController::toolbarItemImage() const { return resourceIcon(QStringLiteral("prefs_advanced")); }

QString AdvancedPreferencesViewController::toolbarItemLabel() const {
  return Globals::normalLocalizedStringForKey(QString(), QStringLiteral("Advanced"));
}

std::shared_ptr<platform::View> AdvancedPreferencesViewController::view() {
  if (mView) return mView;
  auto* form = new QWidget;
  auto* layout = new QFormLayout(form);
  mTextSizePopup = new QComboBox(form);
  mHighContrastButton = new QCheckBox(QStringLiteral("Adjust text colour to the background"), form);
  layout->addRow(QStringLiteral("Text size:"), mTextSizePopup);
  layout->addRow(QStringLiteral("Contrast:"), mHighContrastButton);
  form->setTabOrder(mTextSizePopup, mHighContrastButton);
  mView = std::make_shared<platform::NativeHostView>(form);
  mView->setFrame(QRectF(0, 0, 420, 120));
  awakeFromNib();
  QObject::connect(mTextSizePopup, &QComboBox::activated, form, [this] { textSizeOptionChanged(); });
  QObject::connect(mHighContrastButton, &QCheckBox::toggled, form, [this] { contrastOptionChanged(); });
  return mView;
}

void AdvancedPreferencesViewController::awakeFromNib() {
  mTextSizeTitles.clear();
  for (const char* title : {"Tiny", "Small", "Normal", "Large", "Extra"})
    mTextSizeTitles << Globals::normalLocalizedStringForKey(QString(), QString::fromLatin1(title));
  mTextSizePopup->clear();
  mTextSizePopup->addItems(mTextSizeTitles);
  mTextSizePopup->setCurrentIndex(std::clamp(Globals::fontSizeFactor() - 3, 0, 4));
  const QSignalBlocker quiet(mHighContrastButton);
  mHighContrastButton->setChecked(Globals::highContrastText());
}

void AdvancedPreferencesViewController::textSizeOptionChanged() {
  Globals::changeFontSizeFactor(mTextSizePopup->currentIndex() + 3);
}

void AdvancedPreferencesViewController::contrastOptionChanged() {
  Globals::setHighContrastText(mHighContrastButton->checkState() == Qt::Checked);
}

}  // namespace orrery
