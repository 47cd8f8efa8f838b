#pragma once
// A COMn may stand for a serial device server on the network instead of a device: the link
// names it as "tcp://HOST:PORT", and RTU frames travel over that connection as they would
// over the line. Pure text handling, for the port command, the window and their tests.

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

struct TcpAddress {
    QString host; // a name, an IPv4 literal, or an IPv6 literal without its brackets
    std::uint16_t port = 0;

    // "tcp://host:port", an IPv6 literal in brackets.
    QString Text() const;
    bool operator==(const TcpAddress &) const = default;
};

inline constexpr char kTcpScheme[] = "tcp://";

// Whether text is meant as a network address (starts with "tcp://", any case), good or bad.
bool IsTcpText(QStringView text);

// The address in "tcp://HOST:PORT"; nothing, with why in English in *why, otherwise.
std::optional<TcpAddress> ParseTcpAddress(QStringView text, QString *why = nullptr);
