#pragma once
// Process-wide settings and services: localised strings, user-default settings (text size,
// high-contrast text, storage choices), named colours and fonts, the screen scale, time and
// the mark of the running application instance. Main thread only.

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>

namespace orrery {

class ApplicationDelegate;

// Posted with no object when the text size or the high-contrast setting changes.
inline constexpr char GlobalsAppearanceSettingsChangedNotification[] = "GlobalsAppearanceSettingsChangedNotification";

class Globals {
 public:
  Globals() = delete;

  // User-default keys.
  static constexpr char kFontSizeFactorKey[] = "fontSizeFactor";
  static constexpr char kHighContrastKey[] = "AdjustTextColorBasedOnBackground";
  static constexpr char kCloudStorageChoiceKey[] = "cloudstoragechoice";
  static constexpr char kDropboxStorageChoiceKey[] = "dropboxstoragechoice";
  static constexpr char kAppInstallationKey[] = "AppInstallation";

  // Application.
  static ApplicationDelegate* app();  // null until the shell sets it
  static void setApp(ApplicationDelegate* app);
  static void markPersistentAppStateDirty();
  // "MAC_%f" of the seconds since 1970 at the first request; fixed for the process.
  static QString appInstance();
  // A name of this installation (of the user's settings), made at the first request and kept
  // in the user defaults: every process of one installation answers the same, so a later
  // start recognises what was addressed to an earlier one. Main thread for the first request.
  static QString appInstallation();

  // Localised strings; "//" marks a hyphenation point.
  static QString normalLocalizedStringForKey(const QString& key, const QString& defaultText);
  static QString narrowLocalizedStringForKey(const QString& key, const QString& defaultText);
  static QString normalUppercaseStringForKey(const QString& key, const QString& defaultText);

  // Whole seconds since 1970, times 1000.
  static std::int64_t currentTimeMillis();
  // Replaces where currentTimeMillis reads the time (null: the system clock); returns the
  // previous source. Tests set a clock of their own and put the old one back.
  using TimeMillisSource = std::function<std::int64_t()>;
  static TimeMillisSource setCurrentTimeMillisSource(TimeMillisSource source);

  // Storage choices.
  static bool userHasOptedForICloud();
  static bool userHasOptedForDropbox();
  static void optForICloud(bool value);
  static void optForDropbox(bool value);

  // Appearance settings.
  static std::int32_t fontSizeFactor();          // 3..7, default 5; cached once read
  static void changeFontSizeFactor(std::int64_t value);
  static bool highContrastText();
  static void setHighContrastText(bool value);

  // Named colours (alpha 1).
  static QColor colorGrayD7DEE4();
  static QColor colorGray91();
  static QColor colorGray93();
  static QColor colorGray95();
  static QColor colorGray58();
  static QColor colorGrayDarkText();
  static QColor colorGray46();
  static QColor colorGray26();
  static QColor colorGray23();
  static QColor colorBlack();
  static QColor colorLightGray();
  static QColor colorWhite();
  static QColor colorBrightGreen();
  static QColor colorNiceGreen();
  static QColor colorDollarGreen();

  // Fonts; a missing face is a soft assertion and gives the fallback font.
  static QFont fontAvenirMedium(double size);
  static QFont fontAvenirLight(double size);
  static QFont fontAvenirBook(double size);
  static QFont fontAvenirOblique(double size);
  static QFont fontAvenirHeavy(double size);
  static QFont fallbackFont(double size);

  // The main screen's device pixel ratio (1 without a screen).
  static double screenScale();

  // Read by the cross-document search, which waits while it is false.
  static bool isUserIdle();
};

}  // namespace orrery
