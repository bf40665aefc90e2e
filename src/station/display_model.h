#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGrey{128, 128, 128};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

/// A label of the window: its caption and colours. No value means the
/// window's default colour.
struct Label {
    std::string caption;
    std::optional<Rgb> background;
    std::optional<Rgb> foreground;
};

struct Button {
    std::string caption;
    std::optional<Rgb> background;
    bool enabled = true;
};

struct ComboBox {
    std::string text;
    std::vector<std::string> items;
};

/// Every control of the main window that carries state, with its design text
/// and colours, named like the control. Handlers write captions here and read
/// them back; the window renders this model.
struct DisplayModel {
    Label lblSourceNumber{"None"};
    Label lblSourceDisp{"0", kBlack, kWhite};
    Label lblStudio{"NONE", kBlack, kWhite};
    Label lblCurrentSource{"None"};
    /// "Waiting for source n" on red while a source is pending, else empty.
    Label lblPendingSource{""};
    Label lblMplayer{"None"};
    Label lblStatus{"STOP", kRed};
    Label lblStatus2{"", kRed};
    Label lblMplayer1{"STOP"};
    Label lblMplayer2{"STOP"};
    Label lblClock{"00:00:00"};
    Label lblDate{"2000-01-01"};
    Label lblLastEvent{"No Previous Event"};
    Label lblNextEvent{"No Event Next"};
    Label lblConfigurationStatus{"Management Server Disabled"};
    Label lblAPIstatus{"API Interface Disabled"};
    Label lblTuneInAir{"TuneIn AIR Service Disabled"};
    Label lblFail{"", kGrey};
    Label lblFailText{"DISABLED"};
    Label lblFailURL{"NONE"};
    Label lblFailCheckTime{"NO TIME"};
    Label lblSilence{"SILENCE"};
    Label lblOutput{""};
    Label lblStreamName{"None"};
    Label lblStreamGenre{"None"};
    Label lblStreamWebsite{"None"};
    Label lblStreamPublic{"None"};
    Label lblStreamBitrate{"None"};
    Label lblStreamCodec{"None"};
    /// The on-air slot's intake, "128 kbit/s", refreshed every second.
    Label lblStreamReceived{"None"};
    Label lblRXmetadata{"None"};
    Label lblMetadataOutput{"None"};
    Label lblMetadataExtra{"WAITING FOR METADATA"};
    Label lblWeather{"NO WEATHER"};
    Label lblWeatherText{"NO WEATHER"};
    Label lblAIRartist{"None"};
    Label lblAIRtitle{"None"};
    Label lblAIRupdated{"None"};
    Label lblCopyright{"Kestrelfield unattended stream switcher V" KESTREL_VERSION};

    ComboBox comboSourceList{"Select Source for Forced Manual Switch", {}};
    Button cmdForceSwitch{"Force Switch Now"};
    Button cmdAutoManual{"AUTOMATIC", kGreen};
    Button cmdFullScreen{"FULL SCREEN"};
    Button cmdViewSource{"View Sources"};
    Button cmdViewEvents{"View Events"};
    Button cmdEnd{"Terminate - Do Not Stop Current Playback"};
    Button cmdTerminate{"Terminate and Stop All Playback (Dead Air)"};
};

/// Every label of the model by control name, in the window's reading order.
struct LabelField {
    const char* name;
    Label DisplayModel::*member;
};

inline constexpr LabelField kDisplayLabels[] = {
    {"lblSourceNumber", &DisplayModel::lblSourceNumber},
    {"lblSourceDisp", &DisplayModel::lblSourceDisp},
    {"lblStudio", &DisplayModel::lblStudio},
    {"lblCurrentSource", &DisplayModel::lblCurrentSource},
    {"lblPendingSource", &DisplayModel::lblPendingSource},
    {"lblMplayer", &DisplayModel::lblMplayer},
    {"lblStatus", &DisplayModel::lblStatus},
    {"lblStatus2", &DisplayModel::lblStatus2},
    {"lblMplayer1", &DisplayModel::lblMplayer1},
    {"lblMplayer2", &DisplayModel::lblMplayer2},
    {"lblClock", &DisplayModel::lblClock},
    {"lblDate", &DisplayModel::lblDate},
    {"lblLastEvent", &DisplayModel::lblLastEvent},
    {"lblNextEvent", &DisplayModel::lblNextEvent},
    {"lblConfigurationStatus", &DisplayModel::lblConfigurationStatus},
    {"lblAPIstatus", &DisplayModel::lblAPIstatus},
    {"lblTuneInAir", &DisplayModel::lblTuneInAir},
    {"lblFail", &DisplayModel::lblFail},
    {"lblFailText", &DisplayModel::lblFailText},
    {"lblFailURL", &DisplayModel::lblFailURL},
    {"lblFailCheckTime", &DisplayModel::lblFailCheckTime},
    {"lblSilence", &DisplayModel::lblSilence},
    {"lblOutput", &DisplayModel::lblOutput},
    {"lblStreamName", &DisplayModel::lblStreamName},
    {"lblStreamGenre", &DisplayModel::lblStreamGenre},
    {"lblStreamWebsite", &DisplayModel::lblStreamWebsite},
    {"lblStreamPublic", &DisplayModel::lblStreamPublic},
    {"lblStreamBitrate", &DisplayModel::lblStreamBitrate},
    {"lblStreamCodec", &DisplayModel::lblStreamCodec},
    {"lblStreamReceived", &DisplayModel::lblStreamReceived},
    {"lblRXmetadata", &DisplayModel::lblRXmetadata},
    {"lblMetadataOutput", &DisplayModel::lblMetadataOutput},
    {"lblMetadataExtra", &DisplayModel::lblMetadataExtra},
    {"lblWeather", &DisplayModel::lblWeather},
    {"lblWeatherText", &DisplayModel::lblWeatherText},
    {"lblAIRartist", &DisplayModel::lblAIRartist},
    {"lblAIRtitle", &DisplayModel::lblAIRtitle},
    {"lblAIRupdated", &DisplayModel::lblAIRupdated},
    {"lblCopyright", &DisplayModel::lblCopyright},
};

/// A caption is shown up to this length; a garbled log line of a megabyte
/// must not stall the window or swell the status page.
inline constexpr int kLongestCaptionShown = 1024;

/// Fixed captions shown beside the fields.
inline constexpr const char* kFixedCaptions[] = {
    "SOURCE FAILURE DETECTOR", "Configured Local Switches:",
    "Current Source Number:",  "Current Source Address:",
    "Mplayer Instance:",       "Stream Name:",
    "Stream Genre:",           "Stream Website:",
    "Stream Public:",          "Stream Bitrate:",
    "Stream Codec:",           "Stream Metadata:",
    "Metadata Output:",        "Current AIR Title:",
    "Current AIR Aritst:",     "AIR Updated:",
};

inline constexpr const char* kWindowCaption = "Kestrelfield";
inline constexpr int kInnerWidth = 1024;
inline constexpr int kInnerHeight = 768;

}  // namespace kestrel
