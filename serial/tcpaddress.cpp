#include "tcpaddress.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

std::optional<TcpAddress> Refuse(QString *why, const QString &text) {
    if (why)
        *why = text;
    return std::nullopt;
}

// Letters, digits and hyphens in dot-separated labels of 1 to 63 characters, as DNS and
// the hosts file take them; an IPv4 literal passes too and is checked as such below.
bool IsHostName(const QString &host) {
    static const QRegularExpression form(
        QStringLiteral(R"(^(?=.{1,253}$)[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)"
                       R"((?:\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\.?$)"));
    return form.match(host).hasMatch();
}

bool LooksLikeIpv4(const QString &host) {
    static const QRegularExpression form(QStringLiteral(R"(^[0-9.]+$)"));
    return form.match(host).hasMatch();
}

} // namespace

QString TcpAddress::Text() const {
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1%2:%3").arg(QLatin1String(kTcpScheme), shown).arg(port);
}

bool IsTcpText(QStringView text) {
    return text.startsWith(QLatin1String(kTcpScheme), Qt::CaseInsensitive);
}

std::optional<TcpAddress> ParseTcpAddress(QStringView text, QString *why) {
    const QString usage = QStringLiteral("write it as tcp://HOST:PORT");
    if (!IsTcpText(text))
        return Refuse(why, QStringLiteral("not a network address; %1").arg(usage));
    const QString rest = text.mid(qsizetype(sizeof kTcpScheme) - 1).toString();
    QString host;
    QString portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return Refuse(why, QStringLiteral("the IPv6 address has no closing \"]\""));
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.startsWith(u':'))
            return Refuse(why, QStringLiteral("no port after the address; %1").arg(usage));
        portText = after.mid(1);
        const QHostAddress literal(host);
        if (literal.isNull() || literal.protocol() != QAbstractSocket::IPv6Protocol)
            return Refuse(why, QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return Refuse(why, QStringLiteral("no port given; %1").arg(usage));
        host = rest.left(colon);
        portText = rest.mid(colon + 1);
        if (host.contains(u':'))
            return Refuse(why, QStringLiteral("an IPv6 address goes in brackets: "
                                              "tcp://[ADDRESS]:PORT"));
        if (host.isEmpty())
            return Refuse(why, QStringLiteral("no host given; %1").arg(usage));
        if (!IsHostName(host))
            return Refuse(why, QStringLiteral("\"%1\" is not a host name or address").arg(host));
        if (LooksLikeIpv4(host) && QHostAddress(host).protocol() != QAbstractSocket::IPv4Protocol)
            return Refuse(why, QStringLiteral("\"%1\" is not an IPv4 address").arg(host));
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (portText.isEmpty())
        return Refuse(why, QStringLiteral("no port given; %1").arg(usage));
    const int port = digits.match(portText).hasMatch() ? portText.toInt() : -1;
    if (port < 1 || port > 65535)
        return Refuse(why, QStringLiteral("the port must be 1 to 65535, not \"%1\"").arg(portText));
    return TcpAddress{host, static_cast<std::uint16_t>(port)};
}
