#include "linesettings.h"

#include "app/runtime.h"

#include <QList>

std::optional<LineSettings> ParseLineSettings(QStringView text) {
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    bool ok = false;
    LineSettings s;
    s.baudRate = fields[0].trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0)
        return std::nullopt;

    const QStringView parity = fields[1].trimmed();
    if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity[0].toUpper()))
        return std::nullopt;
    s.parity = parity[0].toUpper().toLatin1();

    s.dataBits = fields[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;

    s.stopBits = fields[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2))
        return std::nullopt;
    return s;
}

QString LineSettingsText(std::int16_t rate) {
    return rt::DecimalText(rate) + QStringLiteral(",N,8,1");
}

std::optional<std::int16_t> BaudRateFromText(QStringView text) {
    const auto rate = rt::RoundedTo<std::int16_t>(text);
    if (!rate || *rate <= 0)
        return std::nullopt;
    return rate;
}
