#include "status/status_page.h"

#include <string>

#include "status/live_script.h"

namespace kestrel {
namespace {

// Colours, words and sections follow the status window. Station texts are
// set as text, never as markup.
constexpr std::string_view kPage = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Kestrelfield</title>
<link rel="icon" href="data:,">
<style>
body { margin: 0; padding: 8px 10px; background: #efefef; color: #000;
  font: 14px/1.45 "DejaVu Sans", Verdana, sans-serif; }
.grid { display: grid; grid-template-columns: repeat(6, 1fr); gap: 8px; }
fieldset { margin: 0; border: 1px solid #c4c4c4; background: #ececec; padding: 6px 10px;
  min-width: 0; }
legend { padding: 0 2px; }
.w6 { grid-column: span 6; } .w4 { grid-column: span 4; } .w3 { grid-column: span 3; }
.w2 { grid-column: span 2; }
.rows { display: grid; grid-template-columns: max-content 1fr; gap: 2px 6px; }
.rows > .n { text-align: right; }
.v { overflow: hidden; text-overflow: ellipsis; white-space: nowrap; min-width: 0; }
.line { display: block; }
#onair { display: grid; grid-template-columns: 150px 1fr; gap: 0 6px; }
#lblSourceDisp { grid-row: span 3; height: 118px; font: bold 96px/118px sans-serif;
  text-align: center; }
#lblStudio { font: bold 40px/62px sans-serif; padding-left: 12px; }
#onair .rows { align-self: center; }
.lamp { display: inline-block; width: 26px; height: 26px; border: 1px inset #999;
  vertical-align: middle; }
#lblStatus { display: inline-block; width: 90px; height: 32px; font: bold 18px/32px sans-serif;
  text-align: center; vertical-align: middle; margin-right: 10px; }
.slot { display: inline-block; width: 44px; height: 30px; border: 1px inset #999;
  font: bold 16px/30px sans-serif; text-align: center; margin-top: 4px; vertical-align: top; }
#lblClock { font: bold 26px sans-serif; margin-right: 20px; }
#lblDate { font-size: 16px; }
#lblFailText { font: bold 14px sans-serif; margin-left: 6px; }
.op { display: flex; flex-wrap: wrap; gap: 8px; align-items: center; }
select { flex: 1 1 16em; min-width: 0; font: inherit; padding: 2px; }
button, .mode { font: inherit; padding: 3px 14px; border: 1px solid #999; border-radius: 2px; }
.mode { font-weight: bold; min-width: 9em; text-align: center; }
#answer { white-space: pre-wrap; font-family: monospace; min-height: 1.4em; }
#lost, #unwritable { display: none; background: #ff0000; color: #fff; padding: 4px 8px;
  margin-bottom: 8px; }
