#include "ui/app_icon.h"

// The resources live in a static library: nothing would pull their initialiser into the program
// unless it is called by name, and the call must stand outside any namespace.
static void InitTalloxResources() { Q_INIT_RESOURCE(tallox); }

namespace tallox {

QIcon ApplicationIcon() {
    InitTalloxResources();
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/tallox/icons/tallox-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace tallox
