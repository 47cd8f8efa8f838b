#include "tcpaddress.h"

#include <QHostAddress>
#include <QUrl>

namespace {

std::optional<TcpAddress> Refuse(QString *why, const QString &text) {
    if (why)
        *why = text;
    return std::nullopt;
}

bool IsNumber(const QString &text) {
    bool number = false;
    text.toUInt(&number);
    return number;
}

} // namespace

QString TcpAddress::Text() const {
    // An IPv6 zone ("%eth0") is written "%25eth0" in a URL.
    const QString shown = host.contains(u':')
                              ? u'[' + QString(host).replace(u'%', QStringLiteral("%25")) + u']'
                              : host;
    return QStringLiteral("%1%2:%3").arg(QLatin1String(kTcpScheme), shown).arg(port);
}

bool IsTcpText(QStringView text) {
    return text.startsWith(QLatin1String(kTcpScheme), Qt::CaseInsensitive);
}

std::optional<TcpAddress> ParseTcpAddress(QStringView text, QString *why) {
    const QString usage = QStringLiteral("write it as tcp://HOST:PORT");
    if (!IsTcpText(text))
        return Refuse(why, QStringLiteral("not a network address; %1").arg(usage));
    // QUrl reads the whole. The host is split off here too, before the last colon outside
    // brackets: a name is kept as written, where QUrl lowercases it, and a refusal says which
    // part is wrong, which QUrl tells in prose alone.
    const QUrl url(text.toString(), QUrl::StrictMode);
    const QString rest = text.sliced(qsizetype(sizeof kTcpScheme) - 1).toString();
    const qsizetype colon = rest.lastIndexOf(u':');
    QString host = colon > rest.lastIndexOf(u']') ? rest.left(colon) : rest;
    const QString portText = rest.mid(host.size() + 1);
    QUrl hostOnly;
    hostOnly.setHost(host, QUrl::StrictMode);
    const QHostAddress literal(hostOnly.host());
    if (host.startsWith(u'[')) {
        if (!host.contains(u']'))
            return Refuse(why, QStringLiteral("the IPv6 address has no closing \"]\""));
        if (!host.endsWith(u']') || literal.protocol() != QAbstractSocket::IPv6Protocol)
            return Refuse(
                why,
                QStringLiteral("\"%1\" is not an IPv6 address").arg(host.sliced(1).chopped(1)));
        host = hostOnly.host(); // without its brackets, a zone decoded
    } else if (host.contains(u':')) {
        return Refuse(why, QStringLiteral("an IPv6 address goes in brackets: "
                                          "tcp://[ADDRESS]:PORT"));
    } else if (host.isEmpty()) {
        return Refuse(why, QStringLiteral("no host given; %1").arg(usage));
    } else if (!hostOnly.isValid()) {
        return Refuse(why, QStringLiteral("\"%1\" is not a host name or address").arg(host));
    } else if (IsNumber(host.section(u'.', -1)) &&
               literal.protocol() != QAbstractSocket::IPv4Protocol) {
        // No name ends in a number, so this is meant as an IPv4 address; QUrl would take
        // "300.1.1.1" for a name.
        return Refuse(why, QStringLiteral("\"%1\" is not an IPv4 address").arg(host));
    }
    if (portText.isEmpty())
        return Refuse(why, QStringLiteral("no port given; %1").arg(usage));
    // QUrl reads "80/x" as a port and a path: nothing may follow the port.
    const int port =
        url.path().isEmpty() && !url.hasQuery() && !url.hasFragment() ? url.port() : -1;
    if (port < 1)
        return Refuse(why, QStringLiteral("the port must be 1 to 65535, not \"%1\"").arg(portText));
    return TcpAddress{host, static_cast<std::uint16_t>(port)};
}
