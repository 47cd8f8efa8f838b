// The search's cost: a device where nothing answers (silent, and one that babbles at every
// rate), and the time to find the module at each of the rates, in the order they are tried.
// Each search is timed from start() to finished(), opening and closing the device included.
//   bench_search [SEARCHES]

#include "extras/search/modulesearch.h"
#include "tests/e2e/simulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchsetup.h"

namespace {

// Milliseconds for each of `searches` searches of the one device behind COM7; negative for
// a search whose outcome was not `found`.
std::vector<double> Time(const QStringList &simOptions, bool found, int searches) {
    QTemporaryDir dir;
    Simulator sim(dir.path(), 7, simOptions);
    std::vector<double> ms;
    if (!sim.isReady())
        return ms;
    const QString device = QFile::symLinkTarget(dir.filePath(QStringLiteral("COM7")));
    for (int i = 0; i < searches; ++i) {
        ModuleSearch search({{device, 7}});
        QEventLoop wait;
        bool asExpected = false;
        QObject::connect(&search, &ModuleSearch::Finished, &wait, [&](const SearchResult &r) {
            asExpected = r.found == found;
            wait.quit();
        });
        QTimer::singleShot(5000, &wait, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        search.Start();
        wait.exec();
        ms.push_back(asExpected ? double(clock.nsecsElapsed()) / 1e6 : -1);
    }
    return ms;
}

// A search that ended otherwise than expected is counted, not timed.
void Report(const char *name, std::vector<double> ms) {
    const auto misses = std::erase_if(ms, [](double t) { return t < 0; });
    std::printf("%s_p50_ms %.1f\n%s_max_ms %.1f\n%s_misses %zu\n", name, Percentile(ms, 0.5), name,
                Percentile(ms, 1.0), name, misses);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int searches = argc > 1 ? std::atoi(argv[1]) : 20;

    // 1200 baud is none of the rates searched: the module hears nothing.
    Report("silent", Time({QStringLiteral("--baud"), QStringLiteral("1200")}, false, searches));
    Report("babbling", Time({QStringLiteral("--baud"), QStringLiteral("1200"),
                             QStringLiteral("--noise-at-wrong-rate")},
                            false, searches));
    for (const std::int16_t rate : kSearchRates) {
        const QByteArray name = "found_" + QByteArray::number(rate);
        Report(name.constData(), Time({QStringLiteral("--baud"), QString::number(rate),
                                       QStringLiteral("--noise-at-wrong-rate")},
                                      true, searches));
    }
    return 0;
}
