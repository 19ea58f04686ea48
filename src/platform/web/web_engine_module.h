#pragma once
// The root object of the web engine module, which the application loads on demand.

#include "platform/ui/web_content.h"

#include <QObject>

namespace platform {

class EngineModule : public QObject, public WebEngineModule {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID ORRERY_WEB_ENGINE_MODULE_IID)
  Q_INTERFACES(platform::WebEngineModule)

 public:
  WebContent* createContent() override;
  void startEngine() override;
};

}  // namespace platform
