#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "station/station.h"

namespace kestrel {

// What the station tells about itself: each call counts the event in
// `station.counters` and writes its line to `station.journal`.

/// A switch has finished: its cause, the source on air now, the slot started
/// and how it ended ("ok", or "no_address" when the key named no address and
/// the source on air was started again). A switch that someone asked for (the
/// operator, the API, the schedule, the management server), or a held source
/// back after its trial found sound, ends the hold of a silence.
void recordSwitch(Station& station, SwitchCause cause, std::int16_t source, int slot,
                  std::string_view result);

/// A silence hold ends (a newer wish, sound back, or the held source back on
/// air after its trial), for `why`; nothing when no source is held.
void endSilenceHold(Station& station, std::string_view why);

/// A switch's new player ended before it played: the source on air stays,
/// `source` (wanted, for `cause`, at `url` in `slot`) is pending.
void recordSwitchFailure(Station& station, SwitchCause cause, std::int16_t source, int slot,
                         const std::string& url);

/// The stream of `source`, on air in `slot`, stalled; it is started again.
void recordStall(Station& station, std::int16_t source, int slot);

/// The source on air, `source`, has been silent for SilenceSeconds.
void recordSilence(Station& station, std::int16_t source);

/// The trial of `source`, held off for silence, in `slot` found no sound;
/// the source on air plays on.
void recordSilenceTrial(Station& station, std::int16_t source, int slot);

/// A player in `slot`, of `source`, found no sound output (see declareOutputFailure).
void recordOutputFailure(Station& station, int slot, std::int16_t source);

/// A new player plays after an output failure.
void recordOutputAnswers(Station& station);

/// The watchdog found no player running and hands `source` back.
void recordPlayerOutage(Station& station, std::int16_t source);

/// The failure detector has declared the watched source failed (SilenceFlag 1).
void recordFailureDeclared(Station& station);

/// The watched source's server answers again after failed checks; call before
/// the detector resets its state.
void recordFailureRecovered(Station& station);

/// A management download ended: a usable schedule arrived (or not) and was
/// written (or not).
void recordScheduleDownload(Station& station, bool usable, bool written);

/// The management server ordered a switch that was not made (`reason`:
/// no_such_source, already_on_air).
void recordRemoteOrderIgnored(Station& station, std::string_view key, std::string_view reason);

/// An API client asked to switch to the source named by `key`.
void recordApiSwitchRequest(Station& station, std::string_view client, std::string_view key);

/// A control room page in a browser at `client` asked to switch to `key`.
void recordWebOrder(Station& station, std::string_view client, std::string_view key);

/// The mode became AUTOMATIC or MANUAL by `origin` ("operator": the window's
/// button, "web": a control room page at `client`).
void recordMode(Station& station, bool automatic, std::string_view origin,
                std::string_view client = {});

/// A control room page at `client` saved `bytes` bytes as the station file `file`.
void recordFileSaved(Station& station, std::string_view file, std::string_view client,
                     std::size_t bytes);

/// A login to the control room from `client` was accepted, or refused for a wrong key.
void recordWebLogin(Station& station, std::string_view client, bool accepted);

/// API connections were closed to admit new ones: how many since the last
/// such line because one address held too many and because the table was
/// full, and the address of the latest one closed.
void recordApiEvictions(Station& station, std::uint64_t perAddress, std::uint64_t tableFull,
                        std::string_view lastClient);

/// A station file could not be written (its old content stays) for `error`.
void recordWriteFailed(Station& station, std::string_view file, std::string_view error);

/// A station file that could not be written has been written again.
void recordWriteRecovered(Station& station, std::string_view file);

/// The player log announced a stream title; counted as an update when it
/// differs from the title shown.
void recordStreamTitle(Station& station, const std::string& title);

/// An exception escaped a timer handler (`where` is its name) or a task;
/// the station goes on.
void recordHandlerFailure(Station& station, std::string_view where, std::string_view what);

/// Start-up found something wrong with the configuration: one finding as
/// `kestrelfield --check` words it, or a listener that cannot start.
void recordConfigurationProblem(Station& station, std::string_view problem);

}  // namespace kestrel
