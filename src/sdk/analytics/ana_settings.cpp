#include "sdk/analytics/ana_settings.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "sdk/analytics/ana_logger.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/settings/tel_endpoints.h"

namespace telemetry {

namespace {

constexpr int64_t kMaxInt = std::numeric_limits<int64_t>::max();
constexpr int64_t kMinInt = std::numeric_limits<int64_t>::min();

int64_t clampToInteger(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return kMaxInt;
  if (d <= -9223372036854775808.0) return kMinInt;
  return static_cast<int64_t>(d);
}

size_t skipBlanks(const std::string& s) {
  size_t i = s.find_first_not_of(" \t\r\n");
  return i == std::string::npos ? s.size() : i;
}

bool isHTTPSURL(const std::string& url) {
  static constexpr std::string_view kScheme = "https://";
  if (url.size() <= kScheme.size()) return false;
  for (size_t i = 0; i < kScheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
  char first = url[kScheme.size()];
  if (first == '/' || first == '?' || first == '#') return false;  // no host
  for (unsigned char c : url)
    if (c <= 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

int64_t integerValueOf(const nlohmann::json& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_number_integer())
    return value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(kMaxInt) ? kMaxInt : value.get<int64_t>();
  if (value.is_number_float()) return clampToInteger(value.get<double>());
  if (!value.is_string()) return 0;
  const std::string& s = value.get_ref<const std::string&>();
  size_t i = skipBlanks(s);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t result = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    int digit = s[i] - '0';
    if (!negative && result > (kMaxInt - digit) / 10) return kMaxInt;
    if (negative && result < (kMinInt + digit) / 10) return kMinInt;
    result = result * 10 + (negative ? -digit : digit);
  }
  return result;
}

double doubleValueOf(const nlohmann::json& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_number()) return value.get<double>();
  if (!value.is_string()) return 0;
  const std::string& s = value.get_ref<const std::string&>();
  size_t i = skipBlanks(s);
  if (i < s.size() && s[i] == '+') ++i;
  if (i < s.size() && !(std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == '.')) return 0;
  double d = 0;
  auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), d, std::chars_format::general);
  if (ec != std::errc() || !std::isfinite(d)) return 0;
  return d;
}

const nlohmann::json* nestedSettingsValue(const nlohmann::json* dictionary, const char* section, const char* key) {
  if (!dictionary || !dictionary->is_object()) return nullptr;
  auto s = dictionary->find(section);
  if (s == dictionary->end() || !s->is_object()) return nullptr;
  auto v = s->find(key);
  if (v == s->end() || v->is_null()) return nullptr;
  return &*v;
}

const nlohmann::json* ANASettings::value(const char* section, const char* key) const {
  return nestedSettingsValue(mSettingsDictionary.get(), section, key);
}

bool ANASettings::boolValue(const char* section, const char* key, bool fallback) const {
  const nlohmann::json* v = value(section, key);
  return v ? boolValueOf(*v) : fallback;
}

int64_t ANASettings::integerValue(const char* section, const char* key, int64_t fallback) const {
  const nlohmann::json* v = value(section, key);
  return v ? integerValueOf(*v) : fallback;
}

double ANASettings::doubleValue(const char* section, const char* key, double fallback) const {
  const nlohmann::json* v = value(section, key);
  if (!v) return fallback;
  double d = doubleValueOf(*v);
  return std::isfinite(d) ? d : fallback;
}

bool ANASettings::shouldCollectAnalytics() const { return boolValue("features", "collect_analytics", true); }

std::optional<std::string> ANASettings::analyticsURL() const {
  const nlohmann::json* v = value("analytics", "url");
  if (!v) {
    const std::optional<std::string> endpoint = TELEndpoints::builtInEndpoint();
    return endpoint ? std::optional(*endpoint + "/spi/v2/events") : std::nullopt;
  }
  if (v->is_string() && isHTTPSURL(v->get_ref<const std::string&>())) return v->get<std::string>();
  ANALogger::sharedLogger().log("The analytics URL in the settings is not an https URL; events will not be sent.");
  return std::nullopt;
}

bool ANASettings::shouldCollectCustomEvents() const { return boolValue("analytics", "track_custom_events", true); }

bool ANASettings::shouldCollectPredefinedEvents() const {
  return boolValue("analytics", "track_predefined_events", true);
}

int64_t ANASettings::maximumPayloadSize() const { return integerValue("analytics", "max_byte_size_per_file", 8000); }

int64_t ANASettings::maxPendingSendFiles() const {
  return integerValue("analytics", "max_pending_send_file_count", 100);
}

double ANASettings::flushInterval() const { return doubleValue("analytics", "flush_interval_secs", 0); }

int64_t ANASettings::samplingRate() const { return integerValue("analytics", "sampling_rate", 1); }

double ANASettings::defaultUploadTimeout() const { return doubleValue("analytics", "upload_timeout_secs", 21600); }

double ANASettings::lowPowerUploadTimeout() const {
  return doubleValue("analytics", "low_power_upload_timeout_secs", 3600);
}

}  // namespace telemetry
