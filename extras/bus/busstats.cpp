#include "busstats.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace bus {

void ModuleHealth::Count(const Answer &answer) {
    ++requests;
    switch (answer.judged.heard) {
    case Heard::Reply:
        ++replies;
        shown = ReadingText(answer.judged.value);
        break;
    case Heard::Exception:
        ++replies; // it answers, though not with a reading
        shown = QStringLiteral("异常 %1").arg(answer.judged.value);
        break;
    case Heard::WrongAddress:
        ++wrongAddress; // never shown as this module's reading
        break;
    case Heard::Garbled:
    case Heard::Short:
        ++crcErrors;
        break;
    default:
        ++timeouts;
        break;
    }
    const bool answered =
        answer.judged.heard == Heard::Reply || answer.judged.heard == Heard::Exception;
    if (!answered) {
        ++missedRounds;
        return;
    }
    missedRounds = 0;
    lastAnswered = answer.time;
    lastMs = answer.ms;
    if (bins_.empty())
        bins_.assign(kBins, 0);
    bins_[std::clamp(static_cast<int>(answer.ms * 10), 0, kBins - 1)] += 1;
    sumMs_ += answer.ms;
}

void ModuleHealth::Reset() {
    *this = ModuleHealth(address);
}

std::optional<double> ModuleHealth::MeanMs() const {
    if (replies == 0 || bins_.empty())
        return std::nullopt;
    return sumMs_ / static_cast<double>(replies);
}

std::optional<double> ModuleHealth::PercentileMs(double p) const {
    if (replies == 0 || bins_.empty())
        return std::nullopt;
    // The smallest time at or below which p % of the replies came: the bin's upper edge.
    const auto rank =
        static_cast<std::uint64_t>(std::ceil(p / 100.0 * static_cast<double>(replies)));
    std::uint64_t seen = 0;
    for (int bin = 0; bin < kBins; ++bin) {
        seen += bins_[bin];
        if (seen >= rank)
            return (bin + 1) / 10.0;
    }
    return kBins / 10.0;
}

QStringList HealthColumns() {
    return {QStringLiteral("地址"),     QStringLiteral("读数"),         QStringLiteral("请求"),
            QStringLiteral("应答"),     QStringLiteral("超时"),         QStringLiteral("CRC错误"),
            QStringLiteral("地址错误"), QStringLiteral("最近应答(ms)"), QStringLiteral("平均(ms)"),
            QStringLiteral("P99(ms)"),  QStringLiteral("最后应答时间"), QStringLiteral("状态")};
}

QStringList HealthRow(const ModuleHealth &health) {
    const auto ms = [](std::optional<double> value) {
        return value ? QString::number(*value, 'f', 1) : QString();
    };
    const bool answered = health.lastAnswered != 0;
    QString state = QStringLiteral("正常");
    if (health.Missing())
        state = QStringLiteral("连续 %1 轮无应答").arg(health.missedRounds);
    else if (health.requests == 0)
        state = QString();
    return {QString::number(health.address),
            health.shown,
            QString::number(health.requests),
            QString::number(health.replies),
            QString::number(health.timeouts),
            QString::number(health.crcErrors),
            QString::number(health.wrongAddress),
            answered ? ms(health.lastMs) : QString(),
            ms(health.MeanMs()),
            ms(health.PercentileMs(99)),
            answered ? QDateTime::fromMSecsSinceEpoch(health.lastAnswered)
                           .toString(QStringLiteral("HH:mm:ss"))
                     : QString(),
            state};
}

QString HealthText(const std::vector<ModuleHealth> &modules) {
    QStringList lines{HealthColumns().join(u'\t')};
    for (const ModuleHealth &health : modules)
        lines << HealthRow(health).join(u'\t');
    return lines.join(u'\n') + u'\n';
}

} // namespace bus
