#pragma once

namespace orrery {

// Lets controllers of the view layer open a local file as a document through the
// persistence facade, which they cannot reach themselves.
void installLocalDocumentImport();

}  // namespace orrery
