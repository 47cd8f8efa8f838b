#pragma once
// The one platform call of the recording: flush the operating system's cache of an open
// file to the disk.

class QFileDevice;

namespace recording {

// True when the file's data reached the disk; otherwise errno (POSIX) or the C runtime's
// errno (Windows) says why.
bool SyncToDisk(const QFileDevice &file);

} // namespace recording
