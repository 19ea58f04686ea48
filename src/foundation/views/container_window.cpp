#include "foundation/views/container_window.h"

namespace orrery {

ContainerWindow showContainerWindow(const QString& title, const QSizeF& contentSize) {
  ContainerWindow result;
  result.window = std::make_shared<platform::Window>(contentSize);
  result.window->setTitle(title);
  result.window->setMinSize(QSizeF(480, 360));
  result.containerView = ContainerView::create(QStringLiteral("example_welcome"));
  result.window->setContentView(result.containerView);
  result.window->makeKeyAndOrderFront();
  return result;
}

}  // namespace orrery
