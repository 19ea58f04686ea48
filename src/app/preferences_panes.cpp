#include "app/preferences_panes.h"

#include "app/app_delegate.h"

#include "foundation/globals.h"
#include "model/persistence_controller.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/cloud/remote_routes.h"
#include "platform/core/dispatch.h"
#include "platform/services/user_defaults.h"
#include "platform/ui/modal_presenter.h"
#include "platform/services/resources.h"
#include "platform/ui/native_host_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
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

// General pane.

GeneralPreferencesViewController::GeneralPreferencesViewController() {
  // The defaults notice may come from any thread; the rows change on the main queue only.
  auto hop = [alive = std::weak_ptr<int>(mAlive), this](const platform::Notification&) {
    platform::mainQueue().async([alive, this] {
      if (alive.lock()) refresh();
    });
  };
  mObservers.observe(PersistenceStateChangeNotification, nullptr, hop);
  mObservers.observe(platform::kUserDefaultsDidChangeNotification, nullptr, hop);
}

GeneralPreferencesViewController::~GeneralPreferencesViewController() { mObservers.stopObserving(); }

QIcon GeneralPreferencesViewController::toolbarItemImage() const { return resourceIcon(QStringLiteral("prefs_general")); }

QString GeneralPreferencesViewController::toolbarItemLabel() const {
  return Globals::normalLocalizedStringForKey(QString(), QStringLiteral("General"));
}

std::shared_ptr<platform::View> GeneralPreferencesViewController::view() {
  if (mView) return mView;
  auto* form = new QWidget;
  auto* layout = new QFormLayout(form);
  mICloudConnectButton = new QPushButton(form);
  mICloudFooterText = new QLabel(form);
  mDropboxConnectButton = new QPushButton(form);
  mDropboxFooterText = new QLabel(form);
  for (QLabel* footer : {mICloudFooterText, mDropboxFooterText}) footer->setWordWrap(true);
  layout->addRow(QStringLiteral("iCloud:"), mICloudConnectButton);
  layout->addRow(QString(), mICloudFooterText);
  mICloudChangeButton = new QPushButton(QStringLiteral("Change…"), form);
  layout->addRow(QString(), mICloudChangeButton);
  layout->addRow(QStringLiteral("Dropbox:"), mDropboxConnectButton);
  layout->addRow(QString(), mDropboxFooterText);
  form->setTabOrder(mICloudConnectButton, mICloudChangeButton);
  form->setTabOrder(mICloudChangeButton, mDropboxConnectButton);
  QObject::connect(mICloudChangeButton, &QPushButton::clicked, form, [this] { changeICloudFolderPressed(); });
  QObject::connect(mICloudConnectButton, &QPushButton::clicked, form, [this] { iCloudButtonPressed(); });
  QObject::connect(mDropboxConnectButton, &QPushButton::clicked, form, [this] { dropboxButtonPressed(); });
  mView = std::make_shared<platform::NativeHostView>(form);
  mView->setFrame(QRectF(0, 0, 480, 200));
  refresh();
  return mView;
}

void GeneralPreferencesViewController::refresh() {
  if (!mView) return;
  ensureDropboxChoiceValue();
  ensureICloudChoiceValue();
}

QString GeneralPreferencesViewController::cloudImageNameForLocation(DocumentLocation location) {
  auto& persistence = PersistenceController::singleton();
  const WorkspaceStatus status =
      persistence.workspaceForLocation(location) ? persistence.statusForLocation(location) : WorkspaceStatusUnavailable;
  if (status == WorkspaceStatusStarting || status == WorkspaceStatusLoading) return QStringLiteral("sync");
  if (status == WorkspaceStatusUnavailable) return QStringLiteral("error");
  return QStringLiteral("cloud");
}

void GeneralPreferencesViewController::setCloudImageForButton(QPushButton* button, DocumentLocation location) {
  const QString name = cloudImageNameForLocation(location);
  button->setIcon(resourceIcon(name));
  button->setProperty("cloudImage", name);
}

