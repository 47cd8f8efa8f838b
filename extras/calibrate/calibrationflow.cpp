#include "calibrationflow.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

using namespace calibration;

CalibrationFlow::CalibrationFlow(frmMain &window, QObject *parent)
    : QObject(parent), session_(new CalibrationSession(window, this)),
      logFolder_(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)) {
    connect(session_, &CalibrationSession::Progress, this, &CalibrationFlow::Progress);
    connect(session_, &CalibrationSession::Failed, this, &CalibrationFlow::Fail);
    connect(session_, &CalibrationSession::WriteSent, this, [this](std::uint16_t value) {
        record_.writes.push_back({QDateTime::currentDateTime(),
                                  QStringLiteral("量程缩放系数 ") + CoefficientText(value), false});
    });
}

CalibrationFlow::~CalibrationFlow() {
    if (open_)
        Close(QStringLiteral("程序结束，校准未完成。") + LastWriteText(record_), false);
}

QString CalibrationFlow::LogPath() const {
    return QDir(logFolder_).filePath(QStringLiteral("校准记录.csv"));
}

void CalibrationFlow::Show(const QString &status) {
    status_ = status;
    emit Changed();
}

void CalibrationFlow::Start(calibration::Record setup) {
    if (session_->Busy())
        return;
    if (open_)
        Close(QStringLiteral("重新开始测量，上一次校准未完成。") + LastWriteText(record_),
              record_.passed);
    record_ = std::move(setup);
    record_.started = QDateTime::currentDateTime();
    record_.version = QStringLiteral(SC_VERSION);
    open_ = recorded_ = true;
    proposal_.reset();
    proposedText_.clear();
    inModule_.reset();
    canAdjustAgain_ = canRestore_ = stable_ = false;

    status_ = QStringLiteral("正在读取量程缩放系数与偏移量…");
    session_->ReadParameters([this](std::uint16_t coefficient, std::uint16_t offset) {
        inModule_ = coefficient;
        record_.asFound.coefficient = coefficient;
        record_.asFound.offset = offset;
        Show(QStringLiteral("正在测量调整前的读数（%1 s）…").arg(record_.seconds));
        session_->Measure(record_.seconds, [this, coefficient](const std::vector<Sample> &samples) {
            AsFound(coefficient, samples);
        });
    });
    emit Changed();
}

std::optional<Stats> CalibrationFlow::MeasuredStats(const std::vector<Sample> &samples) {
    const auto stats = StatsOf(samples);
    if (!stats) {
        Fail(QStringLiteral("测量时间内没有收到读数"));
        return std::nullopt;
    }
    emit Measured(samples);
    return stats;
}

void CalibrationFlow::AsFound(std::uint16_t coefficient, const std::vector<Sample> &samples) {
    const auto stats = MeasuredStats(samples);
    if (!stats)
        return;
    const double error = ErrorPercent(stats->mean, record_.reference);
    record_.asFound.stats = stats;
    record_.asFound.errorPercent = error;
    record_.passed = WithinTolerance(error, record_.tolerance);
    status_ = QStringLiteral("调整前：") + MeasuredText(record_.asFound) + u'\n';
    if (record_.passed)
        status_ += QStringLiteral("在允许误差内，无需调整") + u'\n';
    record_.status = record_.passed ? QStringLiteral("在允许误差内，未调整")
                                    : QStringLiteral("超出允许误差，未调整");
    ProposeFrom(coefficient, *stats);
}

// Appends the proposal, or why there is none, to the status.
void CalibrationFlow::ProposeFrom(std::uint16_t coefficient, const Stats &stats) {
    stable_ = IsStable(stats, record_.tolerance, record_.seconds);
    const calibration::Proposal proposal =
        NewCoefficient(coefficient, record_.reference, stats.mean);
    if (proposal.refusal != calibration::Refusal::None) {
        proposal_.reset();
        proposedText_ = QStringLiteral("—");
        const QString why = RefusalText(proposal);
        Show(status_ + why);
        Close(why + LastWriteText(record_), record_.passed);
        return;
    }
    proposal_ = proposal.coefficient;
    proposedText_ = CoefficientText(proposal.coefficient);
    QString text = QStringLiteral("新系数 %1：按“%2”写入模块。")
                       .arg(proposedText_, canAdjustAgain_ ? QStringLiteral("再调整一次")
                                                           : QStringLiteral("写入新系数"));
    if (!stable_)
        text += QStringLiteral("注意：测量不稳定，写入前将请您确认。");
    Show(status_ + text);
}

