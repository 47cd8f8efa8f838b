// comm.set as start-up finds it: any bytes at all in the file, read through ReadCommSet,
// and the same bytes handed to ParseCommSet directly.

#include "app/runtime.h"
#include "fuzzcheck.h"
#include "serial/commset.h"
#include "serial/portdevice.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// What the reader reads of a file with no line break.
constexpr qsizetype kMaxRead = 4096;

constexpr Rounding kRound = rt::RoundedTo<std::int16_t>;

bool Same(const CommSetContent &a, const CommSetContent &b) {
    return a.status == b.status && a.port == b.port && a.rate == b.rate;
}

void CheckPromises(const CommSetContent &c) {
    Require(c.status != CommSetContent::Status::Missing, "a file that exists read as missing");
    if (c.status == CommSetContent::Status::Valid) {
        Require(c.port && c.rate, "valid without both fields");
        Require(*c.port >= kFirstPort && *c.port <= kLastPort, "valid with a port outside 1..16");
        Require(*c.rate >= 0, "valid with a negative rate");
        // What the program would write back reads the same.
        Require(Same(ParseCommSet(CommSetText(*c.port, *c.rate), kRound), c), "no round trip");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static QTemporaryDir *dir = new QTemporaryDir;
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));

    const CommSetContent parsed = ParseCommSet(content, kRound);
    CheckPromises(parsed);

    QFile file(QDir(dir->path()).filePath(QString::fromLatin1(kCommSetName)));
    Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write comm.set");
    Require(file.write(content) == content.size(), "comm.set written short");
    file.close();
    const CommSetContent read = ReadCommSet(dir->path(), kRound);
    CheckPromises(read);

    // Only the first line counts, so reading the file gives what parsing gives, except for a
    // first line too long to be read whole, which is refused with nothing carried.
    const QByteArray head = content.first(std::min(kMaxRead, content.size()));
    if (content.size() > kMaxRead && !head.contains('\r') && !head.contains('\n'))
        Require(Same(read, {CommSetContent::Status::Invalid, {}, {}}), "long line not refused");
    else
        Require(Same(read, parsed), "file and text read differently");
    return 0;
}
