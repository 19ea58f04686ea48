#include "app/app_delegate.h"
#include "app/command_line.h"
#include "app/display_check.h"
#include "app/early_environment.h"
#include "app/local_document_import.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "app/start_crash_capture.h"
#include "app/telemetry_start.h"
#include "cloud/cloud_engines.h"
#include "editor_screen/editor_screens.h"
#include "foundation/logging.h"
#include "home/home_screens.h"
#include "platform/core/dispatch.h"
#include "platform/net/crypto_lifetime.h"
#include "platform/services/application_identity.h"
#include "platform/services/hand_off_message.h"
#include "platform/services/qt_main_queue.h"
#include "platform/services/resources.h"
#include "platform/services/runtime_folder.h"
#include "platform/ui/application.h"
#include "platform/ui/clipboard_text.h"
#include "platform/ui/deferred_standard_icons.h"
#include "platform/ui/font_warm_up.h"
#include "platform/ui/popover.h"
#include "platform/ui/web_view.h"
#include "sdk/startup/telemetry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>

#include <cstdio>

namespace {

// Help and version are answered without a window system, so they work on any terminal.
int answerInformationRequest(orrery::CommandLine::Action action, int argc, char** argv) {
  QCoreApplication core(argc, argv);
  platform::applyApplicationIdentity();
  if (action == orrery::CommandLine::Action::Help) {
    std::fputs(qPrintable(orrery::commandLineHelp()), stdout);
    return 0;
  }
  const QString version = orrery::commandLineVersion();
  if (version.isEmpty()) {
    std::fprintf(stderr, "orrery: the program's resources were not found in: %s\n",
                 qPrintable(platform::resourceFolders().join(QLatin1String(", "))));
    return 1;
  }
  std::fputs(qPrintable(version), stdout);
  return 0;
}

// A later launch hands its arguments to the running instance and ends: 0 once answered, 1 with
// the reason when nobody answers, -1 when the instance quit meanwhile and this one is first.
// A core application is all the hand-off needs, so the launch never pays for the GUI's start.
int handOverToRunningInstance(orrery::SingleInstance& instance, int& argc, char** argv) {
  QCoreApplication core(argc, argv);
  const QStringList arguments = platform::handoff::normalizedArguments(core.arguments().mid(1), QDir::currentPath());
  QString error;
  if (instance.handOff(arguments, &error)) return 0;
  if (instance.tryToBecomeFirst()) return -1;
  std::fprintf(stderr, "orrery: %s\n", qPrintable(error));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  platform::keepCryptoThroughExit();
  orrery::logToSystemLog("orrery");
  telemetry::Telemetry::logToSystemLog();
  QStringList rawArguments;
  for (int i = 1; i < argc; ++i) rawArguments.append(QString::fromLocal8Bit(argv[i]));
  const orrery::CommandLine early = orrery::readCommandLineBeforeQt(rawArguments, QDir::currentPath());
  if (early.action == orrery::CommandLine::Action::Help || early.action == orrery::CommandLine::Action::Version) {
    return answerInformationRequest(early.action, argc, argv);
  }
  if (early.action == orrery::CommandLine::Action::Refuse) {
    std::fprintf(stderr, "orrery: %s\n", qPrintable(early.refusal));
    return 2;
  }
  if (const QString why = orrery::prepareEnvironmentBeforeApplication(); !why.isEmpty()) {
    std::fprintf(stderr, "orrery: %s\n", qPrintable(why));
    return 2;
  }
  const orrery::StartCrashCapture crashCapture;
  orrery::startPointReached("start");
  // Windows are placed where the stored state says, which Wayland does not allow: use XWayland.
  platform::preferPlatformThatPlacesWindows();
  platform::prepareWebEngineBeforeApplication();
  platform::applyApplicationIdentity();
  // A later launch hands its arguments over before it builds a window or starts anything.
  orrery::SingleInstance instance(platform::runtimeFolder());
  if (!instance.tryToBecomeFirst()) {
    if (const int status = handOverToRunningInstance(instance, argc, argv); status >= 0) return status;
  }
  // Qt aborts when it finds no plugin for its platform or no display, which would be taken for a
  // crash. The hand-off above needs neither, so a later launch still reaches a running instance
  // from any terminal.
  orrery::DisplayCheck display(rawArguments);
  if (!display.whyNot().isEmpty()) {
    std::fprintf(stderr, "orrery: %s\n", qPrintable(display.whyNot()));
    return 1;
  }

  // The font configuration is read meanwhile: the application object does not need it.
  platform::FontConfigurationWarmUp fontConfiguration;
  QApplication app(argc, argv);
  display.release();
  orrery::startPointReached("application");
  const platform::FontDatabaseWarmUp fonts(fontConfiguration);
  platform::installDeferredStandardIcons();
  platform::offerExactTextOnTheClipboard();
  app.setQuitOnLastWindowClosed(false);  // the last window's close runs the quit sequence itself
  // The task bar groups windows under the launcher whose desktop entry has this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.orrery.Orrery"));

  // Qt has taken its own options out by now; an option it did not know is left.
  const orrery::CommandLine commandLine = orrery::readCommandLine(app.arguments().mid(1), QDir::currentPath());
  if (commandLine.action == orrery::CommandLine::Action::Refuse) {
    std::fprintf(stderr, "orrery: %s\n", qPrintable(commandLine.refusal));
    return 2;
  }
  const QStringList arguments = platform::handoff::normalizedArguments(app.arguments().mid(1), QDir::currentPath());

  platform::installQtMainQueue();
  // Looking the icon up in the icon theme takes a few milliseconds; the windows shown by then
  // take it over when it is set.
  platform::Application::shared().firstFrame().after([] {
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.orrery.Orrery"),
                                                 QIcon(platform::pathForResource(QStringLiteral("orrery_icon.png")))));
  });
  orrery::installLocalDocumentImport();
  orrery::installCloudEngines();
  orrery::installEditorScreens();
  orrery::installHomeScreens();
  // The cloud engines set the Dropbox library up with the application key; sign-in redirects
  // that reach this program (the desktop entry's URL scheme, a second launch) end there.
  orrery::AppServices services;
  services.startTelemetry = [] { orrery::startTelemetry(); };
  orrery::installTelemetryLifecycle();
  orrery::installWebViewErrorHook();
  services.handleDropboxRedirect = orrery::handleDropboxRedirect;
  services.runPostedMainQueueTasks = [] { platform::runPostedQtMainQueueTasks(); };
  services.afterFirstFrame = [](std::function<void()> work) {
    platform::Application::shared().firstFrame().after(std::move(work));
  };
  orrery::AppDelegate delegate(services);
  // Nobody may be there to answer a question: a signal quits at once.
  orrery::installQuitSignalHandlers([&delegate] { delegate.terminate(/*askScreens=*/false); });
  instance.listen([&delegate](const QStringList& handed) { delegate.handleArguments(handed); });
  platform::mainQueue().async([&delegate, arguments] {
    orrery::startPointReached("launch");
    delegate.applicationDidFinishLaunching(arguments);
    orrery::quitSignalsStartFinished();
  });
  return app.exec();
}
