#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <vector>

#include "controller/station_controller.h"
#include "station/display_model.h"
#include "station/host_hooks.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kestrel {

class ApiServer;
class ApiWindow;
class LevelMeter;

/// The station's status window ("Kestrelfield"): shows the display model,
/// forwards the operator's clicks to the controller and carries out what the
/// core asks of the window (maximise, end, API window). Widgets are named like
/// their controls (`lblStudio`, `cmdForceSwitch`).
class MainWindow : public QMainWindow, public HostHooks {
    Q_OBJECT
public:
    /// Becomes the station's host for as long as it exists. Not started: the
    /// caller runs the start-up sequence, then shows and renders the window.
    explicit MainWindow(StationController& controller, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// Brings every widget up to date with the display model; touches only
    /// what changed since the last call.
    void render();

    void setMaximised(bool maximised) override;
    void endProgram() override;
    void showApiWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct LabelView {
        QLabel* widget;
        const Label* model;
        Label shown;
    };
    struct ButtonView {
        QPushButton* widget;
        const Button* model;
        Button shown;
    };

    void buildWidgets();
    void buildLayout();
    QGroupBox* buildOnAir(const QFont& base);
    QGroupBox* buildPlayers(const QFont& base);
    QGroupBox* buildSchedule(const QFont& base);
    QGroupBox* buildServices();
    QGroupBox* buildStream();
    QGroupBox* buildMetadata();
    QGroupBox* buildDetector(const QFont& base);
    QGroupBox* buildOperator(const QFont& base);
    QLabel* label(const char* name) const;
    QPushButton* button(const char* name) const;
    void renderCombo();
    void comboEdited(const QString& text);

    StationController& m_controller;
    HostHooks* m_previousHost;
    std::vector<LabelView> m_labels;
    std::vector<ButtonView> m_buttons;
    QComboBox* m_combo = nullptr;
    std::array<LevelMeter*, 2> m_meters{};  ///< player slots 1 and 2
    ComboBox m_comboShown;
    bool m_rendered = false;
    bool m_renderingCombo = false;
    std::unique_ptr<ApiServer> m_apiServer;
    std::unique_ptr<ApiWindow> m_apiWindow;  // shows m_apiServer, so ends first
};

}  // namespace kestrel
