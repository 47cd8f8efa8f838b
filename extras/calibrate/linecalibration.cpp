#include "linecalibration.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

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

LineCalibration::LineCalibration(QObject *parent)
    : QObject(parent),
      logFolder_(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)) {
    measureEnd_.setSingleShot(true);
    // A coarse timer may end a measurement of 10 s half a second early.
    measureEnd_.setTimerType(Qt::PreciseTimer);
    connect(&measureEnd_, &QTimer::timeout, this, [this] {
        timeUp_ = true;
        // The request out gets its answer first; an idle line ends the measurement now.
        if (!line_ || !line_->Busy())
            EndMeasuring();
    });
}

LineCalibration::~LineCalibration() {
    // The window that listens may be half gone already: it hears nothing more.
    disconnect();
    GiveUp(QStringLiteral("程序结束，校准未完成"));
}

QString LineCalibration::LogPath() const {
    return QDir(logFolder_).filePath(QStringLiteral("校准记录.csv"));
}

void LineCalibration::Begin(LineSetup setup, const QList<int> &addresses) {
    GiveUp(QStringLiteral("重新开始测量，上一次校准未完成"));
    setup_ = std::move(setup);
    setup_.started = QDateTime::currentDateTime();
    setup_.version = QStringLiteral(SC_VERSION);
    modules_.clear();
    work_.clear();
    for (int address : addresses) {
        ModuleRecord module;
        module.address = static_cast<std::uint8_t>(address);
        modules_.push_back(module);
        work_.push_back({});
    }
    open_ = true;
    adjusted_ = false;
}

void LineCalibration::SetLabel(std::size_t index, const QString &label) {
    if (index < modules_.size())
        modules_[index].label = label.trimmed();
}

bool LineCalibration::CanWrite() const {
    // A calibration already logged takes no write: it would go into no record.
    return open_ && !adjusted_ &&
           std::ranges::any_of(work_, [](const Work &w) { return w.proposal.has_value(); });
}

QList<int> LineCalibration::UnstableAddresses() const {
    QList<int> unstable;
    for (std::size_t i = 0; i < work_.size() && !adjusted_; ++i)
        if (work_[i].proposal && !work_[i].stable)
            unstable << modules_[i].address;
    return unstable;
}

QString LineCalibration::ProposalText(std::size_t index) const {
    const Work &w = work_.at(index);
    if (w.proposal)
        return CoefficientText(*w.proposal);
    return w.proposed ? QStringLiteral("—") : QString();
}

int LineCalibration::ReadingsOf(std::size_t index) const {
    return int(work_.at(index).samples.size());
}

void LineCalibration::StartStep(Step step, bus::BusLine &line) {
    step_ = step;
    line_ = &line;
    answered_ = connect(&line, &bus::BusLine::Answered, this, &LineCalibration::Take);
    for (Work &w : work_)
        w.skip = false;
}

void LineCalibration::EndStep(const QString &status) {
    disconnect(answered_);
    measureEnd_.stop();
    measuring_ = false;
    if (line_)
        line_->Cancel();
    line_ = nullptr;
    step_ = Step::None;
    status_ = status;
    emit Changed();
    emit StepEnded();
}

void LineCalibration::Stop(const QString &why) {
    if (!Busy())
        return;
    QString reason = why;
    if (reason.endsWith(u'。'))
        reason.chop(1);
    // The write under way may have reached the module: the way back stays open. Those not
    // reached say so, rather than the proposal they were to get.
    for (std::size_t j = job_; !measuring_ && j < jobs_.size(); ++j) {
        const Job &job = jobs_[j];
        if (job.kind != Job::Kind::Write || work_[job.module].skip)
            continue;
        modules_[job.module].state = (j == job_       ? QStringLiteral("写入未确认（%1）")
                                      : job.restoring ? QStringLiteral("未恢复原值（%1）")
                                                      : QStringLiteral("新系数未写入（%1）"))
                                         .arg(reason);
    }
    jobs_.clear();
    EndStep(reason + QStringLiteral("，本步骤已中断。"));
}

void LineCalibration::Take(const bus::Answer &answer) {
    if (measuring_)
        TakeReading(answer);
    else if (job_ < jobs_.size())
        TakeJob(jobs_[job_], answer);
}

// --- Parameter reads and writes, one module after another -------------------------------

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

// --- Measuring: every module in turn, for the measuring time ----------------------------

void LineCalibration::Measure(double reference) {
    line_->SetWaitMs(0); // the line's own wait, at its rate
    reference_ = reference;
    for (Work &w : work_)
        w.samples.clear();
    measuring_ = true;
    timeUp_ = false;
    next_ = 0;
    status_ = QStringLiteral("正在测量参考值 %1 下的所有模块（%2 s）…")
                  .arg(QLocale::c().toString(reference, 'g', 10))
                  .arg(setup_.seconds);
    measureEnd_.start(setup_.seconds * 1000);
    emit Changed();
    AskNextReading();
}

