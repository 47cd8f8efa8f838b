#pragma once
// A calibration of every module of a line at once, free of widgets. One measurement asks
// the modules in turn for their readings, so all of them are measured in the one measuring
// time; each gets its own statistics, error and proposed coefficient. One write step writes
// every module's own coefficient, reads it back and measures the line as left. Further
// reference levels measure every module again, without a write. A module that fails (no
// answer, a write it does not take, a refused proposal) is marked and the others go on.
// Each step runs on a line the caller opened for it and ends in StepEnded; the calibration
// ends in Finish (the certificates and the log), or is logged as given up.

#include "extras/bus/busline.h"
#include "linerecord.h"
#include "modbus/reading.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

class LineCalibration : public QObject {
    Q_OBJECT
public:
    // The module's range coefficient and offset, and where the coefficient is written.
    static constexpr std::uint16_t kCoefficientRegister = 4;
    static constexpr std::uint16_t kOffsetRegister = 5;
    static constexpr std::uint16_t kCoefficientWrite = 0x0A04;
    // A parameter read or write without an answer is sent again, this often in all: one
    // reply lost to noise must not fail a module.
    static constexpr int kAttempts = 3;
    // The wait for a parameter's answer: a slow module's late reply to one read must not be
    // taken for the answer to the next, which has the same shape. Readings keep the line's
    // short wait, which a reply crossing into the next request only costs a reading.
    static constexpr int kParameterWaitMs = 1000;

    explicit LineCalibration(QObject *parent = nullptr);
    // The program ends in the middle: the calibration is still logged.
    ~LineCalibration() override;

    // A new calibration of the modules at `addresses`; one still open is logged as given up.
    void Begin(calibration::LineSetup setup, const QList<int> &addresses);
    // The steps, each on `line` until StepEnded. As found: every module's coefficient and
    // offset, then the line measured at `reference`, the level the proposals come from.
    void MeasureFound(bus::BusLine &line, double reference);
    // Every proposal written (the unstable ones only with `unstableToo`), read back, and the
    // line measured again at the adjustment level.
    void WriteProposals(bus::BusLine &line, bool unstableToo);
    // Another level: every module measured at `reference`, nothing written.
    void MeasureLevel(bus::BusLine &line, double reference);
    // The coefficients found written back to the modules at `indexes` that were written
    // to, and read back.
    void Restore(bus::BusLine &line, const QList<int> &indexes);
    // Something was written to the module, and what it was found with is known.
    bool Restorable(std::size_t index) const;
    // The step under way ends now, saying why.
    void Stop(const QString &why);
    // Ends the calibration: each measured module's certificate in `folder`, numbered from
    // `number` on (left at the next number), and the log rows. Why not all of it came, or
    // nothing; a certificate that could not be written leaves it open and `number` as it
    // was.
    std::optional<QString> Finish(const QString &folder, QString &number);
    // The certificates Finish would write over, numbered from `number` on.
    QStringList ExistingCertificates(const QString &folder, const QString &number) const;
    // Ends a calibration still open without certificates, saying why in each module's state:
    // its log rows, once. Why they could not be written, or nothing.
    std::optional<QString> GiveUp(const QString &why);

    bool Busy() const { return step_ != Step::None; }
    bool Open() const { return open_; }
    // The as-found measurement gave proposals not yet written.
    bool CanWrite() const;
    // A write step ran: later measurements are as left.
    bool Adjusted() const { return adjusted_; }
    // The modules whose proposal comes from an unstable measurement.
    QList<int> UnstableAddresses() const;
    const calibration::LineSetup &Setup() const { return setup_; }
    const std::vector<calibration::ModuleRecord> &Modules() const { return modules_; }
    void SetLabel(std::size_t index, const QString &label);
    // The proposed coefficient of a module: "1.0526", "—" when refused, empty before any.
    QString ProposalText(std::size_t index) const;
    // Readings of the measurement under way, for each module.
    int ReadingsOf(std::size_t index) const;
    const QString &Status() const { return status_; }

    // The folder of the calibration log; the documents folder unless set.
    void SetLogFolder(const QString &folder) { logFolder_ = folder; }
    QString LogPath() const;

signals:
    // The status, a module's figures or what may be pressed changed.
    void Changed();
    // The step ended, however it ended: the line can be given back.
    void StepEnded();
    // A module's checked reading, as the window's own readings are announced.
    void ReadingTaken(const modbus::Reading &reading);

private:
    enum class Step { None, Found, Write, Level, Restore };
    struct Job {
        enum class Kind { Coefficient, Offset, Write, ReadBack };
        std::size_t module = 0;
        Kind kind = Kind::Coefficient;
        std::uint16_t value = 0; // what is written, or what the read-back must show
        bool restoring = false;
    };
    // What a module's step keeps beside its record.
    struct Work {
        bool answers = true; // answered its parameter reads: measured and written
        bool skip = false;   // failed in this step: its other jobs are left out
        std::vector<calibration::Sample> samples;
        std::optional<std::uint16_t> proposal;
        bool stable = false;
        bool proposed = false; // a proposal was made, or refused
    };

    void StartStep(Step step, bus::BusLine &line);
    void EndStep(const QString &status);
    void Take(const bus::Answer &answer);
    void RunJobs(std::function<void()> then);
    void NextJob();
    void TakeJob(const Job &job, const bus::Answer &answer);
    void Measure(double reference);
    void AskNextReading();
    void TakeReading(const bus::Answer &answer);
    void EndMeasuring();
    calibration::Point PointOf(const calibration::Stats &stats, double reference) const;
    void Propose(std::size_t index, const calibration::Stats &stats);
    void FailModule(std::size_t index, const QString &why);
    calibration::Level &LevelAt(calibration::ModuleRecord &module, double reference);
    static QString CertificatePath(const QString &folder, const QString &number);
    // `each` of the measured modules, by index, with its certificate number counted from
    // `number` on; the number after the last.
    QString Numbered(QString number,
                     const std::function<void(std::size_t, const QString &)> &each) const;

    calibration::LineSetup setup_;
    std::vector<calibration::ModuleRecord> modules_;
    std::vector<Work> work_;
    QString status_;
    QString logFolder_;
    bool open_ = false;
    bool adjusted_ = false;
    double adjustmentReference_ = 0;

    Step step_ = Step::None;
    QPointer<bus::BusLine> line_;
    QMetaObject::Connection answered_;
    // Parameter steps: the jobs in turn, each sent up to kAttempts times.
    std::vector<Job> jobs_;
    std::size_t job_ = 0;
    int attempt_ = 0;
    std::function<void()> afterJobs_;
    // Measuring: the level, the module asked next, and the end of the measuring time.
    bool measuring_ = false;
    double reference_ = 0;
    std::size_t next_ = 0;
    bool timeUp_ = false;
    QTimer measureEnd_;
};
