#include "ui/VELT_projekt.h"

#include "log/reading_series.h"
#include "net/udp_server.h"
#include "temperature/format.h"
#include "ui/chart_view.h"
#include "ui/field_style.h"
#include "ui_VELT_projekt.h"

#include <QAction>
#include <QDateTime>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QShowEvent>

#include <new>
#include <optional>

TForm1* Form1 = nullptr;

namespace {

// Lines of the log's own that no reading can produce.
const QString kLogOutOfMemory = QStringLiteral(
    "*** Došla paměť: další měření v záznamu chybí, údaje vpravo je dál započítávají. ***");
const QPoint kPosition(742, 183);
const QString kLogResumed = QStringLiteral("*** Záznam pokračuje; chybí v něm %1 měření. ***");

void useSansSerifWhereMsSansSerifIsMissing() {
    static const bool done = [] {
        const QStringList sansSerif = {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                       QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")};
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   QStringList{QStringLiteral("Microsoft Sans Serif")} + sansSerif);
        // Where Windows' own face is missing too (Wine).
        QFont::insertSubstitutions(QStringLiteral("Microsoft Sans Serif"), sansSerif);
        return true;
    }();
    Q_UNUSED(done);
}

// Windows draws forms in "MS Sans Serif" with the face its FontSubstitutes list names
// (Microsoft Sans Serif), not with the old bitmap font of that name, which has few sizes
// and Qt would take as it is. Elsewhere there is no such list.
void useWindowsFaceForMsSansSerif([[maybe_unused]] QWidget* form) {
#ifdef Q_OS_WIN
    const QString msSansSerif = QStringLiteral("MS Sans Serif");
    const QSettings substitutes(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
                       "FontSubstitutes"),
        QSettings::NativeFormat);
    // A value may name a character set after a comma, as in "Arial,238".
    const QString face = substitutes.value(msSansSerif, QStringLiteral("Microsoft Sans Serif"))
                             .toString()
                             .section(u',', 0, 0);
    QList<QWidget*> widgets = form->findChildren<QWidget*>();
    widgets.prepend(form);
    for (QWidget* widget : widgets) {
        if (widget->font().family() == msSansSerif) {
            QFont font = widget->font();
            font.setFamily(face);
            widget->setFont(font);
        }
    }
#endif
}

// The form's position where the window fits on the screen; where it does not (a small
// screen, a large scale factor), as close to it as the screen's free area allows,
// frame included.
void placeOnScreen(QWidget* window, QPoint wanted) {
    QScreen* screen = QGuiApplication::screenAt(wanted);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return window->move(wanted);
    const QRect room = screen->availableGeometry();
    const QSize outer = window->frameGeometry().size();
    const int x = std::clamp(wanted.x(), room.left(),
                             std::max(room.left(), room.right() + 1 - outer.width()));
    const int y = std::clamp(wanted.y(), room.top(),
                             std::max(room.top(), room.bottom() + 1 - outer.height()));
    window->move(x, y);
}