void LineCalibration::AskNextReading() {
    for (std::size_t tried = 0; tried < modules_.size(); ++tried) {
        const std::size_t i = next_;
        next_ = (next_ + 1) % modules_.size();
        if (work_[i].answers) {
            line_->Ask(modules_[i].address, bus::BusLine::Patience::FirstReply);
            return;
        }
    }
    EndMeasuring(); // no module left to ask
}

void LineCalibration::TakeReading(const bus::Answer &answer) {
    if (answer.judged.heard == bus::Heard::Reply) {
        const auto at = std::ranges::find(modules_, answer.asked, &ModuleRecord::address);
        const modbus::Reading reading = bus::ReadingOf(answer);
        if (at != modules_.end())
            work_[std::size_t(at - modules_.begin())].samples.push_back(
                {answer.time, modbus::ShownValue(reading)});
        emit ReadingTaken(reading);
    }
    if (timeUp_)
        EndMeasuring();
    else
        AskNextReading();
}

Point LineCalibration::PointOf(const Stats &stats, double reference) const {
    Point point;
    point.stats = stats;
    point.errorPercent = ErrorPercent(stats.mean, reference);
    point.uncertaintyPercent =
        ExpandedUncertaintyPercent(setup_.referenceUPercent, stats, setup_.resolution, reference);
    point.conforms = Conforms(point.errorPercent, point.uncertaintyPercent, setup_.tolerance);
    return point;
}

Level &LineCalibration::LevelAt(ModuleRecord &module, double reference) {
    const auto at = std::ranges::find(module.levels, reference, &Level::reference);
    if (at != module.levels.end())
        return *at;
    module.levels.push_back({reference, {}, {}});
    return module.levels.back();
}

void LineCalibration::EndMeasuring() {
    if (!measuring_)
        return;
    measuring_ = false;
    measureEnd_.stop();
    // The adjustment level measured again before the write: the proposals follow the
    // as-found figures now recorded.
    const bool proposing =
        step_ == Step::Found || (!adjusted_ && reference_ == adjustmentReference_);
    int measured = 0, failed = 0;
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        Work &w = work_[i];
        if (!w.answers)
            continue;
        const auto stats = StatsOf(w.samples);
        if (!stats) {
            // A failure earlier in the step (a write not confirmed) is kept in its state.
            const QString silent = QStringLiteral("测量时模块无应答");
            FailModule(i, w.skip ? modules_[i].state + u'；' + silent : silent);
            w.answers = false;
            if (proposing)
                w.proposal.reset(); // an earlier proposal went with the figures it replaced
            ++failed;
            continue;
        }
        ++measured;
        Level &level = LevelAt(modules_[i], reference_);
        (adjusted_ ? level.asLeft : level.asFound) = PointOf(*stats, reference_);
        if (proposing && modules_[i].foundCoefficient)
            Propose(i, *stats);
    }
    QString status = QStringLiteral("参考值 %1 下测量完成：%2 个模块有读数")
                         .arg(QLocale::c().toString(reference_, 'g', 10))
                         .arg(measured);
    if (failed > 0)
        status += QStringLiteral("，%1 个无应答").arg(failed);
    status += QStringLiteral("。");
    if (proposing) {
        const int unstable = int(UnstableAddresses().size());
        status += CanWrite() ? QStringLiteral("按“写入新系数”写入每个模块的新系数。")
                             : QStringLiteral("没有可写入的新系数。");
        if (unstable > 0)
            status += QStringLiteral("其中 %1 个模块测量不稳定，写入前将请您确认。").arg(unstable);
    } else {
        status += QStringLiteral("可在另一参考值下“测量此点”，或“完成并保存证书”。");
    }
    EndStep(status);
}

void LineCalibration::Propose(std::size_t index, const Stats &stats) {
    Work &w = work_[index];
    ModuleRecord &module = modules_[index];
    w.proposed = true;
    w.stable = IsStable(stats, setup_.tolerance, setup_.seconds);
    const Proposal proposal =
        NewCoefficient(module.foundCoefficient.value_or(0), adjustmentReference_, stats.mean);
    if (proposal.refusal != Refusal::None) {
        w.proposal.reset();
        FailModule(index, RefusalText(proposal));
        return;
    }
    w.proposal = proposal.coefficient;
    module.failed = false; // a refusal of an earlier measurement of this level no longer holds
    module.state = w.stable
                       ? QStringLiteral("新系数 %1").arg(CoefficientText(*w.proposal))
                       : QStringLiteral("新系数 %1，测量不稳定").arg(CoefficientText(*w.proposal));
}

