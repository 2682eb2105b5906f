// Demo client of ZeltoHttpServer: polls one controller's variables once a second with a single variable
// request, shows the XML answer in a table that updates in place, and writes the setpoint.
//
// The page's address may carry options after "#": nad=N picks the controller (default 10), and
// setpoint=X writes X once when the page opens (handy for a kiosk link or a scripted check).
"use strict";

const POLL_MS = 1000;
const TIMEOUT_MS = 5000;
const VARIABLES = ["temp", "level", "setpoint", "pump", "alarm", "mode", "cycles", "trim", "table[0]", "table[3]"];
const SYSTEM = ["sys.server_version", "sys.server_uptime", "sys.http_request_count"];

const options = new URLSearchParams(location.hash.slice(1));
const nad = /^\d+$/.test(options.get("nad") || "") ? options.get("nad") : "10";
const prefix = "c" + nad + ".";

// The server reads the query text as it arrives (no percent-decoding), so names go in unencoded.
const pollQuery = VARIABLES.map((v) => prefix + v).concat(SYSTEM).join("&");

const $ = (id) => document.getElementById(id);
const rows = new Map();
let polls = 0;

// One variable request; resolves to [{name, value, description}] or throws an Error with a readable text.
async function request(query) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
  let response;
  try {
    response = await fetch("/?" + query, { cache: "no-store", signal: controller.signal });
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
  const doc = new DOMParser().parseFromString(text, "text/xml");
  if (doc.getElementsByTagName("parsererror").length > 0) {
    throw new Error("The answer is not a valid XML document");
  }
  return Array.from(doc.getElementsByTagName("var"), (v) => ({
    name: field(v, "name"),
    value: field(v, "value"),
    description: field(v, "description"),
  }));
}

function field(element, tag) {
  const child = element.getElementsByTagName(tag)[0];
  return child ? child.textContent : "";
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
  if (row.cells[1].textContent !== item.value) {
    row.classList.remove("changed");
    void row.offsetWidth; // restart the highlight
    row.classList.add("changed");
    row.cells[1].textContent = item.value;
  }
  row.cells[2].textContent = item.description;
  row.classList.toggle("unknown", item.value === "?");
}

function showServer(items) {
  const byName = new Map(items.map((i) => [i.name, i.value]));
  $("server-version").textContent = byName.get("sys.server_version") || "–";
  $("server-uptime").textContent = byName.get("sys.server_uptime") || "–";
  $("server-requests").textContent = byName.get("sys.http_request_count") || "–";
  $("last-answer").textContent = new Date().toLocaleTimeString();
}

function showState(ok, message) {
  const badge = $("connection");
  badge.className = "badge " + (ok ? "badge-ok" : "badge-error");
  badge.textContent = ok ? "live" : "trouble";
  $("problem").textContent = message || "";
  document.body.dataset.state = ok ? "live" : "trouble";
}

async function poll() {
  try {
    const items = await request(pollQuery);
    const controllerItems = items.filter((i) => i.name.startsWith(prefix));
    controllerItems.forEach(showVariable);
    showServer(items);
    const unknown = controllerItems.filter((i) => i.value === "?").map((i) => i.name);
    showState(unknown.length === 0,
              unknown.length === 0 ? "" : "No value for " + unknown.join(", ") +
                                          ": the controller is not answering or does not have these variables.");
  } catch (e) {
    showState(false, e.message);
  }
  polls += 1;
  document.body.dataset.polls = String(polls);
  setTimeout(poll, POLL_MS);
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
    // The server writes first and reads afterwards, so the answer carries the value read back.
    const items = await request(prefix + "setpoint=" + text);
    const item = items.find((i) => i.name === prefix + "setpoint");
    if (!item || item.value === "?") throw new Error("The controller did not take the value");
    showVariable(item);
    result.className = "ok";
    result.textContent = "Written; the controller reads back " + item.value + ".";
    document.body.dataset.written = item.value;
  } catch (e) {
    result.className = "error";
    result.textContent = e.message;
  }
}

$("nad-label").textContent = "c" + nad;
$("query").textContent = "/?" + pollQuery;
$("write-form").addEventListener("submit", (event) => {
  event.preventDefault();
  writeSetpoint($("setpoint-input").value);
});

const initial = options.get("setpoint");
(initial !== null ? writeSetpoint(initial) : Promise.resolve()).then(poll);