void setPixelSize(QWidget* widget, int pixels) {
    QFont font = widget->font();
    font.setPixelSize(pixels);
    widget->setFont(font);
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm1>()) {
    useSansSerifWhereMsSansSerifIsMissing();
    ui->setupUi(this);
    useWindowsFaceForMsSansSerif(this);
    // Designer forms carry point sizes only; the window's fonts are given in pixels.
    setPixelSize(this, 11);
    for (QLabel* label : {ui->Label1, ui->Label2, ui->Label3, ui->Label4, ui->Label5})
        setPixelSize(label, 16);
    // A wider stand-in font must not clip a caption: let it grow towards its field.
    for (QLabel* label : {ui->Label1, ui->Label2, ui->Label4, ui->Label5}) {
        const int room = ui->edit_prumer->x() - 4 - label->x();
        label->resize(std::clamp(label->sizeHint().width(), label->width(), room), label->height());
    }
    placeOnScreen(this, kPosition);
    // A child made after the fields: deleted after them.
    if (QStyle* fieldStyle = velt::FieldStyle::ofApplication(this)) {
        for (QLineEdit* field : {ui->edit_MAX, ui->edit_MIN, ui->edit_prumer, ui->edit_pocitadlo})
            field->setStyle(fieldStyle);
    }

    // The chart: Ctrl+G, and the same entry in the log's and the fields' menus.
    auto* chartAction = new QAction(QStringLiteral("Průběh teploty…"), this);
    chartAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    chartAction->setShortcutContext(Qt::WindowShortcut);
    connect(chartAction, &QAction::triggered, this, &TForm1::showChart);
    addAction(chartAction);
    ui->Memo1->setExtraContextActions({chartAction});
    for (QLineEdit* field : {ui->edit_MAX, ui->edit_MIN, ui->edit_prumer, ui->edit_pocitadlo}) {
        field->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(field, &QWidget::customContextMenuRequested, this, [field, chartAction](QPoint at) {
            QMenu* menu = field->createStandardContextMenu();
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->addSeparator();
            menu->addAction(chartAction);
            menu->popup(field->mapToGlobal(at));
        });
    }
    connect(&ui->Memo1->document(), &velt::LogDocument::contentsChange, this, &TForm1::logEdited);
    connect(&ui->Memo1->document(), &velt::LogDocument::textReset, this,
            [this] { readingLines_.clear(); });

    udpS = new TUDPServer(this);
    udpS->setObjectName(QStringLiteral("udpS"));
    udpS->setDefaultPort(55555);
    udpS->setBroadcastEnabled(true);
    udpS->OnUDPRead = [this](TUDPServer* server, QIODevice& payload, const TUDPBinding* binding) {
        udpSUDPRead(server, payload, binding);
    };
    connect(udpS, &TUDPServer::batchDelivered, this, &TForm1::showBatch);
    udpS->setActive(true);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Shown, the frame's size is known: the window must still fit with it.
    if (!event->spontaneous())
        placeOnScreen(this, pos());
}

