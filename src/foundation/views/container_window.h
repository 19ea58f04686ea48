#pragma once
// A window whose content is a ContainerView, shown and made key: what the application opens
// until its own window classes exist. The caller keeps the window alive.

#include "foundation/views/container_view.h"
#include "platform/ui/window.h"

#include <memory>

namespace orrery {

struct ContainerWindow {
  std::shared_ptr<platform::Window> window;
  std::shared_ptr<ContainerView> containerView;
};

ContainerWindow showContainerWindow(const QString& title = QStringLiteral("Orrery"),
                                    const QSizeF& contentSize = QSizeF(1024, 720));

}  // namespace orrery
