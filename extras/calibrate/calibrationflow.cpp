// The calibration's steps, in the order the technician meets them: as found, the proposal,
// the write and its read-back, as left, and the way back to the coefficient found.

#include "app/frmMain.h"
#include "calibrationsession.h"
#include "calibrationwindow.h"
#include "serial/mscomm.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStandardPaths>

using namespace calibration;

void CalibrationWindow::StartMeasuring() {
    if (session_->Busy() || !ReadFields())
        return;
    if (open_)
        Close(QStringLiteral("重新开始测量，上一次校准未完成。") + LastWriteText(record_),
              record_.passed);
    SaveSettings();
    record_ = Record{};
    record_.started = QDateTime::currentDateTime();
    record_.version = QStringLiteral(SC_VERSION);
    record_.port = QStringLiteral("COM%1").arg(window_.MSComm1->commPort());
    record_.rate = window_.MSComm1->settings().section(u',', 0, 0);
    record_.device = window_.txtStationID->text().trimmed();
    record_.operatorName = operator_->text().trimmed();
    record_.instrument = instrument_->text().trimmed();
    record_.certificate = certificateNo_->text().trimmed();
    record_.reference = referenceValue_;
    record_.tolerance = toleranceValue_;
    record_.seconds = secondsValue_;
    open_ = recorded_ = true;
    proposal_.reset();
    inModule_.reset();
    canAdjustAgain_ = canRestore_ = stable_ = false;
    for (QLineEdit *box : {count_, mean_, deviation_, drift_, stability_, foundCoefficient_,
                           foundError_, newCoefficient_, leftError_})
        box->clear();

    ShowStatus(QStringLiteral("正在读取量程缩放系数与偏移量…"));
    session_->ReadParameters([this](std::uint16_t coefficient, std::uint16_t offset) {
        inModule_ = coefficient;
        record_.asFound.coefficient = coefficient;
        record_.asFound.offset = offset;
        foundCoefficient_->setText(CoefficientText(coefficient));
        ShowStatus(QStringLiteral("正在测量调整前的读数（%1 s）…").arg(secondsValue_));
        session_->Measure(secondsValue_, [this, coefficient](const std::vector<Sample> &samples) {
            AsFound(coefficient, samples);
        });
    });
    ShowButtons();
}

QString CalibrationWindow::Figures(const Measured &m) const {
    const QLocale c = QLocale::c();
    QString text;
    if (m.coefficient)
        text += QStringLiteral("系数 %1，").arg(CoefficientText(*m.coefficient));
    if (m.stats)
        text += QStringLiteral("%1 个读数，平均值 %2，标准差 %3，")
                    .arg(m.stats->count)
                    .arg(c.toString(m.stats->mean, 'f', 3), c.toString(m.stats->deviation, 'f', 3));
    if (m.errorPercent)
        text += QStringLiteral("误差 %1").arg(PercentText(*m.errorPercent));
    return text;
}

std::optional<Stats> CalibrationWindow::MeasuredStats(const std::vector<Sample> &samples) {
    const auto stats = StatsOf(samples);
    if (!stats) {
        Failed(QStringLiteral("测量时间内没有收到读数"));
        return std::nullopt;
    }
    ShowProgress(samples);
    return stats;
}

void CalibrationWindow::AsFound(std::uint16_t coefficient, const std::vector<Sample> &samples) {
    const auto stats = MeasuredStats(samples);
    if (!stats)
        return;
    const double error = ErrorPercent(stats->mean, referenceValue_);
    record_.asFound.stats = stats;
    record_.asFound.errorPercent = error;
    foundError_->setText(PercentText(error));
    record_.passed = WithinTolerance(error, toleranceValue_);
    QString text = QStringLiteral("调整前：") + Figures(record_.asFound) + u'\n';
    if (record_.passed)
        text += QStringLiteral("在允许误差内，无需调整") + u'\n';
    record_.status = record_.passed ? QStringLiteral("在允许误差内，未调整")
                                    : QStringLiteral("超出允许误差，未调整");
    ShowStatus(text);
    ProposeFrom(coefficient, *stats);
    ShowButtons();
}

void CalibrationWindow::ProposeFrom(std::uint16_t coefficient, const Stats &stats) {
    stable_ = IsStable(stats, toleranceValue_, secondsValue_);
    const Proposal proposal = NewCoefficient(coefficient, referenceValue_, stats.mean);
    if (proposal.refusal != Refusal::None) {
        proposal_.reset();
        newCoefficient_->setText(QStringLiteral("—"));
        const QString why = RefusalText(proposal);
        ShowStatus(Status() + why);
        Close(why + LastWriteText(record_), record_.passed);
        return;
    }
    proposal_ = proposal.coefficient;
    newCoefficient_->setText(CoefficientText(proposal.coefficient));
    QString text =
        QStringLiteral("新系数 %1：按“%2”写入模块。")
            .arg(CoefficientText(proposal.coefficient),
                 canAdjustAgain_ ? QStringLiteral("再调整一次") : QStringLiteral("写入新系数"));
    if (!stable_)
        text += QStringLiteral("注意：测量不稳定，写入前将请您确认。");
    ShowStatus(Status() + text);
}

