#include "playback/crossfade.h"

#include <algorithm>

#include "monitoring/loudness_control.h"
#include "playback/playback_start.h"
#include "station/tolerant_step.h"

namespace kestrel {
namespace {

// A step late on a busy loop moves no further: the fade takes longer instead.
constexpr double kStepSeconds = 0.01;
constexpr double kDeepestFloorDb = -60;
constexpr double kCrossingDb = -6;

}  // namespace

double fadeInDb(double progress, double seconds) {
    const double u = std::clamp(progress, 0.0, 1.0);
    const double floor = std::max(kDeepestFloorDb, kCrossingDb - kFadeDbPerSecond * seconds / 2);
    if (u <= 0.5) return floor + (kCrossingDb - floor) * u * 2;
    return kCrossingDb * (1 - u) * 2;
}

Task<FadeEnd> crossfade(Station& station, int newSlot, int oldSlot, double seconds) {
    SlotLoudness& incoming = station.loudness.slot(newSlot);
    SlotLoudness& outgoing = station.loudness.slot(oldSlot);
    const auto setFade = [&](double progress) {
        incoming.fadeDb = fadeInDb(progress, seconds);
        outgoing.fadeDb = fadeInDb(1 - progress, seconds);
        tolerate([&] { applySlotVolume(station, newSlot); });
        tolerate([&] { applySlotVolume(station, oldSlot); });
    };
    setFade(0);
    // A player that never took its volume plays at the level it started
    // with: there is nothing to fade.
    if (!incoming.volume || *incoming.volume == 0) {
        outgoing.fadeDb = 0.0;
        tolerate([&] { applySlotVolume(station, oldSlot); });
        co_return FadeEnd::NotControlled;
    }
    const double perStep = kStepSeconds / seconds;
    double progress = 0;
    bool runs = true;
    while (progress < 1 && runs) {
        co_await station.Pause(kStepSeconds);
        // Looked at before every step: the old one is never turned down beside nothing.
        tolerate([&] { runs = mayRun(station, newSlot); });
        if (runs) setFade(progress = std::min(progress + perStep, 1.0));
    }
    if (runs) co_return FadeEnd::Faded;
    // The new player ended: the old one comes back along the same curve.
    incoming.fadeDb = 0.0;
    while (progress > 0) {
        co_await station.Pause(kStepSeconds);
        progress = std::max(progress - perStep, 0.0);
        outgoing.fadeDb = fadeInDb(1 - progress, seconds);
        tolerate([&] { applySlotVolume(station, oldSlot); });
    }
    co_return FadeEnd::NewPlayerEnded;
}

}  // namespace kestrel
