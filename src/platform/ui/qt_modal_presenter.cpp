#include "platform/ui/qt_modal_presenter.h"

#include "platform/ui/application.h"
#include "platform/ui/key_matching.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

#include <QAbstractButton>
#include <QMainWindow>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace platform {

int QtModalPresenter::runAlert(const AlertRequest& request) {
  QMessageBox box;
  box.setWindowModality(Qt::ApplicationModal);
  box.setText(request.messageText);
  box.setInformativeText(request.informativeText);
  box.setIcon(QMessageBox::Warning);
  std::vector<QAbstractButton*> buttons;
  // One role for all keeps the buttons in the order they were added.
  for (const auto& b : request.buttons) buttons.push_back(box.addButton(b.title, QMessageBox::ActionRole));
  if (!buttons.empty()) {
    box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    box.setEscapeButton(buttons[static_cast<size_t>(alertEscapeButtonIndex(request))]);
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i] == clicked) return kAlertFirstButtonReturn + static_cast<int>(i);
  return kAlertDismissed;
}

void fillQMenu(QMenu& qmenu, const Menu& menu, std::vector<std::shared_ptr<MenuItem>>& itemsByIndex) {
  for (const auto& item : menu.items()) {
    if (item->isSeparator()) {
      qmenu.addSeparator();
      continue;
    }
    if (item->submenu()) {
      QMenu* sub = qmenu.addMenu(item->title());
      fillQMenu(*sub, *item->submenu(), itemsByIndex);
      continue;
    }
    QAction* action = qmenu.addAction(item->title());
    action->setEnabled(item->isEnabled());
    if (item->isChecked()) {
      action->setCheckable(true);
      action->setChecked(true);
    }
    action->setShortcut(keySequenceFor(item->keyEquivalent(), item->keyEquivalentModifierMask()));
    action->setData(static_cast<int>(itemsByIndex.size()));
    itemsByIndex.push_back(item);
  }
}

std::shared_ptr<MenuItem> QtModalPresenter::popUpMenu(Menu& menu, QPointF locationInWindow, Window* window) {
  QMenu qmenu(window ? window->canvas() : nullptr);
  qmenu.setTitle(menu.title());
  std::vector<std::shared_ptr<MenuItem>> items;
  fillQMenu(qmenu, menu, items);
  QPoint global = locationInWindow.toPoint();
  if (window) {
    // Near the window's right or bottom edge the menu opens inward, over the window it serves.
    const QWidget* canvas = window->canvas();
    global = canvas->mapToGlobal(global);
    const QRect area(canvas->mapToGlobal(QPoint(0, 0)), canvas->size());
    const QSize size = qmenu.sizeHint();
    if (global.x() + size.width() > area.x() + area.width())
      global.setX(std::max(area.x(), area.x() + area.width() - size.width()));
    if (global.y() + size.height() > area.y() + area.height())
      global.setY(std::max(area.y(), area.y() + area.height() - size.height()));
  }
  QAction* chosen = qmenu.exec(global);
  if (!chosen || !chosen->data().isValid()) return nullptr;
  const int index = chosen->data().toInt();
  return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<size_t>(index)] : nullptr;
}

void QtModalPresenter::beginFilePanel(const FilePanelRequest& request, Window* window,
                                      std::function<void(FilePanelResult)> completion) {
  // A folder that does not exist (no Desktop folder, say) would show its name as a file name
  // in the parent folder: start at home instead.
  const QString directory = QFileInfo(request.directory).isDir() ? request.directory : QDir::homePath();
  auto* dialog = new QFileDialog(window ? window->widget() : nullptr, request.title, directory);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
  const bool save = request.kind == FilePanelRequest::Kind::Save;
  dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (save)
    dialog->setFileMode(QFileDialog::AnyFile);
  else if (request.canChooseDirectories && !request.canChooseFiles)
    dialog->setFileMode(QFileDialog::Directory);
  else
    dialog->setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  if (!request.allowedFileTypes.isEmpty()) {
    QStringList patterns;
    for (const auto& t : request.allowedFileTypes) patterns << QStringLiteral("*.") + t;
    dialog->setNameFilter(patterns.join(QLatin1Char(' ')));
    if (save) dialog->setDefaultSuffix(request.allowedFileTypes.front());
  }
  if (!request.nameFieldStringValue.isEmpty()) dialog->selectFile(request.nameFieldStringValue);
  auto done = std::make_shared<bool>(false);
  QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion, done](int result) {
    if (*done) return;
    *done = true;
    FilePanelResult r;
    r.response = result == QDialog::Accepted ? kModalResponseOK : kModalResponseCancel;
    if (r.response == kModalResponseOK) r.paths = dialog->selectedFiles();
    if (completion) completion(r);
  });
  dialog->open();
}

int QtModalPresenter::runPrintPanel(QPrinter& printer) {
  QPrintDialog dialog(&printer);
  return dialog.exec() == QDialog::Accepted ? kModalResponseOK : kModalResponseCancel;
}

}  // namespace platform
