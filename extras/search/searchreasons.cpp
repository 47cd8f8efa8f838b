#include "searchreasons.h"

#include "serial/tcpaddress.h"

#include <array>

namespace {

struct Texts {
    // One a SearchAttempt::Outcome, in its order; %1 is the attempt's detail, or for an
    // unreachable network port the failure's text below.
    std::array<const char16_t *, 7> reasons;
    // One a MSComm::ConnectFailure, in its order.
    std::array<const char16_t *, 5> failures;
    const char16_t *silentNetwork; // a network port has no rates to try
    const char16_t *inUseBy;       // InUse when the lock file names who holds the device
    const char16_t *heading;       // the attempts follow
    const char16_t *noDevice;
    const char16_t *line; // %1 the device, %2 the reason
    const char16_t *causes;
};

constexpr Texts kChinese{
    {u"各波特率均无有效应答", u"设备不存在",
     u"无权打开：当前用户不在 %1 组（sudo usermod -aG %1 $USER，然后重新登录）", u"被其他程序占用",
     u"残留的锁文件：%1", u"查找中设备断开", u"无法连接：%1"},
    {u"", u"连接被拒绝", u"连接超时", u"找不到主机", u"网络错误"},
    u"无有效应答",
    u"被其他程序占用：%1",
    u"已尝试：\n",
    u"未找到任何串口设备。\n",
    u"%1：%2\n",
    u"\n常见原因：模块未通电；A/B 线接反；总线未接终端电阻；总线上有另一个主站。",
};

constexpr Texts kEnglish{
    {u"no valid answer at 19200, 9600, 4800 or 14400 baud", u"not there",
     u"no permission: not in the %1 group (sudo usermod -aG %1 $USER, then log in again)",
     u"in use by another program", u"stale lock: %1", u"disappeared during the search",
     u"no connection: %1"},
    {u"", u"refused", u"timed out", u"host not found", u"network error"},
    u"no valid answer",
    u"in use: %1",
    u"No module answered.\nTried:\n",
    u"No module answered.\nNo serial device was found. Is the adapter plugged in?\n",
    u"  %1: %2\n",
    u"The usual causes: the module has no power; A and B are swapped; the bus has no "
    u"termination; another master is on the bus.\n",
};

const Texts &TextsIn(ReportLanguage language) {
    return language == ReportLanguage::Chinese ? kChinese : kEnglish;
}

QString Text(const char16_t *text) {
    return QString::fromUtf16(text);
}

} // namespace

QString WhyGivenUp(const SearchAttempt &attempt, ReportLanguage language) {
    const Texts &texts = TextsIn(language);
    const auto outcome = static_cast<std::size_t>(attempt.outcome);
    if (attempt.outcome == SearchAttempt::Outcome::InUse && !attempt.detail.isEmpty())
        return Text(texts.inUseBy).arg(attempt.detail);
    if (attempt.outcome == SearchAttempt::Outcome::Silent && IsTcpText(attempt.candidate.device))
        return Text(texts.silentNetwork);
    if (attempt.outcome == SearchAttempt::Outcome::Unreachable) {
        const auto failure = static_cast<std::size_t>(attempt.failure);
        const QString why = failure > 0 && failure < texts.failures.size()
                                ? Text(texts.failures[failure])
                                : attempt.detail;
        return Text(texts.reasons[outcome]).arg(why);
    }
    const QString reason =
        outcome < texts.reasons.size() ? Text(texts.reasons[outcome]) : QString();
    return reason.contains(u"%1") ? reason.arg(attempt.detail) : reason;
}

QString NothingFoundReport(const SearchResult &result, ReportLanguage language) {
    const Texts &texts = TextsIn(language);
    QString text = Text(result.tried.isEmpty() ? texts.noDevice : texts.heading);
    for (const SearchAttempt &a : result.tried)
        text += Text(texts.line).arg(DeviceText(a.candidate), WhyGivenUp(a, language));
    return text + Text(texts.causes);
}
