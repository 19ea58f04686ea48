#include "platform/web/web_engine_module.h"

#include "platform/web/engine_web_content.h"

namespace platform {

WebContent* EngineModule::createContent() { return new EngineWebContent(); }

void EngineModule::startEngine() { EngineWebContent::sharedProfile(); }

}  // namespace platform
