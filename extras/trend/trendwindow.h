#pragma once
// The trend window: the value the main window shows, plotted against time from the
// moment the window was first opened, with the statistics of the visible span and a
// marker for every confirmed write. Hiding it keeps it collecting.

#include "modbus/reading.h"
#include "trendstore.h"

#include <QWidget>

class frmMain;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTimer;
class TrendChartView;
class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    // Attached to the readings and the confirmed writes of `window`.
    explicit TrendWindow(frmMain &window);

    // "趋势图…": the one trend window of `window`, made and attached to its readings the
    // first time, shown beside it where the screen has room.
    static TrendWindow *Open(frmMain &window);

    // The value as the main window shows it, and a line at each confirmed write.
    void AddReading(const modbus::Reading &reading);
    void AddMarker(const modbus::WriteChange &change);
    // The chart as it is drawn now, as a PNG file; false when the file cannot be written.
    bool ExportPng(const QString &path);
    // Draws what came in since the last time at once, rather than on the next tick.
    void Refresh();

    // The spans the chart can show, in the order of the span list.
    static constexpr qint64 kSpans[] = {60'000, 600'000, 3'600'000, 0}; // 0: everything

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void ChooseExportFile();
    void ShowStats(const std::optional<trend::Stats> &stats);

    frmMain &window_;
    trend::TrendStore store_;
    int decimals_ = 0; // of the last reading, for the statistics
    bool dirty_ = false;
    QTimer *refreshTimer_;

    QComboBox *span_;
    QPushButton *export_, *close_;
    QLineEdit *min_, *max_, *mean_, *last_;
    TrendChartView *view_;
    QChart *chart_;
    QLineSeries *series_;
    QDateTimeAxis *axisX_;
    QValueAxis *axisY_;
};
