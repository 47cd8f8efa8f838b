#include "linecalibration.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>

#include <algorithm>

using namespace calibration;

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