void CalibrationWindow::WriteProposal() {
    if (!proposal_ || session_->Busy())
        return;
    if (!stable_ &&
        !asker_(QStringLiteral("测量不稳定（读数的标准差或漂移超过允许误差带的四分之一）。"
                               "仍要把量程缩放系数 %1 写入模块吗？")
                    .arg(CoefficientText(*proposal_)))) {
        proposal_.reset();
        const QString why = QStringLiteral("测量不稳定，未确认写入，新系数未写入。");
        ShowStatus(why + LastWriteText(record_));
        Close(why + LastWriteText(record_), record_.passed);
        ShowButtons();
        return;
    }
    if (!open_) // a calibration that ended in a failure goes on
        open_ = true;
    WriteAndCheck(*proposal_, false);
}

void CalibrationWindow::WriteAndCheck(std::uint16_t value, bool restoring) {
    ShowStatus(QStringLiteral("正在写入量程缩放系数 %1…").arg(CoefficientText(value)));
    session_->WriteCoefficient(value, [this, value, restoring] {
        record_.writes.back().confirmed = true;
        ShowStatus(QStringLiteral("模块已确认写入，正在回读量程缩放系数…"));
        session_->ReadCoefficient([this, value, restoring](std::uint16_t back) {
            inModule_ = back;
            if (back != value) {
                session_->Stop();
                proposal_.reset();
                canAdjustAgain_ = false;
                canRestore_ = true;
                const QString text =
                    QStringLiteral(
                        "回读的量程缩放系数为 %1，与写入的 %2 不符：模块没有采用写入的值。")
                        .arg(CoefficientText(back), CoefficientText(value)) +
                    LastWriteText(record_);
                record_.status = text;
                record_.passed = false;
                ShowStatus(text);
                ShowButtons();
                return;
            }
            ShowStatus(QStringLiteral("正在测量调整后的读数（%1 s）…").arg(secondsValue_));
            session_->Measure(secondsValue_, [this, restoring](const std::vector<Sample> &samples) {
                AsLeft(samples, restoring);
            });
        });
    });
    ShowButtons();
}

void CalibrationWindow::AsLeft(const std::vector<Sample> &samples, bool restoring) {
    const auto stats = MeasuredStats(samples);
    if (!stats)
        return;
    const double error = ErrorPercent(stats->mean, referenceValue_);
    // The offset is never written, so it is as found.
    record_.asLeft = {inModule_, record_.asFound.offset, stats, error};
    leftError_->setText(PercentText(error));
    const bool within = WithinTolerance(error, toleranceValue_);
    const QString figures = QStringLiteral("调整后：") + Figures(record_.asLeft) + u'\n';
    proposal_.reset();
    canAdjustAgain_ = canRestore_ = false;
    if (restoring) {
        const QString text = QStringLiteral("已恢复原值。") + figures + LastWriteText(record_);
        ShowStatus(text);
        Close(text, within);
    } else if (within) {
        const QString text = QStringLiteral("校准完成。") + figures + LastWriteText(record_);
        ShowStatus(text);
        Close(text, true);
    } else {
        record_.passed = false;
        record_.status = QStringLiteral("调整后仍超出允许误差。") + LastWriteText(record_);
        ShowStatus(QStringLiteral("调整后仍超出允许误差。") + figures +
                   QStringLiteral("可“再调整一次”或“恢复原值”。\n"));
        canAdjustAgain_ = canRestore_ = true;
        ProposeFrom(*inModule_, *stats);
    }
    ShowButtons();
}

void CalibrationWindow::RestoreOriginal() {
    if (!record_.asFound.coefficient || session_->Busy())
        return;
    open_ = true;
    proposal_.reset();
    WriteAndCheck(*record_.asFound.coefficient, true);
}

void CalibrationWindow::Failed(const QString &reason) {
    const QString text = reason + QStringLiteral("，校准已停止。") + LastWriteText(record_);
    // A coefficient went out: the way back stays offered.
    canRestore_ = record_.asFound.coefficient && !record_.writes.empty();
    canAdjustAgain_ = false;
    proposal_.reset();
    ShowStatus(text);
    Close(text, false);
    ShowButtons();
    window_.MsgBox(text, MsgIcon::Warning, QStringLiteral("校准"));
}

void CalibrationWindow::Close(const QString &status, bool passed) {
    record_.status = QString(status).replace(u'\n', u' ').trimmed(); // one line in the log
    record_.passed = passed;
    if (!open_)
        return;
    open_ = false;
    QDir().mkpath(logFolder_);
    if (const auto why = AppendToLog(LogPath(), record_))
        ShowStatus(Status() + u'\n' +
                   QStringLiteral("无法写入校准记录 %1：%2")
                       .arg(QDir::toNativeSeparators(LogPath()), *why));
}

bool CalibrationWindow::SaveCertificate(const QString &path) {
    if (const auto why = WriteCertificate(path, record_)) {
        Tell(QStringLiteral("无法保存证书 %1：%2").arg(QDir::toNativeSeparators(path), *why));
        return false;
    }
    return true;
}

void CalibrationWindow::ChooseCertificateFile() {
    const QString proposed =
        QDir(logFolder_)
            .filePath(record_.started.toString(QStringLiteral("'校准证书-'yyyyMMdd-HHmmss'.pdf'")));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存证书"), proposed,
                                                      QStringLiteral("PDF 文件 (*.pdf)"));
    if (!path.isEmpty())
        SaveCertificate(path);
}
