// Demo client of ZeltoHttpServer: shows one controller's variables in a table that updates in place, and
// writes the setpoint. Values arrive live over a Server-Sent Events stream (EventSource) when the browser
// and the server offer it: the server then pushes only what changed, and the page sends no further
// requests. Otherwise the page asks for the values once a second. The badge says which of the two it uses.
//
// The page's address may carry options after "#": nad=N picks the controller (default 10), setpoint=X
// writes X once when the page opens (handy for a kiosk link or a scripted check), and transport=poll
// asks once a second even where a stream would work.
"use strict";

const POLL_MS = 1000;
const TIMEOUT_MS = 5000;
const VARIABLES = ["temp", "level", "setpoint", "pump", "alarm", "mode", "cycles", "trim", "table[0]", "table[3]"];
const SYSTEM = ["sys.server_version", "sys.server_uptime", "sys.http_request_count"];

const options = new URLSearchParams(location.hash.slice(1));
const nad = /^\d+$/.test(options.get("nad") || "") ? options.get("nad") : "10";
const prefix = "c" + nad + ".";

// The server reads the query text as it arrives (no percent-decoding), so names go in unencoded.
const query = VARIABLES.map((v) => prefix + v).concat(SYSTEM).join("&");

const $ = (id) => document.getElementById(id);
const rows = new Map();
const current = new Map(); // name -> the latest entry {name, value, description, error}
let polls = 0;
let updates = 0;

// A value as the page shows it: numbers and texts as they come, "?" for none.
const shown = (item) => (item.value === null ? "?" : Array.isArray(item.value) ? item.value.join(", ") : String(item.value));

// One variable request answered as JSON; resolves to its entries or throws an Error with a readable text.
async function request(q) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
  let response;
  try {
    response = await fetch("/?" + q, { cache: "no-store", signal: controller.signal,
                                       headers: { Accept: "application/json" } });
  } catch (e) {
    throw new Error(e.name === "AbortError" ? "The server did not answer within " + TIMEOUT_MS / 1000 + " s"
                                            : "The server cannot be reached");
  } finally {
    clearTimeout(timer);
  }
  const text = await response.text();
  if (!response.ok) {
    throw new Error("HTTP " + response.status + (text ? ": " + text.slice(0, 200) : ""));
  }
  try {
    return JSON.parse(text).vars;
  } catch (e) {
    throw new Error("The answer is not the JSON the page expects");
  }
}

function showVariable(item) {
  let row = rows.get(item.name);
  if (!row) {
    row = document.createElement("tr");
    row.dataset.name = item.name;
    for (const cls of ["name", "value", "description"]) {
      const cell = document.createElement("td");
      cell.className = cls;
      row.appendChild(cell);
    }
    row.cells[0].textContent = item.name;
    $("vars").tBodies[0].appendChild(row);
    rows.set(item.name, row);
  }
  const value = shown(item);
  if (row.cells[1].textContent !== value) {
    row.classList.remove("changed");
    void row.offsetWidth; // restart the highlight
    row.classList.add("changed");
    row.cells[1].textContent = value;
    row.dataset.changedAt = String(Date.now());
  }
  row.cells[2].textContent = item.value === null ? item.error : item.description;
  row.classList.toggle("unknown", item.value === null);
}

// Takes entries (all of them, or only the changed ones from a stream) and refreshes the page.
function show(items) {
  for (const item of items) current.set(item.name, item);
  const controllerItems = Array.from(current.values()).filter((i) => i.name.startsWith(prefix));
  items.filter((i) => i.name.startsWith(prefix)).forEach(showVariable);
  const value = (name) => (current.has(name) ? shown(current.get(name)) : "–");
  $("server-version").textContent = value("sys.server_version");
  $("server-uptime").textContent = value("sys.server_uptime");
  $("server-requests").textContent = value("sys.http_request_count");
  $("last-answer").textContent = new Date().toLocaleTimeString();
  const missing = controllerItems.filter((i) => i.value === null);
  showState(missing.length === 0, missing.length === 0 ? "" :
            "No value for " + missing.map((i) => i.name + " (" + i.error + ")").join(", ") + ".");
  updates += 1;
  document.body.dataset.updates = String(updates);
}

function showState(ok, message) {
  const badge = $("connection");
  badge.className = "badge " + (ok ? "badge-ok" : "badge-error");
  badge.textContent = ok ? "live" : "trouble";
  $("problem").textContent = message || "";
  document.body.dataset.state = ok ? "live" : "trouble";
}

function showTransport(kind) {
  document.body.dataset.transport = kind;
  $("transport").textContent = kind === "stream" ? "pushed by the server (EventSource)" : "asked once a second (polling)";
}

async function poll() {
  try {
    show(await request(query));
  } catch (e) {
    showState(false, e.message);
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
  const source = new EventSource("/?" + query);
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
      showState(false, "The stream was interrupted; reconnecting…");
    }
  };
}

// The server refuses anything that is not a plain decimal number with "." as the point.
const DECIMAL = /^ *[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

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
    // Writes are ordinary requests. The server writes first and reads afterwards, so the answer carries
    // the value read back.
    const items = await request(prefix + "setpoint=" + text);
    const item = items.find((i) => i.name === prefix + "setpoint");
    if (!item || item.value === null) throw new Error(item ? item.error : "The controller did not take the value");
    show([item]);
    result.className = "ok";
    result.textContent = "Written; the controller reads back " + shown(item) + ".";
    document.body.dataset.written = shown(item);
  } catch (e) {
    result.className = "error";
    result.textContent = e.message;
  }
}

$("nad-label").textContent = "c" + nad;
$("query").textContent = "/?" + query;
$("write-form").addEventListener("submit", (event) => {
  event.preventDefault();
  writeSetpoint($("setpoint-input").value);
});

const initial = options.get("setpoint");
(initial !== null ? writeSetpoint(initial) : Promise.resolve()).then(start);
