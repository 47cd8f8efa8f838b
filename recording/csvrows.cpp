#include "csvrows.h"

#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace recording {
namespace {

// Columns in front of the registers, and behind them the reply and the mark.
constexpr int kLeadingColumns = 5;
constexpr int kColumns = kLeadingColumns + kRegisterColumns + 2;

QString Quoted(const QString &field) {
    static const QString special = QStringLiteral(",\"\r\n");
    if (std::none_of(field.cbegin(), field.cend(), [](QChar c) { return special.contains(c); }))
        return field;
    QString quoted = field;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QByteArray Row(QStringList fields) {
    fields.resize(kColumns);
    for (QString &field : fields)
        field = Quoted(field);
    return (fields.join(u',') + QStringLiteral("\r\n")).toUtf8();
}

int Byte(const QByteArray &bytes, qsizetype i) {
    return static_cast<std::uint8_t>(bytes[i]);
}

} // namespace

QString LocalTimeText(const QDateTime &time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QChar(u'0'))
               .arg(minutes % 60, 2, 10, QChar(u'0'));
}

QByteArray FileStart() {
    QStringList header{QStringLiteral("时间"), QStringLiteral("设备地址"), QStringLiteral("功能码"),
                       QStringLiteral("起始地址"), QStringLiteral("显示值")};
    for (int i = 1; i <= kRegisterColumns; ++i)
        header << QStringLiteral("寄存器%1").arg(i);
    header << QStringLiteral("回复") << QStringLiteral("标记");
    return QByteArrayLiteral("\xEF\xBB\xBF") + Row(header);
}

QByteArray ReadingRow(const QDateTime &time, const QByteArray &request, const QByteArray &reply,
                      const QString &shown) {
    QStringList fields{LocalTimeText(time)};
    if (request.size() >= 4) {
        fields << QString::number(Byte(request, 0)) << QString::number(Byte(request, 1))
               << QString::number(256 * Byte(request, 2) + Byte(request, 3));
    } else {
        fields << QString() << QString() << QString();
    }
    fields << shown;
    // The data bytes the byte count announces, as far as they came.
    const qsizetype end =
        reply.size() >= 3 ? std::min<qsizetype>(reply.size(), 3 + Byte(reply, 2)) : 0;
    for (int i = 0; i < kRegisterColumns; ++i) {
        const qsizetype high = 3 + 2 * qsizetype{i};
        fields << (high + 1 < end ? QString::number(256 * Byte(reply, high) + Byte(reply, high + 1))
                                  : QString());
    }
    fields << QString::fromLatin1(reply.toHex(' ').toUpper());
    return Row(fields);
}

QByteArray MarkRow(const QDateTime &time, const QString &what) {
    QStringList fields{LocalTimeText(time)};
    fields.resize(kColumns - 1);
    fields << what;
    return Row(fields);
}

} // namespace recording
