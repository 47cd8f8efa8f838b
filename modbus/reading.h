#pragma once
// What the window announces once it has decoded a reply: values, not its texts, so that
// whoever follows the readings (a recording, a trend) formats and plots from the numbers
// and nothing decodes a reply a second time.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace modbus {

// A measured-value reply, decoded.
struct Reading {
    qint64 time = 0; // when it was decoded, milliseconds since the epoch (UTC)
    // The request it answers: device address, function code, start address.
    std::uint8_t device = 0;
    std::uint8_t function = 0;
    std::uint16_t start = 0;
    // The reply's registers, as many as its byte count announces and it holds.
    std::vector<std::uint16_t> registers;
    // The first box the reply filled (txtValue(channel)) and the register value it shows.
    int channel = 0;
    std::uint16_t value = 0;
    QByteArray reply; // the bytes as they came, for whoever shows them
};

// The value as the window shows it in its box, as text and as a number.
QString ShownText(const Reading &reading);
double ShownValue(const Reading &reading);
// The decimals the box shows the value with.
int ShownDecimals(const Reading &reading);

// A write the module confirmed by repeating its request.
struct WriteChange {
    enum class Kind { Parameter, Address };
    Kind kind = Kind::Parameter;
    qint64 time = 0;         // when it was confirmed, milliseconds since the epoch (UTC)
    std::uint8_t device = 0; // the module written to; for an address change its old address
    int parameter = -1;      // 0 coefficient, 1 offset, 2 gain
    QString name;            // the parameter's caption in the window
    std::uint16_t value = 0; // the register value written; the new address

    static WriteChange Parameter(std::uint8_t device, int index, const QString &name,
                                 std::uint16_t value);
    static WriteChange Address(std::uint8_t from, std::uint8_t to);
};

// "参数写入 量程缩放系数 1.0500", "设备地址修改 1 → 2": what a recording marks and a trend labels.
QString WriteText(const WriteChange &change);

} // namespace modbus