void GeneralPreferencesViewController::ensureICloudChoiceValue() {
  const bool chosen = Globals::userHasOptedForICloud();
  mICloudConnectButton->setText(chosen ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
  if (chosen) {
    setCloudImageForButton(mICloudConnectButton, DocumentLocationICloud);
  } else {
    mICloudConnectButton->setIcon(QIcon());
    mICloudConnectButton->setProperty("cloudImage", QVariant());
  }
  mICloudChangeButton->setEnabled(!chosen);
  const QString folder = platform::LocalFolderContainer::root().path;
  if (chosen && cloudImageNameForLocation(DocumentLocationICloud) == QLatin1String("error"))
    mICloudFooterText->setText(QStringLiteral("The iCloud folder %1 cannot be reached.").arg(folder));
  else if (chosen)
    mICloudFooterText->setText(QStringLiteral("Documents are kept in %1.").arg(folder));
  else
    mICloudFooterText->setText(QStringLiteral("Connect to keep documents in %1.").arg(folder));
}

void GeneralPreferencesViewController::ensureDropboxChoiceValue() {
  const bool chosen = Globals::userHasOptedForDropbox();
  mDropboxConnectButton->setText(chosen ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
  if (chosen) {
    setCloudImageForButton(mDropboxConnectButton, DocumentLocationDropbox);
    mBrowserFailed = false;
  } else {
    mDropboxConnectButton->setIcon(QIcon());
    mDropboxConnectButton->setProperty("cloudImage", QVariant());
  }
  if (mBrowserFailed)
    mDropboxFooterText->setText(QStringLiteral("The browser could not be opened to sign in to Dropbox."));
  else if (chosen)
    mDropboxFooterText->setText(QStringLiteral("Documents are kept in your Dropbox."));
  else
    mDropboxFooterText->setText(QStringLiteral("Connect to sign in to Dropbox in your browser."));
}

void GeneralPreferencesViewController::iCloudButtonPressed() {
  // Withdrawing closes the workspace; the files stay where they are.
  if (Globals::userHasOptedForICloud()) {
    leaveLocation(DocumentLocationICloud, [] {
      if (Globals::userHasOptedForICloud()) Globals::optForICloud(false);
    });
    return;
  }
  // Connecting makes the default folder when it is missing; once made, a folder that goes away
  // is away until it is back, never replaced by an empty one behind the user's back. The choice
  // is recorded either way: a folder that cannot be had shows as unavailable.
  platform::LocalFolderContainer::connectInBackground([](bool /*reachable*/) { Globals::optForICloud(true); });
}

void GeneralPreferencesViewController::changeICloudFolderPressed() {
  if (Globals::userHasOptedForICloud()) return;
  platform::FilePanelRequest request;
  request.kind = platform::FilePanelRequest::Kind::Open;
  request.canChooseFiles = false;
  request.canChooseDirectories = true;
  request.directory = platform::LocalFolderContainer::root().path;
  platform::beginFilePanel(request, mView ? mView->window() : nullptr,
                           [alive = std::weak_ptr<int>(mAlive)](platform::FilePanelResult result) {
                             if (!alive.lock() || result.response != platform::kModalResponseOK || result.paths.isEmpty())
                               return;
                             if (Globals::userHasOptedForICloud()) return;
                             platform::UserDefaults::standard().setString(
                                 result.paths.front(), QString::fromLatin1(platform::kCloudContainerFolderKey));
                           });
}

void GeneralPreferencesViewController::leaveLocation(DocumentLocation location, std::function<void()> leave) {
  // The windows of the location close once it is dropped: an edit one holds that is not on disk
  // is asked about first, and a Cancel keeps the location connected.
  AppDelegate* app = AppDelegate::current();
  if (!app) return leave();
  app->askBeforeLeavingLocation(location, std::move(leave));
}

void GeneralPreferencesViewController::dropboxButtonPressed() {
  if (Globals::userHasOptedForDropbox()) {
    leaveLocation(DocumentLocationDropbox, [] {
      if (Globals::userHasOptedForDropbox()) Globals::optForDropbox(false);
    });
    return;
  }
  // The choice is recorded when the browser's redirect comes back signed in.
  mBrowserFailed = !platform::DropboxClientsManager::authorizeInBrowser();
  ensureDropboxChoiceValue();
}

}  // namespace orrery