void CalibrationFlow::WriteProposal() {
    if (!proposal_ || session_->Busy())
        return;
    if (!stable_ &&
        !asker_(QStringLiteral("测量不稳定（读数的标准差或漂移超过允许误差带的四分之一）。"
                               "仍要把量程缩放系数 %1 写入模块吗？")
                    .arg(proposedText_))) {
        proposal_.reset();
        const QString why =
            QStringLiteral("测量不稳定，未确认写入，新系数未写入。") + LastWriteText(record_);
        Show(why);
        Close(why, record_.passed);
        return;
    }
    open_ = true; // a calibration that ended in a failure goes on
    WriteAndCheck(*proposal_, false);
}

void CalibrationFlow::RestoreOriginal() {
    if (!record_.asFound.coefficient || session_->Busy())
        return;
    open_ = true;
    proposal_.reset();
    WriteAndCheck(*record_.asFound.coefficient, true);
}

void CalibrationFlow::WriteAndCheck(std::uint16_t value, bool restoring) {
    status_ = QStringLiteral("正在写入量程缩放系数 %1…").arg(CoefficientText(value));
    session_->WriteCoefficient(value, [this, value, restoring] {
        record_.writes.back().confirmed = true;
        Show(QStringLiteral("模块已确认写入，正在回读量程缩放系数…"));
        session_->ReadCoefficient([this, value, restoring](std::uint16_t back) {
            inModule_ = back;
            if (back != value) {
                session_->Stop();
                proposal_.reset();
                canAdjustAgain_ = false;
                canRestore_ = true;
                record_.status =
                    QStringLiteral(
                        "回读的量程缩放系数为 %1，与写入的 %2 不符：模块没有采用写入的值。")
                        .arg(CoefficientText(back), CoefficientText(value)) +
                    LastWriteText(record_);
                record_.passed = false;
                Show(record_.status);
                return;
            }
            Show(QStringLiteral("正在测量调整后的读数（%1 s）…").arg(record_.seconds));
            session_->Measure(record_.seconds,
                              [this, restoring](const std::vector<Sample> &samples) {
                                  AsLeft(samples, restoring);
                              });
        });
    });
    emit Changed();
}

void CalibrationFlow::AsLeft(const std::vector<Sample> &samples, bool restoring) {
    const auto stats = MeasuredStats(samples);
    if (!stats)
        return;
    const double error = ErrorPercent(stats->mean, record_.reference);
    // The offset is never written, so it is as found.
    record_.asLeft = {inModule_, record_.asFound.offset, stats, error};
    const bool within = WithinTolerance(error, record_.tolerance);
    const QString figures = QStringLiteral("调整后：") + MeasuredText(record_.asLeft) + u'\n';
    proposal_.reset();
    canAdjustAgain_ = canRestore_ = false;
    if (restoring || within) {
        const QString text =
            (restoring ? QStringLiteral("已恢复原值。") : QStringLiteral("校准完成。")) + figures +
            LastWriteText(record_);
        Show(text);
        Close(text, within);
        return;
    }
    record_.passed = false;
    record_.status = QStringLiteral("调整后仍超出允许误差。") + LastWriteText(record_);
    status_ = QStringLiteral("调整后仍超出允许误差。") + figures +
              QStringLiteral("可“再调整一次”或“恢复原值”。\n");
    canAdjustAgain_ = canRestore_ = true;
    ProposeFrom(*inModule_, *stats);
}

void CalibrationFlow::Fail(const QString &reason) {
    const QString text = reason + QStringLiteral("，校准已停止。") + LastWriteText(record_);
    // A coefficient went out: the way back stays offered.
    canRestore_ = record_.asFound.coefficient && !record_.writes.empty();
    canAdjustAgain_ = false;
    proposal_.reset();
    Show(text);
    Close(text, false);
    emit Failed(text);
}

void CalibrationFlow::Interrupt() {
    if (session_->Busy()) {
        session_->Stop(); // its polling stops, the window's frames come back
        Show(QStringLiteral("校准已中断。") + LastWriteText(record_));
    }
    if (open_)
        Close(QStringLiteral("窗口关闭，校准未完成。") + LastWriteText(record_), record_.passed);
}

void CalibrationFlow::Close(const QString &status, bool passed) {
    record_.status = QString(status).replace(u'\n', u' ').trimmed(); // one line in the log
    record_.passed = passed;
    if (!open_)
        return;
    open_ = false;
    QDir().mkpath(logFolder_);
    if (const auto why = AppendToLog(LogPath(), record_))
        Show(status_ + u'\n' +
             QStringLiteral("无法写入校准记录 %1：%2")
                 .arg(QDir::toNativeSeparators(LogPath()), *why));
}
