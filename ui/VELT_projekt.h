#pragma once
// The main window. Its Designer form carries every control with the names, geometry,
// texts and tab order the user sees; the class adds the UDP receiver udpS, which starts
// listening while the window is built, the reading handler, and the two ways that
// handler writes into the window.

#include "log/reading_lines.h"
#include "temperature/reading.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

class QIODevice;
class TChartWindow;
class TUDPServer;
struct TUDPBinding;

namespace velt {
class ReadingSeries;
}

namespace Ui {
class TForm1;
}

class TForm1 : public QWidget, private velt::ReadingView {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Called once per datagram on the window's thread. `server` and `binding` say
    // where the datagram came in; every sender is treated alike, so neither is used.
    void udpSUDPRead(TUDPServer* server, QIODevice& payload, const TUDPBinding* binding);

    // Every reading since start with its arrival time, whatever the log's user edits.
    const velt::ReadingSeries& readings() const;
    // The chart, "Průběh teploty" (Ctrl+G, and the log's and fields' menus).
    void showChart();
    TChartWindow* chart() const { return chart_; }
    // Selects the log line of a reading, where the user has not edited it away.
    bool selectReadingInLog(std::int64_t reading);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void appendLogLine(const QString& line, velt::Temperature t) override;
    void setFieldText(velt::Field field, const QString& text) override;
    void showBatch();
    void appendToLog();
    void showLoss();

    void logEdited(std::int64_t position, const QString& removed, std::int64_t added);

    std::unique_ptr<Ui::TForm1> ui;
    TChartWindow* chart_ = nullptr;
    velt::ReadingLines readingLines_;
    std::vector<std::int64_t> inReadings_; // each appended reading's place in readings()
    TUDPServer* udpS = nullptr;
    // During a batch of datagrams the widgets are written once, when it ends: every
    // reading is still logged and counted, but a flood costs no layout per reading.
    std::vector<float> pendingValues_;
    std::vector<std::int64_t> pendingTimes_;
    std::vector<std::uint8_t> pendingLengths_;
    QString pendingFields_[4];
    bool fieldPending_[4] = {};
    // Readings that found no room in the log when memory ran out. The figures still take
    // them; the log says where they are missing and how many.
    std::int64_t missingFromLog_ = 0;
    bool noticeShown_ = false;
    std::uint64_t shownLoss_ = 0;
    std::uint64_t shownSystemDrops_ = 0;
};

// The application's one main window, set while it exists.
extern TForm1* Form1;
