#include "find.h"

#include "extras/search/modulesearch.h"
#include "extras/search/searchreasons.h"
#include "serial/commset.h"
#include "serial/tcpaddress.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

bool OverTcp(const SearchResult &r) {
    return IsTcpText(r.where.device);
}

// COM4<TAB>/dev/ttyUSB0<TAB>9600<TAB>7, "-" for a device without a COMn and for the rate
// of a network port, which has none.
QString ResultLine(const SearchResult &r, int port) {
    return QStringLiteral("%1\t%2\t%3\t%4\n")
        .arg(port == 0 ? QStringLiteral("-") : QStringLiteral("COM%1").arg(port), r.where.device,
             OverTcp(r) ? QStringLiteral("-") : QString::number(r.rate))
        .arg(r.address);
}

// As the window's "use these settings": the COMn link when the device has none, and
// comm.set.
bool Use(const SearchResult &r, const SettingsPlace &place, int &port, QTextStream &err) {
    const FoundPort found = PortForFound(r.where, place);
    if (!found.message.isEmpty())
        err << found.message << '\n';
    if (found.port == 0)
        return false;
    port = found.port;
    if (!WriteCommSet(place.own, static_cast<std::int16_t>(port), r.rate)) {
        err << "sensor-companion-ports: cannot write " << CommSetPath(place.own) << '\n';
        return false;
    }
    err << "Saved: " << CommSetPath(place.own) << " now says " << port << ',' << r.rate << '\n';
    return true;
}

} // namespace

int FindModule(const SettingsPlace &place, bool use) {
    QTextStream err(stderr);
    ModuleSearch search(SearchCandidates(place));
    QObject::connect(&search, &ModuleSearch::Trying,
                     [&err](const SearchCandidate &c, std::int16_t rate, int) {
                         err << "trying " << DeviceText(c);
                         if (!IsTcpText(c.device))
                             err << " at " << rate << " baud";
                         err << '\n';
                         err.flush();
                     });
    int status = 1;
    QObject::connect(&search, &ModuleSearch::Finished, [&](const SearchResult &r) {
        if (!r.found) {
            err << NothingFoundReport(r, ReportLanguage::English);
        } else {
            err << "found: address " << r.address << " on " << DeviceText(r.where);
            if (!OverTcp(r))
                err << " at " << r.rate << " baud";
            err << '\n';
            if (r.echoes)
                err << "the adapter echoes what is sent; the program leaves the echo out\n";
            int port = r.where.port;
            status = !use || Use(r, place, port, err) ? 0 : 1;
            QTextStream(stdout) << ResultLine(r, port);
        }
        QCoreApplication::exit(status);
    });
    search.Start();
    QCoreApplication::exec();
    return status;
}
