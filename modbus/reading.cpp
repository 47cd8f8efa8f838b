#include "reading.h"

#include "decoding.h"

namespace modbus {

QString ShownText(const Reading &reading) {
    return ChannelText(reading.channel, reading.value);
}

double ShownValue(const Reading &reading) {
    return ChannelValue(reading.channel, reading.value);
}

int ShownDecimals(const Reading &reading) {
    return ChannelDecimals(reading.channel);
}

WriteChange WriteChange::Parameter(std::uint8_t device, int index, const QString &name,
                                   std::uint16_t value) {
    WriteChange change;
    change.device = device;
    change.parameter = index;
    change.name = name;
    change.value = value;
    return change;
}

WriteChange WriteChange::Address(std::uint8_t from, std::uint8_t to) {
    WriteChange change;
    change.kind = Kind::Address;
    change.device = from;
    change.value = to;
    return change;
}

QString WriteText(const WriteChange &change) {
    if (change.kind == WriteChange::Kind::Address)
        return QStringLiteral("设备地址修改 %1 → %2").arg(change.device).arg(change.value);
    return QStringLiteral("参数写入 %1 %2")
        .arg(change.name, ParameterText(static_cast<std::int16_t>(change.parameter), change.value)
                              .value_or(QString()));
}

} // namespace modbus
