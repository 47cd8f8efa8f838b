// Writes the program's icon, drawn by the program's own code, into the files that
// packages and installers want:
//   render-icon png SIZE FILE   one square PNG
//   render-icon ico FILE        a Windows icon holding the usual sizes
// It needs no display.

#include "app/programicon.h"

#include <QBuffer>
#include <QFile>
#include <QList>
#include <QtEndian>

#include <cstdio>
#include <cstring>

namespace {

QByteArray Png(int size) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ProgramIconImage(size).save(&buffer, "PNG");
    return bytes;
}

void Append16(QByteArray &out, quint16 v) {
    const quint16 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&le), 2);
}
void Append32(QByteArray &out, quint32 v) {
    const quint32 le = qToLittleEndian(v);
    out.append(reinterpret_cast<const char *>(&le), 4);
}

// An ICO file: a 6-byte header, a 16-byte entry per image, then the images, here PNG
// compressed, which every Windows since Vista reads.
QByteArray Ico() {
    const QList<int> sizes{16, 24, 32, 48, 64, 128, 256};
    QList<QByteArray> images;
    for (int size : sizes)
        images.append(Png(size));

    QByteArray out;
    Append16(out, 0); // reserved
    Append16(out, 1); // type: icon
    Append16(out, static_cast<quint16>(sizes.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const auto side = static_cast<char>(sizes[i] == 256 ? 0 : sizes[i]); // 0 means 256
        out.append(side).append(side);
        out.append('\0').append('\0'); // no palette, reserved
        Append16(out, 1);              // colour planes
        Append16(out, 32);             // bits per pixel
        Append32(out, static_cast<quint32>(images[i].size()));
        Append32(out, offset);
        offset += static_cast<quint32>(images[i].size());
    }
    for (const QByteArray &image : images)
        out.append(image);
    return out;
}

bool Write(const char *path, const QByteArray &bytes) {
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char *argv[]) {
    bool ok = false;
    if (argc == 4 && std::strcmp(argv[1], "png") == 0) {
        const int size = QByteArray(argv[2]).toInt(&ok);
        ok = ok && size >= 8 && size <= 1024 && Write(argv[3], Png(size));
    } else if (argc == 3 && std::strcmp(argv[1], "ico") == 0) {
        ok = Write(argv[2], Ico());
    } else {
        std::fputs("usage: render-icon png SIZE FILE | render-icon ico FILE\n", stderr);
        return 2;
    }
    if (!ok)
        std::fprintf(stderr, "render-icon: could not write %s\n", argv[argc - 1]);
    return ok ? 0 : 1;
}
