#pragma once
// The preferences window's panes: "General" (iCloud and Dropbox storage) and "Advanced"
// (text size and high-contrast text). Each change goes through Globals at once.

#include "app/preferences_window_controller.h"
#include "platform/core/notification_center.h"

#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace platform {
class NativeHostView;
}

namespace orrery {

class AdvancedPreferencesViewController : public PreferencesViewController {
 public:
  QString identifier() const override { return QStringLiteral("AdvancedPreferences"); }
  QIcon toolbarItemImage() const override;
  QString toolbarItemLabel() const override;
  std::shared_ptr<platform::View> view() override;

  QComboBox* textSizePopup() const { return mTextSizePopup; }
  QCheckBox* highContrastButton() const { return mHighContrastButton; }

  void textSizeOptionChanged();
  void contrastOptionChanged();

 private:
  void awakeFromNib();

  std::shared_ptr<platform::NativeHostView> mView;
  QComboBox* mTextSizePopup = nullptr;
  QCheckBox* mHighContrastButton = nullptr;
  QStringList mTextSizeTitles;
};

}  // namespace orrery
