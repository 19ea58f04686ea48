#pragma once
// The preferences window's panes: "General" (iCloud and Dropbox storage) and "Advanced"
// (text size and high-contrast text). Each change goes through Globals at once.

#include "app/preferences_window_controller.h"
#include "model/document_location.h"
#include "platform/core/notification_center.h"

#include <QStringList>

#include <functional>

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

// Each row's button connects or disconnects its storage; the footer says where documents go
// or why the storage cannot be used.
class GeneralPreferencesViewController : public PreferencesViewController {
 public:
  GeneralPreferencesViewController();
  ~GeneralPreferencesViewController() override;

  QString identifier() const override { return QStringLiteral("GeneralPreferences"); }
  QIcon toolbarItemImage() const override;
  QString toolbarItemLabel() const override;
  std::shared_ptr<platform::View> view() override;

  QPushButton* iCloudConnectButton() const { return mICloudConnectButton; }
  QLabel* iCloudFooterText() const { return mICloudFooterText; }
  QPushButton* iCloudChangeButton() const { return mICloudChangeButton; }
  QPushButton* dropboxConnectButton() const { return mDropboxConnectButton; }
  QLabel* dropboxFooterText() const { return mDropboxFooterText; }

  void iCloudButtonPressed();
  // Asks for the folder the iCloud documents live in; only while iCloud is not chosen, so an
  // open workspace never has its folder changed under it.
  void changeICloudFolderPressed();
  void dropboxButtonPressed();
  void ensureDropboxChoiceValue();
  void ensureICloudChoiceValue();
  static void setCloudImageForButton(QPushButton* button, DocumentLocation location);
  // The image name a location's status shows: "cloud", "sync" or "error".
  static QString cloudImageNameForLocation(DocumentLocation location);

 private:
  void refresh();
  // Runs `leave` once every window holding an edit of the location has had its say.
  static void leaveLocation(DocumentLocation location, std::function<void()> leave);

  std::shared_ptr<platform::NativeHostView> mView;
  QPushButton* mICloudConnectButton = nullptr;
  QLabel* mICloudFooterText = nullptr;
  QPushButton* mICloudChangeButton = nullptr;
  QPushButton* mDropboxConnectButton = nullptr;
  QLabel* mDropboxFooterText = nullptr;
  bool mBrowserFailed = false;
  std::shared_ptr<int> mAlive = std::make_shared<int>(0);
  platform::ObserverScope mObservers;
};

}  // namespace orrery
