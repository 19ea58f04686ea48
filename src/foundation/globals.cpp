#include "foundation/globals.h"
#include "foundation/globals_testing.h"

#include "foundation/application_delegate.h"
#include "foundation/logging.h"
#include "platform/core/notification_center.h"
#include "platform/services/font_catalog.h"
#include "platform/services/localization.h"
#include "platform/services/user_defaults.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QScreen>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <utility>

namespace orrery {

namespace {

ApplicationDelegate* gApp = nullptr;
std::int32_t gFontSizeFactor = 0;  // 0: not read yet
bool gUserIdle = true;

constexpr std::int64_t kMinFontSizeFactor = 3;
constexpr std::int64_t kMaxFontSizeFactor = 7;
constexpr std::int32_t kDefaultFontSizeFactor = 5;

platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

void postAppearanceChanged() {
  platform::NotificationCenter::defaultCenter().post(GlobalsAppearanceSettingsChangedNotification);
}

QColor rgb255(int r, int g, int b) { return QColor::fromRgbF(r / 255.0f, g / 255.0f, b / 255.0f); }
QColor white(float level) { return QColor::fromRgbF(level, level, level); }

QFont avenir(const char* face, double size, const char* operation) {
  auto font = platform::fontNamed(QString::fromLatin1(face), size);
  if (ORRERY_SOFT_ASSERT(font.has_value(), operation)) return *font;
  return Globals::fallbackFont(size);
}

}  // namespace

ApplicationDelegate* Globals::app() { return gApp; }
void Globals::setApp(ApplicationDelegate* app) { gApp = app; }

void Globals::markPersistentAppStateDirty() {
  if (gApp) gApp->markPersistentAppStateDirty();
}

QString Globals::appInstance() {
  static const QString mark = [] {
    using namespace std::chrono;
    const double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
    return QString::asprintf("MAC_%f", seconds);
  }();
  return mark;
}

QString Globals::appInstallation() {
  static const QString name = [] {
    const QString key = QString::fromLatin1(kAppInstallationKey);
    QString stored = defaults().stringForKey(key);
    if (!stored.isEmpty()) return stored;
    stored = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // Saved at once (off this thread): a process that ends without writing its settings would
    // leave its files addressed to a name no later start knows.
    defaults().setString(stored, key);
    return stored;
  }();
  return name;
}

QString Globals::normalLocalizedStringForKey(const QString& key, const QString& defaultText) {
  return platform::localizedString(key, defaultText).replace(QStringLiteral("//"), QString());
}

QString Globals::narrowLocalizedStringForKey(const QString& key, const QString& defaultText) {
  return platform::localizedString(key, defaultText).replace(QStringLiteral("//"), QStringLiteral("-\n"));
}

QString Globals::normalUppercaseStringForKey(const QString& key, const QString& defaultText) {
  // QString::toUpper uses the locale-independent Unicode mapping.
  return normalLocalizedStringForKey(key, defaultText).toUpper();
}

namespace {
Globals::TimeMillisSource& timeMillisSource() {
  static Globals::TimeMillisSource source;
  return source;
}
}  // namespace

std::int64_t Globals::currentTimeMillis() {
  if (const auto& source = timeMillisSource()) return source();
  return QDateTime::currentSecsSinceEpoch() * 1000;
}

Globals::TimeMillisSource Globals::setCurrentTimeMillisSource(TimeMillisSource source) {
  return std::exchange(timeMillisSource(), std::move(source));
}

bool Globals::userHasOptedForICloud() { return defaults().boolForKey(kCloudStorageChoiceKey); }
bool Globals::userHasOptedForDropbox() { return defaults().boolForKey(kDropboxStorageChoiceKey); }
void Globals::optForICloud(bool value) { defaults().setBool(value, kCloudStorageChoiceKey); }
void Globals::optForDropbox(bool value) { defaults().setBool(value, kDropboxStorageChoiceKey); }

std::int32_t Globals::fontSizeFactor() {
  if (gFontSizeFactor > 0) return gFontSizeFactor;
  // Nothing stored, or something that is no number (a list, a word, NaN): the default size.
  const QVariant object = defaults().objectForKey(kFontSizeFactorKey);
  bool number = false;
  const double asNumber = object.toDouble(&number);
  if (!object.isValid() || !number || !std::isfinite(asNumber)) {
    gFontSizeFactor = kDefaultFontSizeFactor;
    return gFontSizeFactor;
  }
  const auto stored = static_cast<std::int32_t>(defaults().integerForKey(kFontSizeFactorKey));
  gFontSizeFactor = static_cast<std::int32_t>(std::clamp<std::int64_t>(stored, kMinFontSizeFactor, kMaxFontSizeFactor));
  return gFontSizeFactor;
}

void Globals::changeFontSizeFactor(std::int64_t value) {
  gFontSizeFactor = static_cast<std::int32_t>(std::clamp(value, kMinFontSizeFactor, kMaxFontSizeFactor));
  defaults().setInteger(gFontSizeFactor, kFontSizeFactorKey);
  postAppearanceChanged();
}

bool Globals::highContrastText() { return defaults().boolForKey(kHighContrastKey); }

void Globals::setHighContrastText(bool value) {
  if (value == highContrastText()) return;
  defaults().setBool(value, kHighContrastKey);
  postAppearanceChanged();
}

void forgetCachedFontSizeFactor() { gFontSizeFactor = 0; }

QColor Globals::colorGrayD7DEE4() { return rgb255(215, 222, 228); }
QColor Globals::colorGray91() { return rgb255(232, 232, 233); }
QColor Globals::colorGray93() { return rgb255(233, 237, 238); }
QColor Globals::colorGray95() { return white(0.95f); }
QColor Globals::colorGray58() { return white(0.58f); }
QColor Globals::colorGrayDarkText() { return rgb255(156, 164, 167); }
QColor Globals::colorGray46() { return white(0.46f); }
QColor Globals::colorGray26() { return white(0.26f); }
QColor Globals::colorGray23() { return rgb255(57, 58, 58); }
QColor Globals::colorBlack() { return white(0.0f); }
QColor Globals::colorLightGray() { return white(2.0f / 3.0f); }
QColor Globals::colorWhite() {
  // Every planet's title asks for it.
  static const QColor color = white(1.0f);
  return color;
}
QColor Globals::colorBrightGreen() { return rgb255(32, 228, 191); }
QColor Globals::colorNiceGreen() { return QColor::fromRgbF(0.231f, 0.812f, 0.714f); }
QColor Globals::colorDollarGreen() { return QColor::fromRgbF(0.0f, 0.9f, 0.76f); }

QFont Globals::fontAvenirMedium(double size) { return avenir("Avenir Medium", size, "+[Globals fontAvenirMedium:]"); }
QFont Globals::fontAvenirLight(double size) { return avenir("Avenir Light", size, "+[Globals fontAvenirLight:]"); }
QFont Globals::fontAvenirBook(double size) { return avenir("Avenir Book", size, "+[Globals fontAvenirBook:]"); }
QFont Globals::fontAvenirOblique(double size) {
  return avenir("Avenir Oblique", size, "+[Globals fontAvenirOblique:]");
}
QFont Globals::fontAvenirHeavy(double size) { return avenir("Avenir Heavy", size, "+[Globals fontAvenirHeavy:]"); }

QFont Globals::fallbackFont(double size) {
  if (auto font = platform::fontNamed(QStringLiteral("Helvetica"), size)) return *font;
  QFont font(platform::mappedFontFamily(QStringLiteral("Helvetica")));
  font.setPointSizeF(size);
  return font;
}

double Globals::screenScale() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->devicePixelRatio() : 1.0;
}

bool Globals::isUserIdle() { return gUserIdle; }

}  // namespace orrery
