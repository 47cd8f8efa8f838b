#pragma once
// The line settings text "rate,parity,data bits,stop bits" that configures the serial
// control. The program itself only ever uses "<rate>,N,8,1".

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

struct LineSettings {
    std::int32_t baudRate = 9600;
    char parity = 'N'; // N, E, O, M or S
    int dataBits = 8;  // 5 to 8
    int stopBits = 1;  // 1 or 2
};

// Accepts "9600,N,8,1" and its relatives; empty for anything malformed or out of range.
std::optional<LineSettings> ParseLineSettings(QStringView text);

// "9600,N,8,1" for 9600: the decimal rate, no parity, 8 data bits, 1 stop bit.
QString LineSettingsText(std::int16_t rate);

// The baud rate a list text stands for: a number that rounds to 1 .. 32767.
std::optional<std::int16_t> BaudRateFromText(QStringView text);
