#include "installed_guard_service.h"

#include <QCoreApplication>
#include <QFileInfo>

bool guardServiceInstalled()
{
#if defined(Q_OS_LINUX) && defined(VNKESTRIX_SBIN_FROM_BIN)
    // Looked up beside the program rather than at a fixed path, so that a
    // package built for any prefix, or an install anywhere, finds its own
    // service and a build tree finds none.
    const QFileInfo service(QCoreApplication::applicationDirPath() + QStringLiteral("/" VNKESTRIX_SBIN_FROM_BIN "/vnkestrix-guardd"));
    return service.isFile() && service.isExecutable();
#else
    return false;
#endif
}
