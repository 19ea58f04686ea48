#include "model/idea_identifier_maker.h"

#include <QDateTime>

namespace orrery {

std::atomic<std::uint64_t> IdentifierMaker::sCounter{0};

IdentifierMaker::IdentifierMaker()
    : mPrefix(QString::asprintf("id%0.0f_", double(QDateTime::currentMSecsSinceEpoch()) / 1000.0)) {}

}  // namespace orrery
