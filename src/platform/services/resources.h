#pragma once
// Resource files (images, texts, templates, the localisation table), looked up by name in a
// resources folder next to the executable, in the source tree or in the install prefix.

#include <QString>
#include <QStringList>

namespace platform {

// The folders searched, in order; only those that exist.
QStringList resourceFolders();

// The path of resource `name` with extension `type` ("emoji_list", "txt"); `type` may be empty
// when `name` already has one. Empty when no folder holds it.
QString pathForResource(const QString& name, const QString& type = {});

}  // namespace platform
