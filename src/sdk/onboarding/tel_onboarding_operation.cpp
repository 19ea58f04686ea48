#include "sdk/onboarding/tel_onboarding_operation.h"

#include "sdk/client/tel_network_client.h"
#include "sdk/client/tel_url_builder.h"
#include "sdk/core/console.h"
#include "sdk/core/sdk_constants.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/tel_application_identifer_model.h"
#include "sdk/net/tel_multipart_mime_stream_encoder.h"
#include "sdk/onboarding/tel_icon.h"
#include "sdk/session/url_errors.h"

namespace telemetry {

namespace {

nlohmann::json valueOrNull(const std::optional<std::string>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json();
}

}  // namespace

std::shared_ptr<TELOnboardingOperation> TELOnboardingOperation::create(
    std::weak_ptr<TELOnboardingOperationDelegate> delegate, bool shouldCreate, const std::optional<std::string>& APIKey,
    KitVersions kitVersionsByKitBundleIdentifier, std::shared_ptr<TELApplicationIdentiferModel> appIdentifierModel,
    std::string endpointString, std::weak_ptr<TELNetworkClient> networkClient) {
  if (!APIKey) return nullptr;
  std::shared_ptr<TELOnboardingOperation> op(new TELOnboardingOperation(*APIKey));
  op->mDelegate = std::move(delegate);
  op->mShouldCreate = shouldCreate;
  op->mKitVersionsByKitBundleIdentifier = std::move(kitVersionsByKitBundleIdentifier);
  op->mAppIdentifierModel = std::move(appIdentifierModel);
  op->mAppEndpoint = std::move(endpointString);
  op->mNetworkClient = std::move(networkClient);
  return op;
}

void TELOnboardingOperation::main() { beginAppConfigure(); }

std::string TELOnboardingOperation::appCreateURL() const {
  auto builder = TELURLBuilder::URLWithBase(mAppEndpoint);
  builder.appendComponent("/spi/v1/platforms/");
  builder.escapeAndAppendComponent(kPlatformName);
  builder.appendComponent("/apps");
  return builder.URL().value_or(builder.URLString());
}

std::string TELOnboardingOperation::appUpdateURL() const {
  auto builder = TELURLBuilder::URLWithBase(mAppEndpoint);
  builder.appendComponent("/spi/v1/platforms/");
  builder.escapeAndAppendComponent(kPlatformName);
  builder.appendComponent("/apps/");
  builder.escapeAndAppendComponent(TELApplicationEscapedBundleIdentifier().value_or(""));
  return builder.URL().value_or(builder.URLString());
}

URLRequest TELOnboardingOperation::onboardingRequestForAppCreate(bool create) const {
  URLRequest request = mutableRequestWithDefaultHTTPHeadersForURL(create ? appCreateURL() : appUpdateURL(), kDefaultTimeout);
  request.setHTTPMethod(create ? "POST" : "PUT");
  return request;
}

std::optional<TELOnboardingOperation::Form> TELOnboardingOperation::encodeForm() const {
  auto stream = std::make_shared<MemoryOutputStream>();
  auto encoder = TELMultipartMimeStreamEncoder::encoderWithStream(stream, TELMultipartMimeStreamEncoder::generateBoundary());
  if (!encoder) return std::nullopt;
  const auto& model = mAppIdentifierModel;
  encoder->encode([&] {
    encoder->addValue(valueOrNull(TELApplicationEscapedBundleIdentifier()), "app[identifier]");
    encoder->addValue(model ? nlohmann::json(model->instanceIdentifier()) : nlohmann::json(), "app[instance_identifier]");
    encoder->addValue(valueOrNull(TELApplicationName()), "app[name]");
    encoder->addValue(valueOrNull(TELApplicationBuildVersion()), "app[build_version]");
    encoder->addValue(valueOrNull(TELApplicationDisplayVersion()), "app[display_version]");
    encoder->addValue(TELApplicationInstallSource(), "app[source]");
    encoder->addValue(model ? nlohmann::json(model->minimumSDKString()) : nlohmann::json(), "app[minimum_sdk_version]");
    encoder->addValue(model ? nlohmann::json(model->builtSDKString()) : nlohmann::json(), "app[built_sdk_version]");
    for (const auto& [identifier, version] : mKitVersionsByKitBundleIdentifier)
      encoder->addValue(version, strformat("%s[%s]", "app[build][libraries]", identifier.c_str()));
    if (model) {
      for (const auto& [architecture, uuid] : model->architectureUUIDMap()) {
        encoder->addValue(architecture, "app[slices][][arch]");
        encoder->addValue(uuid, "app[slices][][uuid]");
      }
    }
    std::shared_ptr<TELIcon> icon = model ? model->icon() : nullptr;
    if (icon && !icon->data().empty() && !icon->dataHash().empty()) {
      encoder->addValue(icon->dataHash(), "app[icon][hash]");
      encoder->addValue(icon->prerendered() ? "true" : "false", "app[icon][prerendered]");
      encoder->addValue(strformat("%lu", static_cast<unsigned long>(icon->size().width)), "app[icon][width]");
      encoder->addValue(strformat("%lu", static_cast<unsigned long>(icon->size().height)), "app[icon][height]");
      encoder->addFileData(icon->data(), "icon.png", std::string("image/png"), "app[icon][data]");
    }
  });
  return Form{stream->data(), encoder->contentTypeHTTPHeaderValue(), encoder->contentLengthHTTPHeaderValue()};
}

void TELOnboardingOperation::beginAppConfigure() {
  auto form = encodeForm();
  if (!form) {
    consoleLog("[Telemetry] configure failed during onboarding");
    Error error = errorForCode(0);
    error.description = "Multipart mime encoder was nil";
    finish(error, false);
    return;
  }
  URLRequest request = onboardingRequestForAppCreate(mShouldCreate);
  request.setValue(form->contentType, "Content-Type");
  request.setValue(form->contentLength, "Content-Length");
  request.setHTTPBody(std::move(form->body));

  auto client = mNetworkClient.lock();
  if (!client) {
    finish(makeURLError(kURLErrorCancelled, "The network session has ended"), true);
    return;
  }
  auto self = std::static_pointer_cast<TELOnboardingOperation>(shared_from_this());
  client->startDataTaskWithRequest(request, mShouldCreate ? kCreateRetryLimit : kUpdateRetryLimit,
                                   [self](const std::vector<std::uint8_t>&, const std::optional<URLResponse>&,
                                          const OptionalError& error) { self->finish(error, true); });
}

void TELOnboardingOperation::finish(const OptionalError& error, bool tellDelegate) {
  {
    std::lock_guard lock(mErrorMutex);
    mError = error;
  }
  if (tellDelegate) {
    if (auto delegate = mDelegate.lock()) {
      if (mShouldCreate)
        delegate->onboardingOperationDidCompleteAppCreationWithError(*this, error);
      else
        delegate->onboardingOperationDidCompleteAppUpdateWithError(*this, error);
    }
  }
  finishWithError(error);
}

OptionalError TELOnboardingOperation::error() const {
  std::lock_guard lock(mErrorMutex);
  return mError;
}

Error TELOnboardingOperation::errorForCode(std::int64_t code, nlohmann::json userInfo) {
  Error error;
  error.domain = kTELSDKOnboardingErrorDomain;
  error.code = code;
  error.userInfo = std::move(userInfo);
  return error;
}

}  // namespace telemetry
