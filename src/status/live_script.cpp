#include "status/live_script.h"

namespace kestrel {
namespace {

// Station texts are set as text, never as markup.
constexpr std::string_view kScript = R"js("use strict";
const $ = (id) => document.getElementById(id);
const green = "#00ff00", red = "#ff0000";

function paint(element, background, foreground) {
  element.style.background = background || "";
  element.style.color = foreground || "";
}

function showLabels(status) {
  for (const [name, label] of Object.entries(status.window)) {
    const element = $(name);
    if (!element) continue;
    element.textContent = label.caption;
    element.title = label.caption;
    paint(element, label.background, label.foreground);
  }
}

// The on-air slot's levels, -60 to 0 dBFS: RMS as the bar, peak as the line.
function showMeter(status) {
  const slot = status.onAir.source < 0 ? 0 : status.onAir.slot;
  const levels = slot ? status.audio["slot" + slot] : null;
  const silence = status.audio.silence;
  const heard = (status.loudness.sources || []).find((s) => s.slot === slot && s.lufs !== null);
  const loudness = !heard ? ""
    : ", " + heard.lufs.toFixed(1) + " LUFS, gain " + (heard.gainDb >= 0 ? "+" : "")
      + heard.gainDb.toFixed(1) + " dB";
  $("meterTitle").textContent = !levels ? "On air: no data"
    : "On air, player " + slot + loudness + (silence.declared ? ": SILENCE" : "");
  const bars = $("meterBars");
  const channels = levels ? levels.rmsDbfs.length : 0;
  while (bars.children.length > channels) bars.lastChild.remove();
  while (bars.children.length < channels) {
    const bar = document.createElement("div");
    bar.className = "bar";
    bar.append(document.createElement("div"), document.createElement("div"));
    bar.firstChild.className = "rms";
    bar.lastChild.className = "peak";
    bars.append(bar);
  }
  const along = (dbfs) => (Math.min(Math.max(dbfs, -60), 0) + 60) / 60 * 100 + "%";
  for (let c = 0; c < channels; ++c) {
    bars.children[c].firstChild.style.width = along(levels.rmsDbfs[c]);
    bars.children[c].lastChild.style.left = "calc(" + along(levels.peakDbfs[c]) + " - 2px)";
  }
}

function showUnwritable(status) {
  const unwritable = status.unwritableFiles
    .map((f) => "Cannot write " + f.file + ": " + f.error + " (the old content stays)");
  $("unwritable").textContent = unwritable.join("\n");
  $("unwritable").style.display = unwritable.length ? "block" : "none";
}
)js";

}  // namespace

std::string_view liveScript() {
    return kScript;
}

}  // namespace kestrel
