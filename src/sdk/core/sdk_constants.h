#pragma once
// Fixed names and versions of the telemetry SDK. The identifier prefixes name the SDK's
// files, folders, queues and locks; changing one moves existing installations' data.

namespace telemetry {

// Names the defaults store folder, the installation UUID key, queue labels and the
// analytics store root.
inline constexpr const char* kSDKIdentifierPrefix = "org.orrery.telemetry";
// Names operation locks and other per-kit internals.
inline constexpr const char* kKitIdentifierPrefix = "org.orrery.telemetry.kit";
// The host kit's own reverse-DNS identifier: request headers, settings folder, kit versions.
inline constexpr const char* kHostKitIdentifier = "org.orrery.telemetry.Telemetry";
// Prefix of the analytics kit's identifiers (timers, activities).
inline constexpr const char* kAnalyticsIdentifierPrefix = "org.orrery.telemetry.analytics";

// The host kit's class name, as its messages name it.
inline constexpr const char* kHostKitClassName = "Telemetry";
inline constexpr const char* kHostKitDisplayVersion = "1.6.8";
inline constexpr const char* kHostKitBuildVersion = "55";
// Platform path segment of every SDK endpoint.
inline constexpr const char* kPlatformName = "mac";
// Sent with every request of the SDK; the same in every installation.
inline constexpr const char* kDeveloperToken = "7a1c53e9b04f6d28c9e1b7f3a05d48c62e9f1b70";

}  // namespace telemetry
