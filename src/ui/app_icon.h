// The application icon, from the program's resources in every size it ships.
#pragma once
#include <QIcon>

namespace tallox {

QIcon ApplicationIcon();

}  // namespace tallox
