// Demo client of ZeltoHttpServer: shows one controller's variables the way an operator reads them, and
// writes the setpoint when the Write button is pressed. Values arrive live over a Server-Sent Events
// stream (EventSource) when the browser and the server offer it: the server then pushes only what changed,
// and the page sends no further requests. Otherwise the page asks for the values once a second.
//
// When the controller stops answering, or the server cannot be reached, one banner says so and since when;
// the last values stay, greyed and marked stale, until values flow again.
//
// The page's address may carry options after "#": nad=N picks the controller (default 10), transport=poll
// asks once a second even where a stream would work. Nothing in the address writes: only the button does.
"use strict";

const POLL_MS = 1000;
const TIMEOUT_MS = 5000;
const VARIABLES = ["temp", "level", "setpoint", "pump", "alarm", "mode", "cycles", "trim", "table[0]", "table[3]"];
const SYSTEM = ["sys.server_version", "sys.server_uptime", "sys.http_request_count"];

// What the demo program "Tank" means by its values, from the descriptions in its variable list: the unit
// and decimals of a number, or the names of its states. Other variables are shown as the server sends them.
const MEANING = {
  temp: { unit: "°C", decimals: 1 },
  level: { unit: "%", decimals: 1 },
  setpoint: { unit: "°C", decimals: 1 },
  pump: { states: ["off", "on"] },
  alarm: { states: ["off", "on"] },
  mode: { states: ["off", "auto", "manual"] },
  cycles: { decimals: 0 },
  trim: { decimals: 0 },
};
// The controller's reasons, as the banner words them after "Controller N".
const REASONS = {
  "PLC not responding!": "not responding",
  "PLC not running!": "not running",
  "PLC has no program!": "has no program",
  "ALC data not found!": "has no variable list",
};

const options = new URLSearchParams(location.hash.slice(1));
const nad = /^\d+$/.test(options.get("nad") || "") ? options.get("nad") : "10";
const prefix = "c" + nad + ".";

// The server reads the query text as it arrives (no percent-decoding), so names go in unencoded.
const query = "/?" + VARIABLES.map((v) => prefix + v).concat(SYSTEM).join("&");
const READ_HEADERS = { Accept: "application/json" };
// A write says so: a server can demand this header, so that no mere link or image can write.
const WRITE_HEADERS = { Accept: "application/json", "X-Zelto-Write": "1" };

const $ = (id) => document.getElementById(id);
const rows = new Map();
const current = new Map(); // name -> the latest entry {name, value, description, error}
const good = new Map(); // name -> the latest entry that had a value
let polls = 0;
let updates = 0;
let serverTrouble = null; // why the server gave no values, while it gives none
let problem = null; // {text, since} of the banner

const pad = (n) => String(n).padStart(2, "0");
const clock = (d) => pad(d.getHours()) + ":" + pad(d.getMinutes()) + ":" + pad(d.getSeconds());

function meaningOf(name) {
  return MEANING[name.slice(prefix.length).replace(/\[\d+\]$/, "")];
}

// A value as the operator reads it: rounded to what the variable means, with its unit or state name.
function display(item) {
  const value = item.value;
  if (value === null) return "?";
  if (Array.isArray(value)) return value.join(", ");
  const m = meaningOf(item.name);
  if (typeof value !== "number" || !m) return String(value);
  if (m.states) return m.states[value] ?? String(value);
  const text = value.toLocaleString(undefined, { minimumFractionDigits: m.decimals, maximumFractionDigits: m.decimals });
  return m.unit ? text + "\u00a0" + m.unit : text;
}

// The description without the unit or the list of states that the value shows already, and with the
// element's index for an array's element.
function describe(item) {
  const m = meaningOf(item.name);
  const text = m && (m.unit || m.states) ? item.description.replace(/\s*(\[[^\]]*\]|\([^)]*\))$/, "") : item.description;
  const index = item.name.match(/\[\d+\]$/);
  return index ? text + " " + index[0] : text;
}

// One request answered as JSON; resolves to its entries or throws an Error with a readable text.
async function request(url, headers) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
  let response;
  try {
    response = await fetch(url, { cache: "no-store", signal: controller.signal, headers });
  } catch (e) {
    throw new Error(e.name === "AbortError" ? "Server not answering" : "Server not reachable");
  } finally {
    clearTimeout(timer);
  }
  const text = await response.text();
  if (!response.ok) throw new Error("Server answers HTTP " + response.status + (text ? " (" + text.slice(0, 80) + ")" : ""));
  try {
    return JSON.parse(text).vars;
  } catch (e) {
    throw new Error("Server sends an answer the page cannot read");
  }
}

function rowOf(name) {
  let row = rows.get(name);
  if (!row) {
    row = document.createElement("tr");
    row.dataset.name = name;
    row.innerHTML = '<td class="description"></td><td class="value"><span class="shown"></span>' +
                    '<span class="stale-mark">stale</span></td><td class="name"><code></code></td>';
    row.querySelector("code").textContent = name;
    $("vars").tBodies[0].appendChild(row);
    rows.set(name, row);
  }
  return row;
}

