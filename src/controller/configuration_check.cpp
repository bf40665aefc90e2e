#include "controller/configuration_check.h"

#include <filesystem>
#include <system_error>

#include "controller/station_controller.h"
#include "playback/source_list.h"
#include "scheduler/event_calculation.h"
#include "station/station_events.h"

namespace kestrel {

void journalConfigurationProblems(Station& station, const std::string& checkSource,
                                  const std::string& absent) {
    const auto& st = station.state;
    for (const char* name : {kConfigFile, kSourceListFile, kScheduleFile}) {
        // The management download brings the schedule where one is configured.
        if (name == kScheduleFile && st.ManagementUpdate > 0) continue;
        std::error_code error;
        if (!std::filesystem::exists(station.file(name), error)) {
            recordConfigurationProblem(station, name, "", "file missing");
        }
    }
    if (st.APIallowed == "1" && st.APIkey == absent) {
        recordConfigurationProblem(station, "APIKey", st.APIkey,
                                   "absent: the API key is the directory's path");
    }
    const std::pair<const char*, const std::string*> flags[] = {
        {"APIallowed", &st.APIallowed},
        {"AIRenable", &st.AIRenable},
        {"MetaWeather", &st.MetaWeather},
        {"CheckSource", &checkSource},
    };
    for (const auto& [key, value] : flags) {
        if (*value != "1" && *value != "0" && *value != absent) {
            recordConfigurationProblem(station, key, *value, "not 1 or 0: the flag is off");
        }
    }
}

}  // namespace kestrel