#unwritable { white-space: pre-line; }
#lblCopyright { text-align: right; }
#meter { margin-top: 6px; background: #000; color: #fff; padding: 3px 6px; font-size: 12px; }
.bar { position: relative; height: 10px; background: #282828; margin-top: 3px; }
.bar > .rms { position: absolute; left: 0; top: 0; bottom: 0; background: #00ff00; }
.bar > .peak { position: absolute; top: 0; bottom: 0; width: 2px; background: #fff; }
@media (max-width: 760px) {
  .w2, .w3, .w4 { grid-column: span 6; }
  .v { white-space: normal; overflow-wrap: anywhere; }
  #onair { grid-template-columns: 96px 1fr; }
  #lblSourceDisp { height: 80px; font-size: 64px; line-height: 80px; }
  #lblStudio { font-size: 28px; line-height: 44px; }
}
</style>
</head>
<body>
<div id="lost">No answer from the station: the page shows its last known state.</div>
<div id="unwritable"></div>
<div class="grid">
<fieldset class="w6"><legend>On Air</legend><div id="onair">
  <span id="lblSourceDisp" class="v"></span><span id="lblStudio" class="v"></span>
  <div class="rows">
    <span class="n">Current Source Number:</span><span id="lblSourceNumber" class="v"></span>
    <span class="n">Current Source Address:</span><span id="lblCurrentSource" class="v"></span>
    <span class="n">Pending Source:</span><span id="pending" class="v"></span>
  </div><span id="lblPendingSource" class="line v"></span></div></fieldset>
<fieldset class="w2"><legend>Players</legend>
  <div class="rows"><span class="n">Mplayer Instance:</span><span id="lblMplayer" class="v"></span></div>
  <div><span id="lblStatus"></span><span id="lblStatus2" class="lamp"></span></div>
  <span id="lblMplayer1" class="slot"></span><span id="lblMplayer2" class="slot"></span>
  <div id="meter"><span id="meterTitle">On air: no data</span><div id="meterBars"></div></div></fieldset>
<fieldset class="w2"><legend>Schedule</legend>
  <div><span id="lblClock"></span><span id="lblDate"></span></div>
  <span class="line">Configured Local Switches:</span>
  <span id="lblLastEvent" class="line v"></span><span id="lblNextEvent" class="line v"></span></fieldset>
<fieldset class="w2"><legend>Services</legend>
  <span id="lblConfigurationStatus" class="line v"></span><span id="lblAPIstatus" class="line v"></span>
  <span id="lblTuneInAir" class="line v"></span>
  <div class="rows">
    <span class="n">Current AIR Aritst:</span><span id="lblAIRartist" class="v"></span>
    <span class="n">Current AIR Title:</span><span id="lblAIRtitle" class="v"></span>
    <span class="n">AIR Updated:</span><span id="lblAIRupdated" class="v"></span>
  </div></fieldset>
<fieldset class="w3"><legend>Stream</legend><div class="rows">
  <span class="n">Stream Name:</span><span id="lblStreamName" class="v"></span>
  <span class="n">Stream Genre:</span><span id="lblStreamGenre" class="v"></span>
  <span class="n">Stream Website:</span><span id="lblStreamWebsite" class="v"></span>
  <span class="n">Stream Public:</span><span id="lblStreamPublic" class="v"></span>
  <span class="n">Stream Bitrate:</span><span id="lblStreamBitrate" class="v"></span>
  <span class="n">Stream Codec:</span><span id="lblStreamCodec" class="v"></span>
  <span class="n">Stream Received:</span><span id="lblStreamReceived" class="v"></span>
  <span class="n">Stream Metadata:</span><span id="lblRXmetadata" class="v"></span>
</div></fieldset>
<fieldset class="w3"><legend>Metadata</legend>
  <div class="rows"><span class="n">Metadata Output:</span><span id="lblMetadataOutput" class="v"></span></div>
  <span id="lblMetadataExtra" class="line v"></span><span id="lblWeather" class="line v"></span>
  <span id="lblWeatherText" class="line v"></span></fieldset>
<fieldset class="w2"><legend>SOURCE FAILURE DETECTOR</legend>
  <div><span id="lblFail" class="lamp"></span><span id="lblFailText"></span></div>
  <span id="lblFailURL" class="line v"></span><span id="lblFailCheckTime" class="line v"></span>
  <span id="lblSilence" class="line v"></span><span id="lblOutput" class="line v"></span></fieldset>
<fieldset class="w4"><legend>Operator</legend>
  <div class="op"><select id="comboSourceList"></select>
    <button id="cmdForceSwitch" type="button">Force Switch Now</button>
    <span id="cmdAutoManual" class="mode"></span></div>
  <div id="answer"></div></fieldset>
<fieldset class="w6"><legend>Since Start</legend><div class="rows">
  <span class="n">Switches:</span><span id="switches" class="v"></span>
  <span class="n">Player Restarts:</span><span id="playerRestarts" class="v"></span>
  <span class="n">Failed Switches:</span><span id="switchFailures" class="v"></span>
  <span class="n">Failovers:</span><span id="failovers" class="v"></span>
  <span class="n">Started:</span><span id="started" class="v"></span>
</div></fieldset>
<div id="lblCopyright" class="w6"></div>
</div>
<script>
)html";

// After the shared script functions.
constexpr std::string_view kPageScript = R"html(
// The page's own query string carries the key, byte for byte as it was opened.
const query = location.search;
let choicesShown = "";

function show(status) {
  showLabels(status);
  $("pending").textContent = status.pending.source < 0 ? "None" : String(status.pending.source);
  const automatic = status.mode === "automatic";
  $("cmdAutoManual").textContent = automatic ? "AUTOMATIC" : "MANUAL";
  paint($("cmdAutoManual"), automatic ? green : red);
  const counts = status.counts;
  $("switches").textContent = Object.entries(counts.switches)
    .map(([cause, n]) => cause + " " + n).join(", ");
  $("playerRestarts").textContent = counts.playerRestarts;
  $("switchFailures").textContent = counts.switchFailures;
  $("failovers").textContent = counts.failovers;
  document.title = status.station + " \u2013 Kestrelfield";
  $("started").textContent = new Date(status.startTime * 1000).toLocaleString() +
    ", version " + status.version;
  showUnwritable(status);
  showMeter(status);
  const choices = JSON.stringify(status.operator.choices);
  if (choices !== choicesShown) {
    const select = $("comboSourceList");
    const chosen = select.value;
    select.replaceChildren(new Option(status.operator.selection, ""));
    for (const item of status.operator.choices) select.add(new Option(item, item.charAt(0)));
    select.value = chosen;
    choicesShown = choices;
  }
}

async function refresh() {
  try {
    const answer = await fetch("status.json" + query, { cache: "no-store" });
    if (!answer.ok) throw new Error(answer.statusText);
    show(await answer.json());
    $("lost").style.display = "none";
  } catch (failure) {
    $("lost").style.display = "block";
  }
  setTimeout(refresh, 1000);
}

$("cmdForceSwitch").addEventListener("click", async () => {
  const key = $("comboSourceList").value;
  if (!key) { $("answer").textContent = "Select a source first."; return; }
  const button = $("cmdForceSwitch");
  button.disabled = true;
  $("answer").textContent = "Switching to source " + key + "...";
  try {
    const answer = await fetch("setcurrent.php" + query + key, { cache: "no-store" });
    $("answer").textContent = (await answer.text()).trim();
  } catch (failure) {
    $("answer").textContent = "No answer: " + failure.message;
  }
  button.disabled = false;
});

refresh();
</script>
</body>
</html>
)html";

}  // namespace

std::string_view statusPage() {
    static const std::string page =
        std::string(kPage) + std::string(liveScript()) + std::string(kPageScript);
    return page;
}

}  // namespace kestrel
