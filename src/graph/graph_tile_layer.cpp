#include "graph/graph_tile_layer.h"

namespace orrery {

GraphTileLayer::GraphTileLayer() = default;

platform::LayerAction GraphTileLayer::actionForKey(const QString& /*key*/) { return platform::LayerAction::none(); }

}  // namespace orrery
