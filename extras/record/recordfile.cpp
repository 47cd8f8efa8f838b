#include "recordfile.h"

#include <QFileDevice>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace recording {

bool SyncToDisk(const QFileDevice &file) {
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0; // FlushFileBuffers on the file's handle
#else
    return ::fsync(file.handle()) == 0;
#endif
}

} // namespace recording
