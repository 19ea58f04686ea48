#pragma once
// Resource files (images, texts, templates, the localisation table), looked up by name in the
// folder the environment variable ORRERY_RESOURCES_DIR names (tests and tools point it at the
// source tree), then beside the executable, then in the install prefix. A built program never
// reads the tree it was built from unless told to.

#include <QString>
#include <QStringList>

namespace platform {

// The folders searched, in order; only those that exist.
QStringList resourceFolders();

// The path of resource `name` with extension `type` ("emoji_list", "txt"); `type` may be empty
// when `name` already has one. Empty when no folder holds it.
QString pathForResource(const QString& name, const QString& type = {});

}  // namespace platform
