// The window's entity CSV: a "kind,value" header, the label as it stands and the value quoted
// with its quotes doubled, lines ended by "\n".
#pragma once

#include <QByteArray>

#include <vector>

#include "core/extract.h"

namespace quorvel::desktop {

QByteArray entityCsv(const std::vector<extract::Entity>& entities);

}  // namespace quorvel::desktop