// Shows a controller variable: its value when it has one; otherwise the last one it had, marked stale, or
// "?" with the reason when it never had one (or the controller has no such variable).
function showVariable(item) {
  const row = rowOf(item.name);
  const stale = item.value === null && item.error !== "unknown variable" && good.has(item.name);
  const shownItem = stale ? good.get(item.name) : item;
  const text = display(shownItem);
  const cell = row.querySelector(".shown");
  if (cell.textContent !== text) {
    if (cell.textContent !== "" && shownItem.value !== null) {
      row.classList.remove("changed");
      void row.offsetWidth; // restart the highlight
      row.classList.add("changed");
      row.dataset.changedAt = String(Date.now());
    }
    cell.textContent = text;
  }
  row.dataset.value = shownItem.value === null ? "" : String(shownItem.value);
  row.dataset.shown = text;
  row.querySelector(".description").textContent = shownItem.value === null ? item.error : describe(shownItem);
  row.dataset.state = stale ? "stale" : item.value === null ? "missing" : "live";
}

// Takes entries (all of them, or only the changed ones from a stream) and refreshes the page.
function show(items) {
  serverTrouble = null;
  for (const item of items) {
    current.set(item.name, item);
    if (item.value !== null) good.set(item.name, item);
  }
  items.filter((i) => i.name.startsWith(prefix)).forEach(showVariable);
  const value = (name) => (current.has(name) ? display(current.get(name)) : "–");
  $("server-version").textContent = value("sys.server_version");
  $("server-uptime").textContent = value("sys.server_uptime");
  $("server-requests").textContent = value("sys.http_request_count");
  $("last-answer").textContent = clock(new Date());
  showState();
  updates += 1;
  document.body.dataset.updates = String(updates);
}

// The server gave no values: every value shown is stale from now on.
function lost(why) {
  serverTrouble = why;
  for (const row of rows.values()) if (row.dataset.state === "live") row.dataset.state = "stale";
  showState();
}

// The banner and the badge from what is known now. A change of state clears an old write message.
function showState() {
  const failed = Array.from(current.values()).find((i) => i.name.startsWith(prefix) && i.value === null &&
                                                         i.error !== "unknown variable");
  const text = serverTrouble ||
               (failed ? "Controller " + nad + " " + (REASONS[failed.error] || "reports: " + failed.error) : null);
  if ((problem && problem.text) !== text) {
    problem = text ? { text, since: new Date() } : null;
    $("write-result").textContent = "";
    $("write-result").className = "";
  }
  const banner = $("banner");
  banner.hidden = !problem;
  banner.textContent = problem ? problem.text + " since " + clock(problem.since) : "";
  const badge = $("connection");
  badge.className = "badge " + (problem ? "badge-error" : "badge-ok");
  badge.textContent = problem ? "stale" : "live";
  document.body.dataset.state = problem ? "stale" : "live";
}

function showTransport(kind) {
  document.body.dataset.transport = kind;
  $("transport").textContent = kind === "stream" ? "pushed by the server (EventSource)" : "asked once a second (polling)";
}

async function poll() {
  try {
    show(await request(query, READ_HEADERS));
  } catch (e) {
    lost(e.message);
  }
  polls += 1;
  document.body.dataset.polls = String(polls);
  setTimeout(poll, POLL_MS);
}

// A stream where the browser has EventSource; polling when it has not, or when the server refuses the
// stream (an older server, too many streams). A stream that drops is opened again by the browser itself.
function start() {
  if (typeof EventSource === "undefined" || options.get("transport") === "poll") {
    showTransport("polling");
    poll();
    return;
  }
  showTransport("stream");
  const source = new EventSource(query);
  let gotEvent = false;
  source.addEventListener("vars", (event) => {
    gotEvent = true;
    show(JSON.parse(event.data).vars);
  });
  source.onerror = () => {
    if (source.readyState === EventSource.CLOSED || !gotEvent) {
      source.close();
      showTransport("polling");
      poll();
    } else {
      lost("Server not reachable");
    }
  };
}

// The server refuses anything that is not a plain decimal number with "." as the point.
const DECIMAL = /^ *[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

const writeUrl = (text) => "/?" + prefix + "setpoint=" + text;

async function writeSetpoint(text) {
  const result = $("write-result");
  text = text.trim();
  if (!DECIMAL.test(text)) {
    result.className = "error";
    result.textContent = "Not a number: use digits and \".\" as the decimal point.";
    return;
  }
  result.className = "";
  result.textContent = "writing…";
  try {
    // The server writes first and reads afterwards, so the answer carries the value read back.
    const items = await request(writeUrl(text), WRITE_HEADERS);
    const item = items.find((i) => i.name === prefix + "setpoint");
    if (!item || item.value === null) throw new Error("Not written: " + (item ? item.error : "no answer for the setpoint"));
    show([item]);
    result.className = "ok";
    result.textContent = "Written at " + clock(new Date()) + "; the controller reads back " + display(item) + ".";
    document.body.dataset.written = String(item.value);
  } catch (e) {
    result.className = "error";
    result.textContent = e.message;
  }
}

$("nad-label").textContent = "c" + nad;
$("code-stream").textContent =
  'new EventSource("' + query + '").addEventListener("vars", (e) => console.log(JSON.parse(e.data).vars));';
$("code-fetch").textContent =
  'await (await fetch("' + writeUrl("55") + '", { headers: ' + JSON.stringify(WRITE_HEADERS) + " })).json();";
$("write-form").addEventListener("submit", (event) => {
  event.preventDefault();
  writeSetpoint($("setpoint-input").value);
});
start();
