#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <memory>
#include <set>

#include "platform/station_command.h"
#include "support/sim_host.h"

namespace kestrel {
namespace {

QColor qColor(const Rgb& rgb) {
    return QColor(rgb.r, rgb.g, rgb.b);
}

// One application for the whole run, created headless before any widget.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[17] = "main_window_test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim = std::make_unique<test::SimHost>();
        window = std::make_unique<MainWindow>(*sim->controller);
    }

    void TearDown() override {
        window.reset();
        sim.reset();
    }

    /// The station's start-up as main() runs it: start-up, show, render.
    void startStation() {
        sim->start();
        window->show();
        window->render();
    }

    QLabel* label(const char* name) const {
        auto* widget = window->findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QPushButton* button(const char* name) const {
        auto* widget = window->findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox* combo() const {
        return window->findChild<QComboBox*>(QStringLiteral("comboSourceList"));
    }

    std::unique_ptr<test::SimHost> sim;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, HasCaptionAndInnerArea) {
    startStation();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kestrelfield"));
    EXPECT_EQ(window->size(), QSize(1024, 768));
}

TEST_F(MainWindowTest, ShowsEveryControlWithItsDesignText) {
    const std::pair<const char*, const char*> labels[] = {
        {"lblSourceNumber", "None"},
        {"lblSourceDisp", "0"},
        {"lblStudio", "NONE"},
        {"lblCurrentSource", "None"},
        {"lblMplayer", "None"},
        {"lblStatus", "STOP"},
        {"lblStatus2", ""},
        {"lblMplayer1", "STOP"},
        {"lblMplayer2", "STOP"},
        {"lblClock", "00:00:00"},
        {"lblDate", "2000-01-01"},
        {"lblLastEvent", "No Previous Event"},
        {"lblNextEvent", "No Event Next"},
        {"lblConfigurationStatus", "Management Server Disabled"},
        {"lblAPIstatus", "API Interface Disabled"},
        {"lblTuneInAir", "TuneIn AIR Service Disabled"},
        {"lblFail", ""},
        {"lblFailText", "DISABLED"},
        {"lblFailURL", "NONE"},
        {"lblFailCheckTime", "NO TIME"},
        {"lblSilence", "SILENCE"},
        {"lblStreamName", "None"},
        {"lblStreamGenre", "None"},
        {"lblStreamWebsite", "None"},
        {"lblStreamPublic", "None"},
        {"lblStreamBitrate", "None"},
        {"lblStreamCodec", "None"},
        {"lblRXmetadata", "None"},
        {"lblMetadataOutput", "None"},
        {"lblMetadataExtra", "WAITING FOR METADATA"},
        {"lblWeather", "NO WEATHER"},
        {"lblWeatherText", "NO WEATHER"},
        {"lblAIRartist", "None"},
        {"lblAIRtitle", "None"},
        {"lblAIRupdated", "None"},
    };
    for (const auto& [name, text] : labels) {
        if (auto* widget = label(name)) {
            EXPECT_EQ(widget->text(), QString::fromLatin1(text)) << name;
        }
    }
    EXPECT_TRUE(label("lblCopyright")->text().endsWith(QStringLiteral("V1.76")));

    const std::pair<const char*, const char*> buttons[] = {
        {"cmdForceSwitch", "Force Switch Now"},
        {"cmdAutoManual", "AUTOMATIC"},
        {"cmdFullScreen", "FULL SCREEN"},
        {"cmdViewSource", "View Sources"},
        {"cmdViewEvents", "View Events"},
        {"cmdEnd", "Terminate - Do Not Stop Current Playback"},
        {"cmdTerminate", "Terminate and Stop All Playback (Dead Air)"},
    };
    for (const auto& [name, text] : buttons) {
        if (auto* widget = button(name)) {
            EXPECT_EQ(widget->text(), QString::fromLatin1(text)) << name;
            EXPECT_TRUE(widget->isEnabled()) << name;
        }
    }
    ASSERT_NE(combo(), nullptr);
    EXPECT_TRUE(combo()->isEditable());
    EXPECT_EQ(combo()->currentText(), QStringLiteral("Select Source for Forced Manual Switch"));
}

TEST_F(MainWindowTest, ShowsEveryFixedCaption) {
    std::set<QString> shown;
    for (auto* widget : window->findChildren<QLabel*>())
        shown.insert(widget->text());
    for (auto* box : window->findChildren<QGroupBox*>())
        shown.insert(box->title());
    for (const char* text : kFixedCaptions)
        EXPECT_TRUE(shown.count(QString::fromLatin1(text))) << text;
}

TEST_F(MainWindowTest, StartUpFillsSelectorAndKeepsItsText) {
    startStation();
    ASSERT_EQ(combo()->count(), 10);
    EXPECT_EQ(combo()->itemText(3), QStringLiteral("3 Select Source number 3"));
    EXPECT_EQ(combo()->currentText(), QStringLiteral("Select Source for Forced Manual Switch"));
    EXPECT_EQ(label("lblMplayer1")->text(), QString());
    EXPECT_EQ(label("lblSilence")->text(), QString());
}

TEST_F(MainWindowTest, PaintsDesignColours) {
    startStation();
    const QPalette status = label("lblStatus")->palette();
    EXPECT_EQ(status.color(QPalette::Window), qColor(kRed));
    EXPECT_TRUE(label("lblStatus")->autoFillBackground());
    EXPECT_EQ(label("lblStatus2")->palette().color(QPalette::Window), qColor(kRed));
    EXPECT_EQ(label("lblFail")->palette().color(QPalette::Window), qColor(kGrey));
    for (const char* name : {"lblSourceDisp", "lblStudio"}) {
        EXPECT_EQ(label(name)->palette().color(QPalette::Window), qColor(kBlack)) << name;
        EXPECT_EQ(label(name)->palette().color(QPalette::WindowText), qColor(kWhite)) << name;
    }
    EXPECT_EQ(button("cmdAutoManual")->palette().color(QPalette::Button), qColor(kGreen));
    EXPECT_FALSE(label("lblClock")->autoFillBackground());
}

TEST_F(MainWindowTest, ModeButtonTogglesTwice) {
    startStation();
    auto* mode = button("cmdAutoManual");
    mode->click();
    EXPECT_EQ(mode->text(), QStringLiteral("MANUAL"));
    EXPECT_EQ(mode->palette().color(QPalette::Button), qColor(kRed));
    EXPECT_FALSE(sim->station().timers.isEnabled("tmrCheckAndDoEvents"));
    mode->click();
    EXPECT_EQ(mode->text(), QStringLiteral("AUTOMATIC"));
    EXPECT_EQ(mode->palette().color(QPalette::Button), qColor(kGreen));
    EXPECT_TRUE(sim->station().timers.isEnabled("tmrCheckAndDoEvents"));
}

TEST_F(MainWindowTest, FullScreenButtonMaximisesAndRestores) {
    startStation();
    auto* size = button("cmdFullScreen");
    size->click();
    EXPECT_EQ(size->text(), QStringLiteral("NORMAL"));
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
    size->click();
    EXPECT_EQ(size->text(), QStringLiteral("FULL SCREEN"));
    EXPECT_FALSE(window->windowState() & Qt::WindowMaximized);
}

TEST_F(MainWindowTest, EditedSelectorTextReachesTheModel) {
    startStation();
    auto& model = sim->display().comboSourceList;
    combo()->setEditText(QStringLiteral("7 by hand"));
    EXPECT_EQ(model.text, "7 by hand");
    window->render();
    EXPECT_EQ(combo()->currentText(), QStringLiteral("7 by hand"));

    combo()->setCurrentIndex(4);
    EXPECT_EQ(model.text, "4 Select Source number 4");
}

TEST_F(MainWindowTest, ForceSwitchPlaysTheSelectedSource) {
    sim->write("sourcelist.ini", "4n:Studio Four\r\n4u:http://127.0.0.1:9/four\r\n");
    startStation();
    combo()->setCurrentIndex(4);
    sim->players.clearIssued();
    button("cmdForceSwitch")->click();
    sim->runFor(2);  // the overlap
    window->render();
    EXPECT_EQ(sim->players.urlOf(1), "http://127.0.0.1:9/four");
    EXPECT_EQ(label("lblStudio")->text(), QStringLiteral("Studio Four"));
    EXPECT_EQ(label("lblSourceDisp")->text(), QStringLiteral("4"));
    EXPECT_TRUE(button("cmdForceSwitch")->isEnabled());
}

TEST_F(MainWindowTest, ButtonsAndCloseIssueTheirCommands) {
    struct Case {
        const char* control;
        std::vector<std::string> commands;
        bool ends;
    };
    const Case cases[] = {
        {"cmdViewSource", {"notepad sourcelist.ini"}, false},
        {"cmdViewEvents", {"notepad sourceevents.ini"}, false},
        {"cmdEnd", {}, true},
        {"cmdTerminate", {"taskkill /f /im mplayer1.exe", "taskkill /f /im mplayer2.exe"}, true},
        {"close", {}, true},
    };
    for (const auto& c : cases) {
        TearDown();
        SetUp();
        startStation();
        sim->players.clearIssued();
        if (std::string(c.control) == "close") {
            window->close();
        } else {
            button(c.control)->click();
        }
        EXPECT_EQ(sim->players.commands(), c.commands) << c.control;
        EXPECT_EQ(window->isVisible(), !c.ends) << c.control;
    }
}

TEST_F(MainWindowTest, RendersModelChanges) {
    startStation();
    auto& display = sim->display();
    sim->state().CurrentMplayer = 2;
    sim->controller->updateDisplay();
    display.lblStudio.caption = "Radio K\xC3\xB6ln";       // UTF-8
    display.lblRXmetadata.caption = "Caf\xE9 <b>Bar</b>";  // Latin-1, and no markup
    display.lblStreamName.caption.assign(1 << 20, 'x');
    display.lblFail.background = std::nullopt;
    display.cmdForceSwitch.enabled = false;
    window->render();

    EXPECT_EQ(label("lblMplayer")->text(), QStringLiteral("2"));
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("PLAY"));
    EXPECT_EQ(label("lblStatus")->palette().color(QPalette::Window), qColor(kGreen));
    EXPECT_EQ(label("lblStatus2")->palette().color(QPalette::Window), qColor(kGreen));
    EXPECT_EQ(label("lblStudio")->text(), QString::fromUtf8("Radio K\xC3\xB6ln"));
    EXPECT_EQ(label("lblRXmetadata")->text(), QString::fromUtf8("Caf\xC3\xA9 <b>Bar</b>"));
    EXPECT_EQ(label("lblRXmetadata")->textFormat(), Qt::PlainText);
    EXPECT_LE(label("lblStreamName")->text().size(), 1024);
    EXPECT_FALSE(label("lblFail")->autoFillBackground());
    EXPECT_FALSE(button("cmdForceSwitch")->isEnabled());
    EXPECT_EQ(window->size(), QSize(1024, 768));
}

TEST_F(MainWindowTest, GrabsAScreenshot) {
    startStation();
    test::TempDir dir;
    const QString file = QString::fromStdString((dir.path() / "window.png").string());
    ASSERT_TRUE(window->grab().save(file, "PNG"));
    ASSERT_GT(std::filesystem::file_size(dir.path() / "window.png"), 0u);
    const QImage image(file);
    EXPECT_EQ(image.size(), QSize(1024, 768));
}

}  // namespace
}  // namespace kestrel
