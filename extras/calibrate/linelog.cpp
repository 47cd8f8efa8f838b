// The line's rows of the calibration log, and a module's history read back from it.

#include "linerecord.h"

namespace calibration {

QList<QByteArray> LogRows(const LineSetup &, const ModuleRecord &) {
    return {};
}

std::optional<QString> AppendLineToLog(const QString &, const LineSetup &,
                                       const std::vector<ModuleRecord> &) {
    return std::nullopt;
}

std::variant<std::vector<HistoryEntry>, QString> ReadHistory(const QString &, const QString &) {
    return std::vector<HistoryEntry>{};
}

} // namespace calibration
