#pragma once
// One main window: makes the window, fills it with a home screen, a document or a restored
// screen one main-queue turn after it is made (a restored editor at once), writes and reads
// its entry of the stored window state, lays the what's-new screen over it, and tells the
// application delegate when it closes. The application delegate owns the controllers.
// Main thread only.

#include "model/document_location.h"
#include "platform/ui/window.h"
#include "shell/my_window.h"

#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <memory>

namespace orrery {

class IdeaDocument;

// What a new document window does once its editor shows.
using WindowInitialAction = std::uint64_t;
inline constexpr WindowInitialAction kWindowInitialActionNone = 0;
inline constexpr WindowInitialAction kWindowInitialActionEditCentralIdea = 1;
inline constexpr WindowInitialAction kWindowInitialActionShowWelcome = 2;

class MainWindowController : public platform::WindowDelegate,
                             public std::enable_shared_from_this<MainWindowController> {
 public:
  // Keys of a window's stored state.
  static constexpr char kControllerClassKey[] = "controllerClass";
  static constexpr char kControllerStateKey[] = "controllerState";
  static constexpr char kWindowFrameKey[] = "windowFrame";

  // A hidden window sized and centred for the screen it will open on.
  static std::shared_ptr<DragSupportWindow> prepareWindow();

  static std::shared_ptr<MainWindowController> createCloudWindow(DocumentLocation location);
  static std::shared_ptr<MainWindowController> createDocumentWindow(const std::shared_ptr<IdeaDocument>& doc,
                                                                    DocumentToken token,
                                                                    const QString& ideaIdentifier = {},
                                                                    WindowInitialAction action = 0);
  static std::shared_ptr<MainWindowController> createForRestoration();
  ~MainWindowController() override;

  DragSupportWindow& myWindow() const { return *mWindow; }
  // The stored class of the current screen, empty before one is shown.
  const QString& controllerClass() const { return mControllerClass; }

  // Shows the window at once, or as soon as the screen it is being given is in.
  void showWindow();
  // Null when no screen controller or its state is none, and for a new scratch document
  // nobody has touched (an empty, unsaved map is nothing to come back to).
  QVariantMap createState() const;
  // True when the state named a known screen; the frame is fitted onto today's screens.
  bool restoreFromState(const QVariantMap& state);
  void showWelcomeScreen();
  bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier);

  // WindowDelegate.
  bool windowShouldClose(platform::Window& window) override;
  void windowWillClose(platform::Window& window) override;
  void windowDidBecomeKey(platform::Window& window) override;

 private:
  struct Token {};

 public:
  explicit MainWindowController(Token);

 private:
  void showCloudHome(DocumentLocation location);
  void showDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, const QString& ideaIdentifier,
                    WindowInitialAction action);

  // Whether the window still shows the new scratch document it was made for, unchanged.
  bool showsUntouchedScratchDocument() const;

  std::shared_ptr<DragSupportWindow> mWindow;
  QString mControllerClass;
  // Its screen comes on the next turn of the main queue, which then shows the window.
  bool mScreenPending = false;
  std::weak_ptr<IdeaDocument> mScratchDocument;
};

}  // namespace orrery
