#include "busframe.h"

#include "modbus/frame.h"
#include "modbus/reading.h"

#include <QRegularExpression>

#include <cmath>

namespace bus {

namespace {

// A reply: address, 3, 2, the value high and low, CRC. An exception: address, 0x83, code, CRC.
// The module answers within a few milliseconds; 50 ms leaves room for a busy machine, and a
// scan of 35 silent addresses at the module's 19200 baud still takes only about 2.1 s.
constexpr int kTurnaroundMarginMs = 50;
// The request, the reply, and the 3.5 character times of silence that end the request
// (rounded up to 4), ten bits each.
constexpr int kCharactersOnWire = 8 + kReplyLength + 4;
constexpr int kBitsPerCharacter = 10;

std::uint8_t At(QByteArrayView bytes, qsizetype i) {
    return static_cast<std::uint8_t>(bytes[i]);
}

bool CrcRight(QByteArrayView frame) {
    const auto *data = reinterpret_cast<const std::uint8_t *>(frame.data());
    const qsizetype body = frame.size() - 2;
    const std::uint16_t crc = modbus::Crc16Value({data, static_cast<std::size_t>(body)});
    return At(frame, body) == (crc & 0xFF) && At(frame, body + 1) == (crc >> 8);
}

QByteArray Sealed(modbus::RequestFrame frame) {
    const std::uint16_t crc = modbus::Crc16Value({frame.data(), 6});
    frame[6] = static_cast<std::uint8_t>(crc & 0xFF);
    frame[7] = static_cast<std::uint8_t>(crc >> 8);
    return modbus::ToBytes(frame);
}

// What the checks of a read's and a write's answer share: its length, CRC and address.
// Nothing when it is the asked module's answer in full, not an exception.
std::optional<Judged> JudgeFrame(std::uint8_t asked, QByteArrayView bytes, bool final,
                                 std::uint8_t function, qsizetype length) {
    if (bytes.isEmpty())
        return Judged{final ? Heard::Silent : Heard::Incomplete};
    const bool exception = bytes.size() >= 2 && At(bytes, 1) == (function | 0x80);
    const qsizetype expected = exception ? kExceptionLength : length;
    if (bytes.size() < expected)
        return Judged{final ? Heard::Short : Heard::Incomplete};
    if (bytes.size() > expected || !CrcRight(bytes))
        return Judged{Heard::Garbled};
    const int from = At(bytes, 0);
    if (from != asked)
        return Judged{Heard::WrongAddress, from};
    if (exception)
        return Judged{Heard::Exception, from, At(bytes, 2)};
    return std::nullopt;
}

std::uint8_t High(std::uint16_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t Low(std::uint16_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

} // namespace

QByteArray ReadRequest(std::uint8_t address, std::uint16_t reg) {
    return Sealed({address, 3, High(reg), Low(reg), 0, 1, 0, 0});
}

QByteArray WriteRequest(std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
    return Sealed({address, 6, High(reg), Low(reg), High(value), Low(value), 0, 0});
}

int WaitMs(std::int32_t rate) {
    const double wireMs = 1000.0 * kCharactersOnWire * kBitsPerCharacter / std::max(rate, 1);
    return static_cast<int>(std::ceil(wireMs)) + kTurnaroundMarginMs;
}

Judged Judge(std::uint8_t asked, QByteArrayView bytes, bool final) {
    if (const auto judged = JudgeFrame(asked, bytes, final, 3, kReplyLength))
        return *judged;
    if (At(bytes, 1) != 3 || At(bytes, 2) != 2)
        return {Heard::Garbled}; // checks out, but answers no read of one register
    return {Heard::Reply, asked, static_cast<std::uint16_t>(256 * At(bytes, 3) + At(bytes, 4))};
}

Judged JudgeEcho(QByteArrayView request, QByteArrayView bytes, bool final) {
    const std::uint8_t asked = At(request, 0);
    if (const auto judged = JudgeFrame(asked, bytes, final, At(request, 1), request.size()))
        return *judged;
    if (bytes != request)
        return {Heard::Garbled}; // checks out, but repeats no such write
    return {Heard::Reply, asked, static_cast<std::uint16_t>(256 * At(bytes, 4) + At(bytes, 5))};
}

QString ReadingText(std::uint16_t value) {
    modbus::Reading reading; // start 0: its value in the first box
    reading.value = value;
    return modbus::ShownText(reading);
}

std::variant<QList<int>, QString> ParseAddresses(const QString &text) {
    static const QRegularExpression kItem(QStringLiteral("^(\\d{1,3})(?:-(\\d{1,3}))?$"));
    QList<int> addresses;
    const QStringList items =
        text.split(QRegularExpression(QStringLiteral("[,，\\s]+")), Qt::SkipEmptyParts);
    for (const QString &item : items) {
        const QRegularExpressionMatch match = kItem.match(item);
        if (!match.hasMatch())
            return QStringLiteral("“%1”不是地址，请输入 %2 到 %3 的地址，如 3,5,7-9")
                .arg(item)
                .arg(kFirstAddress)
                .arg(kLastAddress);
        const int first = match.captured(1).toInt();
        const int last = match.hasCaptured(2) ? match.captured(2).toInt() : first;
        if (first < kFirstAddress || last > kLastAddress || first > last)
            return QStringLiteral("地址 %1 超出范围，地址为 %2 到 %3")
                .arg(item)
                .arg(kFirstAddress)
                .arg(kLastAddress);
        for (int address = first; address <= last; ++address) {
            if (!addresses.contains(address))
                addresses.append(address);
        }
    }
    if (addresses.isEmpty())
        return QStringLiteral("请输入要查看的地址，如 3,5,7-9");
    return addresses;
}

QString AddressesText(const QList<int> &addresses) {
    QStringList parts;
    for (qsizetype i = 0; i < addresses.size();) {
        qsizetype run = i;
        while (run + 1 < addresses.size() && addresses[run + 1] == addresses[run] + 1)
            ++run;
        if (run - i >= 2) {
            parts << QStringLiteral("%1-%2").arg(addresses[i]).arg(addresses[run]);
            i = run + 1;
        } else {
            parts << QString::number(addresses[i]);
            ++i;
        }
    }
    return parts.join(u',');
}

std::optional<int> AddressIn(const QString &text) {
    bool ok = false;
    const int address = text.trimmed().toInt(&ok);
    if (!ok || address < kFirstAddress || address > kLastAddress)
        return std::nullopt;
    return address;
}

} // namespace bus
