#include "status/control_assets.h"

#include <string>

#include "status/live_script.h"

namespace kestrel {
namespace {

// Readable from a 360 px phone to a 1920 px control-room screen.
constexpr std::string_view kStyle = R"css(
* { box-sizing: border-box; }
body { margin: 0; background: #efefef; color: #000;
  font: 15px/1.45 "DejaVu Sans", Verdana, sans-serif; }
nav { display: flex; flex-wrap: wrap; gap: 4px 16px; align-items: center; padding: 8px 12px;
  background: #202830; }
nav a, nav button { color: #fff; font: inherit; }
nav a[aria-current] { font-weight: bold; text-decoration: none; }
nav form { margin-left: auto; }
nav button { background: none; border: 1px solid #8899aa; border-radius: 3px; padding: 2px 10px; }
main { padding: 10px 12px; max-width: 1900px; margin: 0 auto; }
h1 { font-size: 22px; margin: 4px 0 10px; }
h2 { font-size: 16px; margin: 0 0 6px; }
.panels { display: grid; grid-template-columns: repeat(auto-fit, minmax(300px, 1fr)); gap: 10px; }
.panel { background: #fafafa; border: 1px solid #c4c4c4; padding: 8px 12px; min-width: 0; }
.wide { grid-column: 1 / -1; }
.onair { display: grid; grid-template-columns: auto 1fr; gap: 0 14px; align-items: center; }
#lblSourceDisp { font: bold 84px/100px sans-serif; min-width: 120px; text-align: center; }
#lblStudio { font: bold 34px/1.2 sans-serif; padding: 4px 10px; overflow-wrap: anywhere; }
.rows { display: grid; grid-template-columns: max-content 1fr; gap: 2px 8px; }
.rows > span:nth-child(odd) { color: #444; }
.v, .rows > span { overflow-wrap: anywhere; min-width: 0; }
.line { display: block; overflow-wrap: anywhere; }
.lamp { display: inline-block; width: 22px; height: 22px; border: 1px inset #999;
  vertical-align: middle; margin-right: 6px; }
.mode { display: inline-block; font-weight: bold; padding: 3px 14px; min-width: 8em;
  text-align: center; border: 1px solid #999; }
form.order, .row { display: flex; flex-wrap: wrap; gap: 8px; align-items: center; margin: 6px 0; }
select, button, input, textarea { font: inherit; }
select { min-width: 0; flex: 1 1 14em; padding: 4px; }
button { padding: 5px 16px; border: 1px solid #777; border-radius: 3px; background: #e8e8e8; }
button.go { background: #1f4fbf; color: #fff; border-color: #1f4fbf; font-weight: bold; }
#answer, .notice { min-height: 1.4em; white-space: pre-wrap; }
.notice { padding: 6px 10px; background: #e6f2ff; border: 1px solid #9cc3ef; }
.notice.problem { background: #ffe8e8; border-color: #e09090; }
#lost, #unwritable { display: none; background: #ff0000; color: #fff; padding: 4px 8px;
  margin-bottom: 8px; white-space: pre-line; }
#meter { margin-top: 6px; background: #000; color: #fff; padding: 3px 6px; font-size: 12px; }
.bar { position: relative; height: 10px; background: #282828; margin-top: 3px; }
.bar > .rms { position: absolute; left: 0; top: 0; bottom: 0; background: #00ff00; }
.bar > .peak { position: absolute; top: 0; bottom: 0; width: 2px; background: #fff; }
.picture { overflow-x: auto; background: #fff; border: 1px solid #c4c4c4; padding: 4px; }
.picture svg { display: block; width: 100%; min-width: 720px; height: auto; }
.legend { display: flex; flex-wrap: wrap; gap: 4px 14px; padding: 0; list-style: none; }
.legend svg { vertical-align: middle; margin-right: 4px; }
.findings li { margin: 2px 0; }
.findings b { font-family: monospace; }
textarea { width: 100%; min-height: 22em; font-family: monospace; font-size: 14px; padding: 6px; }
table { border-collapse: collapse; width: 100%; }
td, th { text-align: left; padding: 3px 8px; border-bottom: 1px solid #ddd;
  overflow-wrap: anywhere; }
.events { padding-left: 1.2em; }
.login { max-width: 420px; margin: 40px auto; }
.login input { width: 100%; padding: 6px; margin: 6px 0 10px; }
@media (max-width: 600px) {
  #lblSourceDisp { font-size: 56px; line-height: 64px; min-width: 72px; }
  #lblStudio { font-size: 22px; }
  main { padding: 8px; }
}
)css";

constexpr std::string_view kControlScript = R"js(
// A page opened with the key in its address carries it on to the other pages.
const query = new URLSearchParams(location.search).has("id") ? location.search : "";
if (query) for (const link of document.querySelectorAll("a[data-keep]")) link.href += query;

let fastUntil = 0;
let timer = 0;

function showControl(status) {
  showLabels(status);
  showMeter(status);
  showUnwritable(status);
  const automatic = status.mode === "automatic";
  $("cmdAutoManual").textContent = automatic ? "AUTOMATIC" : "MANUAL";
  paint($("cmdAutoManual"), automatic ? green : red);
  const modeForm = $("modeForm");
  if (modeForm) {
    modeForm.elements.mode.value = automatic ? "manual" : "automatic";
    modeForm.querySelector("button").textContent =
      automatic ? "Switch to MANUAL" : "Switch to AUTOMATIC";
  }
  $("pending").textContent = status.pending.source < 0 ? "none" : "source " + status.pending.source;
}

async function refresh() {
  clearTimeout(timer);
  try {
    const answer = await fetch("/control/status.json" + query, { cache: "no-store" });
    if (answer.status === 403) { location.href = "/control/login"; return; }
    if (!answer.ok) throw new Error(answer.statusText);
    showControl(await answer.json());
    $("lost").style.display = "none";
  } catch (failure) {
    $("lost").style.display = "block";
  }
  // Right after an order the page looks five times a second, then once a second.
  timer = setTimeout(refresh, Date.now() < fastUntil ? 200 : 1000);
}

// Orders go out as the form would send them, and the page stays.
for (const form of document.querySelectorAll("form.order")) {
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    const said = $("answer");
    said.textContent = form.dataset.asking.replace("%", form.elements[form.dataset.field].value);
    try {
      const answer = await fetch(form.action, { method: "POST", cache: "no-store",
        body: new URLSearchParams(new FormData(form)), redirect: "manual" });
      if (answer.type !== "opaqueredirect" && !answer.ok) said.textContent = await answer.text();
    } catch (failure) {
      said.textContent = "No answer from the station: " + failure.message;
    }
    fastUntil = Date.now() + 20000;
    refresh();
  });
}

if ($("lblSourceDisp")) refresh();
if (document.body.dataset.reload) setTimeout(() => location.reload(), 60000);
)js";

}  // namespace

std::string_view controlStyle() {
    return kStyle;
}

std::string_view controlScript() {
    static const std::string script = std::string(liveScript()) + std::string(kControlScript);
    return script;
}

}  // namespace kestrel
