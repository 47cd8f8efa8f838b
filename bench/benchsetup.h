#pragma once
// What every benchmark starts from: a program directory whose comm.set names COM4, and
// the percentile of a sample.

#include <QFile>
#include <QTemporaryDir>

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
