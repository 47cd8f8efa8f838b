// A line calibration's parameter reads and writes, one module after another, each sent
// again when its answer is lost.

#include "linecalibration.h"

#include <QDateTime>

using namespace calibration;

namespace {

QString HeardText(const bus::Answer &answer) {
    switch (answer.judged.heard) {
    case bus::Heard::Exception:
        return QStringLiteral("模块以异常码 %1 拒绝").arg(answer.judged.value);
    case bus::Heard::Silent:
        return QStringLiteral("模块无应答");
    default:
        return QStringLiteral("应答有误");
    }
}

} // namespace

void LineCalibration::RunJobs(std::function<void()> then) {
    line_->SetWaitMs(kParameterWaitMs);
    job_ = 0;
    attempt_ = 0;
    afterJobs_ = std::move(then);
    NextJob();
}

void LineCalibration::NextJob() {
    while (job_ < jobs_.size() && work_[jobs_[job_].module].skip)
        ++job_;
    if (job_ >= jobs_.size()) {
        jobs_.clear();
        const auto then = std::move(afterJobs_);
        then();
        return;
    }
    const Job &job = jobs_[job_];
    ModuleRecord &module = modules_[job.module];
    switch (job.kind) {
    case Job::Kind::Coefficient:
    case Job::Kind::ReadBack:
        status_ = QStringLiteral("正在读取地址 %1 的量程缩放系数…").arg(module.address);
        line_->AskRegister(module.address, kCoefficientRegister);
        break;
    case Job::Kind::Offset:
        line_->AskRegister(module.address, kOffsetRegister);
        break;
    case Job::Kind::Write:
        if (attempt_ == 0)
            module.writes.push_back({QDateTime::currentDateTime(),
                                     QStringLiteral("量程缩放系数 ") + CoefficientText(job.value),
                                     false});
        status_ = QStringLiteral("正在向地址 %1 写入量程缩放系数 %2…")
                      .arg(module.address)
                      .arg(CoefficientText(job.value));
        line_->Write(module.address, kCoefficientWrite, job.value);
        break;
    }
    emit Changed();
}

void LineCalibration::TakeJob(const Job &job, const bus::Answer &answer) {
    const bool answered = answer.judged.heard == bus::Heard::Reply;
    // An exception is the module's word; anything else may be noise and is asked again.
    if (!answered && answer.judged.heard != bus::Heard::Exception && ++attempt_ < kAttempts) {
        NextJob();
        return;
    }
    attempt_ = 0;
    ModuleRecord &module = modules_[job.module];
    const std::uint16_t value = answer.judged.value;
    switch (job.kind) {
    case Job::Kind::Coefficient:
        if (answered)
            module.foundCoefficient = value;
        else
            FailModule(job.module, QStringLiteral("读取量程缩放系数时") + HeardText(answer));
        work_[job.module].answers = answered;
        break;
    case Job::Kind::Offset:
        if (answered)
            module.foundOffset = value;
        else
            FailModule(job.module, QStringLiteral("读取偏移量时") + HeardText(answer));
        work_[job.module].answers = answered;
        break;
    case Job::Kind::Write:
        if (answered)
            module.writes.back().confirmed = true;
        else
            FailModule(job.module, QStringLiteral("模块未确认写入（%1）").arg(HeardText(answer)));
        break;
    case Job::Kind::ReadBack:
        if (!answered) {
            FailModule(job.module, QStringLiteral("回读量程缩放系数时") + HeardText(answer));
        } else if (value != job.value) {
            module.leftCoefficient = value;
            FailModule(job.module,
                       QStringLiteral("回读的量程缩放系数为 %1，与写入的 %2 不符：模块没有采用"
                                      "写入的值")
                           .arg(CoefficientText(value), CoefficientText(job.value)));
        } else {
            module.leftCoefficient = value;
            if (job.restoring) {
                module.restored = true;
                // What was measured as left holds for a coefficient the module no longer has.
                for (Level &level : module.levels)
                    level.asLeft.reset();
                module.state = QStringLiteral("已恢复原值 %1").arg(CoefficientText(value)) +
                               (module.failed ? QStringLiteral("（校准未成功）") : QString());
            } else {
                module.state = QStringLiteral("已写入并回读新系数 %1").arg(CoefficientText(value));
            }
        }
        break;
    }
    ++job_;
    NextJob();
}

void LineCalibration::FailModule(std::size_t index, const QString &why) {
    modules_[index].failed = true;
    modules_[index].state = why;
    work_[index].skip = true;
}
