#include "ui/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

#include "host/api_server.h"
#include "playback/loudness_gain.h"
#include "ui/api_window.h"
#include "ui/level_meter.h"
#include "ui/station_text.h"

namespace kestrel {
namespace {

struct ButtonEntry {
    const char* name;
    Button DisplayModel::*member;
    void (*click)(StationController&);
};

constexpr ButtonEntry kButtonEntries[] = {
    {"cmdForceSwitch", &DisplayModel::cmdForceSwitch,
     [](StationController& c) { c.cmdForceSwitch_Click(); }},
    {"cmdAutoManual", &DisplayModel::cmdAutoManual,
     [](StationController& c) { c.cmdAutoManual(); }},
    {"cmdFullScreen", &DisplayModel::cmdFullScreen,
     [](StationController& c) { c.cmdFullScreen(); }},
    {"cmdViewSource", &DisplayModel::cmdViewSource,
     [](StationController& c) { c.cmdViewSource(); }},
    {"cmdViewEvents", &DisplayModel::cmdViewEvents,
     [](StationController& c) { c.cmdViewEvents(); }},
    {"cmdEnd", &DisplayModel::cmdEnd, [](StationController& c) { c.cmdEnd(); }},
    {"cmdTerminate", &DisplayModel::cmdTerminate, [](StationController& c) { c.cmdTerminate(); }},
};

QColor toColor(const Rgb& rgb) {
    return QColor(rgb.r, rgb.g, rgb.b);
}

// Only the roles given are set; the rest come from the window, so a colour
// that goes away falls back to the default look.
void applyColours(QWidget* widget, const std::optional<Rgb>& background,
                  QPalette::ColorRole backgroundRole, const std::optional<Rgb>& foreground,
                  QPalette::ColorRole foregroundRole) {
    QPalette palette;
    if (background) palette.setColor(backgroundRole, toColor(*background));
    if (foreground) palette.setColor(foregroundRole, toColor(*foreground));
    widget->setPalette(palette);
}

QString shownText(const std::string& caption) {
    QString text = fromStationText(caption);
    if (text.size() > kLongestCaptionShown) text.truncate(kLongestCaptionShown);
    return text;
}

QFont sizedFont(const QFont& base, int pixelSize, bool bold) {
    QFont font = base;
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// A box of fixed size; it keeps its size in any layout.
QLabel* fixedSize(QLabel* widget, int width, int height) {
    widget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    widget->setFixedSize(width, height);
    return widget;
}

QLabel* caption(const char* text) {
    auto* label = new QLabel(QString::fromLatin1(text));
    label->setTextFormat(Qt::PlainText);
    return label;
}

void addRow(QGridLayout* grid, const char* text, QLabel* value) {
    const int row = grid->rowCount();
    auto* name = caption(text);
    name->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(name, row, 0);
    grid->addWidget(value, row, 1);
}

// A titled box with a two-column grid whose second column takes the room.
std::pair<QGroupBox*, QGridLayout*> group(const QString& title) {
    auto* box = new QGroupBox(title);
    auto* grid = new QGridLayout(box);
    grid->setColumnStretch(1, 1);
    grid->setVerticalSpacing(4);
    return {box, grid};
}

QLabel* lamp(QLabel* widget) {
    widget->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return fixedSize(widget, 26, 26);
}

}  // namespace

MainWindow::MainWindow(StationController& controller, QWidget* parent)
    : QMainWindow(parent), m_controller(controller), m_previousHost(controller.station().host) {
    setWindowTitle(QString::fromLatin1(kWindowCaption));
    buildWidgets();
    buildLayout();
    resize(kInnerWidth, kInnerHeight);
    m_controller.station().host = this;
    render();
}

MainWindow::~MainWindow() {
    m_controller.station().host = m_previousHost;
}

void MainWindow::buildWidgets() {
    DisplayModel& model = m_controller.station().display;
    for (const auto& entry : kDisplayLabels) {
        auto* widget = new QLabel;
        widget->setObjectName(QString::fromLatin1(entry.name));
        // Captions come from streams and servers: never interpret them as markup.
        widget->setTextFormat(Qt::PlainText);
        // Long captions are cut off at the label's edge instead of widening the window.
        widget->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        widget->setMinimumWidth(40);
        m_labels.push_back({widget, &(model.*entry.member), {}});
    }
    for (const auto& entry : kButtonEntries) {
        auto* widget = new QPushButton;
        widget->setObjectName(QString::fromLatin1(entry.name));
        const auto click = entry.click;
        connect(widget, &QPushButton::clicked, this, [this, click] {
            click(m_controller);
            render();
        });
        m_buttons.push_back({widget, &(model.*entry.member), {}});
    }
    for (int slot : {1, 2}) {
        m_meters[slot - 1] = new LevelMeter(QStringLiteral("Player %1").arg(slot));
        m_meters[slot - 1]->setObjectName(QStringLiteral("meterSlot%1").arg(slot));
    }
    m_combo = new QComboBox;
    m_combo->setObjectName(QStringLiteral("comboSourceList"));
    m_combo->setEditable(true);
    m_combo->setInsertPolicy(QComboBox::NoInsert);
    m_combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_combo, &QComboBox::editTextChanged, this, &MainWindow::comboEdited);
}

QLabel* MainWindow::label(const char* name) const {
    for (const auto& view : m_labels) {
        if (view.widget->objectName() == QLatin1String(name)) return view.widget;
    }
    return nullptr;
}

QPushButton* MainWindow::button(const char* name) const {
    for (const auto& view : m_buttons) {
        if (view.widget->objectName() == QLatin1String(name)) return view.widget;
    }
    return nullptr;
}

// On air: the source number and name, large, white on black.
QGroupBox* MainWindow::buildOnAir(const QFont& base) {
    auto [onAir, grid] = group(tr("On Air"));
    auto* number = label("lblSourceDisp");
    number->setFont(sizedFont(base, 96, true));
    number->setAlignment(Qt::AlignCenter);
    fixedSize(number, 150, 118);
    auto* studio = label("lblStudio");
    studio->setFont(sizedFont(base, 40, true));
    studio->setIndent(12);
    studio->setFixedHeight(62);
    grid->addWidget(number, 0, 0, 3, 1);
    grid->addWidget(studio, 0, 1, 1, 2);
    grid->setColumnStretch(1, 0);
    grid->setColumnStretch(2, 1);
    grid->addWidget(caption("Current Source Number:"), 1, 1);
    grid->addWidget(label("lblSourceNumber"), 1, 2);
    grid->addWidget(caption("Current Source Address:"), 2, 1);
    grid->addWidget(label("lblCurrentSource"), 2, 2);
    auto* pending = label("lblPendingSource");
    pending->setFont(sizedFont(base, 14, true));
    grid->addWidget(pending, 3, 1, 1, 2);
    return onAir;
}

// Players: the slot in use, the PLAY/STOP lamp and the slots' processes.
QGroupBox* MainWindow::buildPlayers(const QFont& base) {
    auto [players, grid] = group(tr("Players"));
    addRow(grid, "Mplayer Instance:", label("lblMplayer"));
    auto* status = label("lblStatus");
    status->setFont(sizedFont(base, 18, true));
    status->setAlignment(Qt::AlignCenter);
    fixedSize(status, 90, 32);
    auto* lampRow = new QHBoxLayout;
    lampRow->setSpacing(10);
    lampRow->addWidget(status);
    lampRow->addWidget(lamp(label("lblStatus2")));
    lampRow->addStretch();
    grid->addLayout(lampRow, grid->rowCount(), 0, 1, 2);
    auto* slotRow = new QHBoxLayout;
    for (const char* name : {"lblMplayer1", "lblMplayer2"}) {
        auto* slot = label(name);
        slot->setFont(sizedFont(base, 16, true));
        slot->setAlignment(Qt::AlignCenter);
        slot->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        fixedSize(slot, 44, 30);
        slotRow->addWidget(slot);
    }
    slotRow->addStretch();
    grid->addLayout(slotRow, grid->rowCount(), 0, 1, 2);
    auto* meterRow = new QHBoxLayout;
    for (LevelMeter* meter : m_meters)
        meterRow->addWidget(meter);
    grid->addLayout(meterRow, grid->rowCount(), 0, 1, 2);
    grid->setRowStretch(grid->rowCount(), 1);
    return players;
}

// Schedule: time, date and the switch events either side of now.
QGroupBox* MainWindow::buildSchedule(const QFont& base) {
    auto [schedule, grid] = group(tr("Schedule"));
    auto* clock = label("lblClock");
    clock->setFont(sizedFont(base, 26, true));
    grid->addWidget(clock, 0, 0);
    auto* date = label("lblDate");
    date->setFont(sizedFont(base, 16, false));
    grid->addWidget(date, 0, 1);
    grid->addWidget(caption("Configured Local Switches:"), 1, 0, 1, 2);
    grid->addWidget(label("lblLastEvent"), 2, 0, 1, 2);
    grid->addWidget(label("lblNextEvent"), 3, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(4, 1);
    return schedule;
}

// Services: management, API and TuneIn AIR.
QGroupBox* MainWindow::buildServices() {
    auto [services, grid] = group(tr("Services"));
    for (const char* name : {"lblConfigurationStatus", "lblAPIstatus", "lblTuneInAir"})
        grid->addWidget(label(name), grid->rowCount(), 0, 1, 2);
    addRow(grid, "Current AIR Aritst:", label("lblAIRartist"));
    addRow(grid, "Current AIR Title:", label("lblAIRtitle"));
    addRow(grid, "AIR Updated:", label("lblAIRupdated"));
    return services;
}

// Stream details from the player log.
QGroupBox* MainWindow::buildStream() {
    auto [stream, grid] = group(tr("Stream"));
    addRow(grid, "Stream Name:", label("lblStreamName"));
    addRow(grid, "Stream Genre:", label("lblStreamGenre"));
    addRow(grid, "Stream Website:", label("lblStreamWebsite"));
    addRow(grid, "Stream Public:", label("lblStreamPublic"));
    addRow(grid, "Stream Bitrate:", label("lblStreamBitrate"));
    addRow(grid, "Stream Codec:", label("lblStreamCodec"));
    addRow(grid, "Stream Received:", label("lblStreamReceived"));
    addRow(grid, "Stream Metadata:", label("lblRXmetadata"));
    return stream;
}

// Metadata: the now-playing lines and the weather sentence.
QGroupBox* MainWindow::buildMetadata() {
    auto [metadata, grid] = group(tr("Metadata"));
    addRow(grid, "Metadata Output:", label("lblMetadataOutput"));
    for (const char* name : {"lblMetadataExtra", "lblWeather", "lblWeatherText"})
        grid->addWidget(label(name), grid->rowCount(), 0, 1, 2);
    grid->setRowStretch(grid->rowCount(), 1);
    return metadata;
}

QGroupBox* MainWindow::buildDetector(const QFont& base) {
    auto [detector, grid] = group(QStringLiteral("SOURCE FAILURE DETECTOR"));
    auto* failText = label("lblFailText");
    failText->setFont(sizedFont(base, 14, true));
    grid->addWidget(lamp(label("lblFail")), 0, 0);
    grid->addWidget(failText, 0, 1);
    grid->addWidget(label("lblFailURL"), 1, 0, 1, 2);
    grid->addWidget(label("lblFailCheckTime"), 2, 0, 1, 2);
    grid->addWidget(label("lblSilence"), 3, 0, 1, 2);
    grid->addWidget(label("lblOutput"), 4, 0, 1, 2);
    grid->setColumnStretch(0, 0);
    grid->setRowStretch(5, 1);
    return detector;
}

// Operator: manual switch, mode, window size, files, and the two ways out.
QGroupBox* MainWindow::buildOperator(const QFont& base) {
    auto [operatorBox, grid] = group(tr("Operator"));
    grid->addWidget(m_combo, 0, 0, 1, 3);
    grid->addWidget(button("cmdForceSwitch"), 0, 3);
    auto* mode = button("cmdAutoManual");
    mode->setFont(sizedFont(base, 14, true));
    grid->addWidget(mode, 1, 0);
    grid->addWidget(button("cmdFullScreen"), 1, 1);
    grid->addWidget(button("cmdViewSource"), 1, 2);
    grid->addWidget(button("cmdViewEvents"), 1, 3);
    grid->addWidget(button("cmdEnd"), 2, 0, 1, 2);
    grid->addWidget(button("cmdTerminate"), 2, 2, 1, 2);
    for (int column = 0; column < 4; ++column)
        grid->setColumnStretch(column, 1);
    return operatorBox;
}

void MainWindow::buildLayout() {
    const QFont base = font();
    auto* copyright = label("lblCopyright");
    copyright->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* central = new QWidget;
    auto* root = new QGridLayout(central);
    root->setContentsMargins(10, 8, 10, 6);
    root->setSpacing(8);
    root->addWidget(buildOnAir(base), 0, 0, 1, 6);
    root->addWidget(buildPlayers(base), 1, 0, 1, 2);
    root->addWidget(buildSchedule(base), 1, 2, 1, 2);
    root->addWidget(buildServices(), 1, 4, 1, 2);
    root->addWidget(buildStream(), 2, 0, 1, 3);
    root->addWidget(buildMetadata(), 2, 3, 1, 3);
    root->addWidget(buildDetector(base), 3, 0, 1, 2);
    root->addWidget(buildOperator(base), 3, 2, 1, 4);
    root->addWidget(copyright, 4, 0, 1, 6);
    for (int column = 0; column < 6; ++column)
        root->setColumnStretch(column, 1);
    setCentralWidget(central);
}

void MainWindow::render() {
    for (auto& view : m_labels) {
        const Label& now = *view.model;
        Label& shown = view.shown;
        if (!m_rendered || now.caption != shown.caption) {
            view.widget->setText(shownText(now.caption));
            shown.caption = now.caption;
        }
        if (!m_rendered || now.background != shown.background ||
            now.foreground != shown.foreground) {
            applyColours(view.widget, now.background, QPalette::Window, now.foreground,
                         QPalette::WindowText);
            view.widget->setAutoFillBackground(now.background.has_value());
            shown.background = now.background;
            shown.foreground = now.foreground;
        }
    }
    for (auto& view : m_buttons) {
        const Button& now = *view.model;
        Button& shown = view.shown;
        if (!m_rendered || now.caption != shown.caption) {
            view.widget->setText(shownText(now.caption));
            shown.caption = now.caption;
        }
        if (!m_rendered || now.background != shown.background) {
            applyColours(view.widget, now.background, QPalette::Button, std::nullopt,
                         QPalette::ButtonText);
            shown.background = now.background;
        }
        if (!m_rendered || now.enabled != shown.enabled) {
            view.widget->setEnabled(now.enabled);
            shown.enabled = now.enabled;
        }
    }
    const Station& station = m_controller.station();
    for (int slot : {1, 2})
        m_meters[slot - 1]->showLevels(
            station.audio.of(slot), station.onAirSlot() == slot,
            QString::fromStdString(slotLoudnessText(station.loudness, slot)));
    renderCombo();
    m_rendered = true;
}

void MainWindow::renderCombo() {
    const ComboBox& now = m_controller.station().display.comboSourceList;
    const bool itemsChanged = !m_rendered || now.items != m_comboShown.items;
    if (!itemsChanged && now.text == m_comboShown.text) return;
    m_renderingCombo = true;
    if (itemsChanged) {
        m_combo->clear();
        for (const auto& item : now.items)
            m_combo->addItem(fromStationText(item));
        m_comboShown.items = now.items;
    }
    m_combo->setEditText(fromStationText(now.text));
    m_comboShown.text = now.text;
    m_renderingCombo = false;
}

void MainWindow::comboEdited(const QString& text) {
    if (m_renderingCombo) return;
    auto& model = m_controller.station().display.comboSourceList;
    // A text shown unchanged keeps its bytes (an 8-bit caption stays 8-bit).
    if (fromStationText(model.text) != text) model.text = toStationText(text);
    m_comboShown.text = model.text;
}

void MainWindow::setMaximised(bool maximised) {
    if (maximised) {
        showMaximized();
    } else {
        showNormal();
    }
}

void MainWindow::endProgram() {
    hide();
    if (m_apiWindow) m_apiWindow->hide();
    QCoreApplication::exit(0);
}

void MainWindow::showApiWindow() {
    if (!m_apiServer) {
        auto& station = m_controller.station();
        m_apiServer = std::make_unique<ApiServer>(station, configuredApiPort(station));
        m_apiServer->setAfterEvent([this] { render(); });
        m_apiWindow = std::make_unique<ApiWindow>(*m_apiServer);
    }
    m_apiWindow->show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    m_controller.windowClosed();
}

}  // namespace kestrel
