#pragma once
// What every benchmark starts from: a program directory whose comm.set names COM4, the
// percentile of a sample, and the resident memory now.

#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <vector>

inline bool SaveCom4(const QTemporaryDir &dir) {
    QFile settings(dir.filePath(QStringLiteral("comm.set")));
    return settings.open(QIODevice::WriteOnly) && settings.write("4,19200\r\n") == 9;
}

inline double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto i = static_cast<size_t>(std::ceil(p * double(values.size())) - 1);
    return values[std::min(i, values.size() - 1)];
}

// Resident memory now, from the kernel's page counts.
inline double ResidentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1 << 20) : 0;
}