TForm1::~TForm1() {
    // Stop before any control goes away, so that no datagram is handled half-way
    // through the window's destruction.
    udpS->setActive(false);
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::udpSUDPRead(TUDPServer*, QIODevice& payload, const TUDPBinding*) {
    velt::handlePayload(payload, velt::temperatureStats, *this, velt::userDecimalSeparator());
}

void TForm1::appendLogLine(const QString& line, velt::Temperature t) {
    const std::int64_t arrival =
        udpS->isDelivering() ? udpS->arrivalTime() : QDateTime::currentMSecsSinceEpoch();
    try {
        if (missingFromLog_ > 0) {
            ++missingFromLog_; // counted while the log is out of memory; retried per batch
        } else {
            // The log keeps the reading itself, with its arrival time for the chart, and
            // makes the same line when it is read. Room for all three first, so that the
            // pending lists stay in step.
            pendingValues_.reserve(pendingValues_.size() + 1);
            pendingTimes_.reserve(pendingTimes_.size() + 1);
            pendingLengths_.reserve(pendingLengths_.size() + 1);
            pendingValues_.push_back(t);
            pendingTimes_.push_back(arrival);
            pendingLengths_.push_back(
                static_cast<std::uint8_t>(std::min<qsizetype>(line.size(), 255)));
        }
    } catch (const std::bad_alloc&) {
        ++missingFromLog_;
    }
    if (!udpS->isDelivering())
        showBatch();
}

void TForm1::setFieldText(velt::Field field, const QString& text) {
    pendingFields_[static_cast<int>(field)] = text;
    fieldPending_[static_cast<int>(field)] = true;
    if (!udpS->isDelivering())
        showBatch();
}

void TForm1::appendToLog() {
    TLogMemo* log = ui->Memo1;
    if (missingFromLog_ > 0) {
        log->document().markReadingsMissing(); // the chart shows a gap for them
        // Readings are missing: first say so, once; then try to resume with a line that
        // says how many are missing.
        if (!noticeShown_)
            noticeShown_ = log->appendLines({kLogOutOfMemory}) == 1;
        if (!noticeShown_ || !log->appendLines({kLogResumed.arg(missingFromLog_)}))
            return;
        missingFromLog_ = 0;
        noticeShown_ = false;
    }
    const auto pending = static_cast<std::int64_t>(pendingValues_.size());
    if (pending == 0)
        return;
    const std::int64_t firstLine = log->store().lineCount();
    std::int64_t appended = 0;
    try {
        inReadings_.resize(pendingValues_.size());
        appended = log->appendReadings(pendingValues_, pendingTimes_, pendingLengths_,
                                       velt::userDecimalSeparator(), inReadings_.data());
        for (std::int64_t k = 0; k < appended; ++k) {
            if (const std::int64_t reading = inReadings_[static_cast<std::size_t>(k)]; reading >= 0)
                readingLines_.appended(reading, firstLine + k, 1);
        }
    } catch (const std::bad_alloc&) {
        // No room to say which line is which: the lines stay, unmapped.
    }
    if (appended < pending) {
        missingFromLog_ = pending - appended;
        log->document().markReadingsMissing();
        noticeShown_ = log->appendLines({kLogOutOfMemory}) == 1;
    }
}

void TForm1::showLoss() {
    const std::uint64_t lost = udpS->lostDatagrams();
    const std::optional<std::uint64_t> systemDrops = udpS->systemDroppedDatagrams();
    if (lost == shownLoss_ && systemDrops.value_or(0) == shownSystemDrops_)
        return;
    shownLoss_ = lost;
    shownSystemDrops_ = systemDrops.value_or(0);
    QString text;
    if (systemDrops) {
        // The system counts only for all programs together: said as such, and not as
        // readings of ours.
        text = QStringLiteral("Ztracená měření: %1, zahozená VELTem, protože čekalo příliš "
                              "mnoho datagramů. Systém od spuštění zahodil %2 příchozích "
                              "datagramů UDP všech programů dohromady; kolik z nich patřilo "
                              "VELTu, neuvádí.")
                   .arg(lost)
                   .arg(*systemDrops);
    } else {
        text = QStringLiteral("Ztracená měření: %1. Systém jich zahodil %2, protože "
                              "vyrovnávací paměť soketu byla plná; VELT %3, protože čekalo "
                              "příliš mnoho datagramů.")
                   .arg(lost)
                   .arg(udpS->kernelDroppedDatagrams())
                   .arg(udpS->droppedDatagrams());
    }
    ui->edit_pocitadlo->setToolTip(text);
    ui->edit_pocitadlo->setAccessibleDescription(text);
}

void TForm1::showBatch() {
    appendToLog();
    showLoss();
    pendingValues_.clear();
    pendingTimes_.clear();
    pendingLengths_.clear();
    if (chart_)
        chart_->plot()->readingsAdded();
    QLineEdit* const fields[] = {ui->edit_MAX, ui->edit_MIN, ui->edit_prumer, ui->edit_pocitadlo};
    for (int i = 0; i < 4; ++i) {
        // An unchanged text is not set again: setting it would repaint the field.
        if (std::exchange(fieldPending_[i], false) && fields[i]->text() != pendingFields_[i]) {
            fields[i]->setText(pendingFields_[i]);
            // A number wider than its field shows its start, not a tail that reads as
            // another number; the rest stays reachable with the caret.
            fields[i]->setCursorPosition(0);
        }
    }
}

void TForm1::logEdited(std::int64_t position, const QString& removed, std::int64_t added) {
    const velt::LogStore& store = ui->Memo1->store();
    // Text added at the end (readings, or typing there) moves no reading's line.
    if (removed.isEmpty() && position + added == store.characterCount())
        return;
    const velt::LogPosition from = store.positionAt(position);
    const auto addedBreaks = store.text(from, store.positionAt(position + added)).count(u'\n');
    readingLines_.edited(from.line, removed.count(u'\n'), addedBreaks);
}

const velt::ReadingSeries& TForm1::readings() const {
    return ui->Memo1->store().readings();
}

bool TForm1::selectReadingInLog(std::int64_t reading) {
    if (reading < 0 || reading >= readings().size())
        return false;
    const std::optional<std::int64_t> line = readingLines_.lineOf(reading);
    const velt::LogStore& store = ui->Memo1->store();
    if (!line || *line >= store.lineCount())
        return false;
    // The line is the reading's only while its text still is.
    QString expected = velt::kLogLinePrefix.toString();
    velt::appendFloatToStr(expected, readings().value(reading), velt::userDecimalSeparator());
    if (store.line(*line) != expected)
        return false;
    ui->Memo1->selectLine(*line);
    return true;
}

void TForm1::showChart() {
    if (!chart_) {
        chart_ = new TChartWindow(readings(), this);
        connect(chart_->plot(), &TChartPlot::readingClicked, this, &TForm1::selectReadingInLog);
    }
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
}