// --- The steps ------------------------------------------------------------------------

void LineCalibration::MeasureFound(bus::BusLine &line, double reference) {
    if (Busy() || !open_)
        return;
    StartStep(Step::Found, line);
    adjustmentReference_ = reference;
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        jobs_.push_back({i, Job::Kind::Coefficient, 0, false});
        jobs_.push_back({i, Job::Kind::Offset, 0, false});
    }
    RunJobs([this, reference] { Measure(reference); });
}

void LineCalibration::WriteProposals(bus::BusLine &line, bool unstableToo) {
    if (Busy() || !CanWrite())
        return;
    StartStep(Step::Write, line);
    adjusted_ = true;
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        Work &w = work_[i];
        if (!w.proposal)
            continue;
        if (!w.stable && !unstableToo) {
            modules_[i].state = QStringLiteral("测量不稳定，未确认写入，新系数未写入");
            continue;
        }
        jobs_.push_back({i, Job::Kind::Write, *w.proposal, false});
        jobs_.push_back({i, Job::Kind::ReadBack, *w.proposal, false});
    }
    RunJobs([this] { Measure(adjustmentReference_); });
}

void LineCalibration::MeasureLevel(bus::BusLine &line, double reference) {
    if (Busy() || !open_)
        return;
    StartStep(Step::Level, line);
    Measure(reference);
}

bool LineCalibration::Restorable(std::size_t index) const {
    return index < modules_.size() && modules_[index].foundCoefficient &&
           !modules_[index].writes.empty();
}

void LineCalibration::Restore(bus::BusLine &line, const QList<int> &indexes) {
    if (Busy() || !open_)
        return;
    StartStep(Step::Restore, line);
    for (int i : indexes) {
        const auto index = std::size_t(i);
        if (Restorable(index)) {
            const std::uint16_t found = *modules_[index].foundCoefficient;
            jobs_.push_back({index, Job::Kind::Write, found, true});
            jobs_.push_back({index, Job::Kind::ReadBack, found, true});
        }
    }
    const bool any = !jobs_.empty();
    RunJobs([this, any] {
        EndStep(any ? QStringLiteral("所选模块已写回原系数，详见各模块的状态。")
                    : QStringLiteral("所选模块未写入过新系数，无需恢复原值。"));
    });
}

// --- The end --------------------------------------------------------------------------

QString LineCalibration::CertificatePath(const QString &folder, const QString &number) {
    return QDir(folder).filePath(QStringLiteral("校准证书-%1.pdf").arg(number));
}

QString
LineCalibration::Numbered(QString number,
                          const std::function<void(std::size_t, const QString &)> &each) const {
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        if (modules_[i].levels.empty())
            continue; // nothing measured, nothing to certify
        each(i, number);
        number = NextCertificateNumber(number).value_or(number);
    }
    return number;
}

QStringList LineCalibration::ExistingCertificates(const QString &folder,
                                                  const QString &number) const {
    QStringList existing;
    Numbered(number, [&](std::size_t, const QString &certificate) {
        if (const QString path = CertificatePath(folder, certificate); QFileInfo::exists(path))
            existing << QDir::toNativeSeparators(path);
    });
    return existing;
}

std::optional<QString> LineCalibration::Finish(const QString &folder, QString &number) {
    if (Busy() || !open_)
        return std::nullopt;
    QStringList failures;
    const QString next = Numbered(number, [&](std::size_t index, const QString &certificate) {
        ModuleRecord &module = modules_[index];
        module.certificateNumber = certificate;
        const QString path = CertificatePath(folder, certificate);
        if (const auto why = WriteLineCertificate(path, setup_, module))
            failures << QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(path), *why);
    });
    if (!failures.isEmpty()) {
        // Nothing is logged yet, so no row names a certificate that is not there: the
        // calibration stays open for another folder, and the numbers are used again.
        for (ModuleRecord &module : modules_)
            module.certificateNumber.clear();
        failures << QStringLiteral("校准尚未结束，未写入记录：可另选文件夹再保存。");
        return failures.join(u'\n');
    }
    number = next;
    return GiveUp({});
}

std::optional<QString> LineCalibration::GiveUp(const QString &why) {
    if (!open_)
        return std::nullopt;
    open_ = false;
    if (!why.isEmpty())
        for (ModuleRecord &module : modules_)
            module.state = module.state.isEmpty() ? why : module.state + u'；' + why;
    QDir().mkpath(logFolder_);
    const auto failure = AppendLineToLog(LogPath(), setup_, modules_);
    if (failure)
        status_ = QStringLiteral("无法写入校准记录 %1：%2")
                      .arg(QDir::toNativeSeparators(LogPath()), *failure);
    emit Changed(); // nothing more may be pressed for it
    return failure;
}
