#include "foundation/my_result.h"

#include "foundation/logging.h"
#include "platform/services/localization.h"

namespace orrery {

MyResult::MyResult(const QString& key, const QString& desc)
    : mErrorString(platform::localizedString(key, desc)) {
  if (mErrorString.isEmpty()) mErrorString = QStringLiteral("Sorry, an error occurred during operation");
}

const MyResultPtr& MyResult::OK() {
  static const MyResultPtr ok(new MyResult(Literal{}, QStringLiteral("No error")));
  return ok;
}

const MyResultPtr& MyResult::USER_CANCEL() {
  static const MyResultPtr cancel(new MyResult(Literal{}, QStringLiteral("User canceled")));
  return cancel;
}

MyResultPtr MyResult::error(const QString& key, const QString& desc) {
  ORRERY_SOFT_ASSERT(!desc.isNull(), "+[MyResult error:desc:]");
  return std::make_shared<const MyResult>(key, desc);
}

MyResultPtr MyResult::errorWithText(const QString& text) {
  return MyResultPtr(new MyResult(Literal{}, text));
}

MyResultPtr MyResult::todoError() {
  return std::make_shared<const MyResult>(QStringLiteral("mac:error:default"), QString());
}

}  // namespace orrery
