"use strict";
// The modem's status page: asks the router's CGI for `mdmio -j status` every few
// seconds (?every=N in the page's address changes that, ?slot=1 asks the second
// module) and shows it. Everything the module or the network says goes into the page as
// text, never as markup: elements are made here and filled with text nodes.

// How good a signal is: the lowest value of each grade, best first (anything below the
// last is poor), and the span its bar covers.
const qualities = {
  rsrp_dbm: { label: "RSRP", unit: "dBm", least: -140, most: -44, grades: [-80, -90, -100] },
  rsrq_db: { label: "RSRQ", unit: "dB", least: -20, most: -3, grades: [-10, -15, -20] },
  sinr_db: { label: "SINR", unit: "dB", least: -20, most: 30, grades: [20, 13, 0] },
  rssi_dbm: { label: "RSSI", unit: "dBm", least: -113, most: -51, grades: [-65, -75, -85] },
  rscp_dbm: { label: "RSCP", unit: "dBm", least: -120, most: -25, grades: [-75, -85, -95] },
  ecio_db: { label: "Ec/Io", unit: "dB", least: -24, most: 0, grades: [-6, -10, -20] },
};
const gradeNames = ["excellent", "good", "fair", "poor"];
// Each technology's name, the word its bands go after, and how its bands are named.
const technologies = {
  gsm: ["GSM", "GSM", "B"],
  umts: ["UMTS", "UMTS", "B"],
  lte: ["LTE", "LTE", "B"],
  "nr5g-nsa": ["5G NSA", "LTE", "B"],
  "nr5g-sa": ["5G SA", "NR", "n"],
};

const settings = new URLSearchParams(location.search);
const every = Math.min(3600, Math.max(1, Number.parseInt(settings.get("every"), 10) || 5));
const slot = settings.get("slot") === "1" ? "1" : "0";
const source = "/cgi-bin/mdmio-status?slot=" + slot;
const plotSeconds = 600;
const plotSize = { width: 600, height: 220, margin: 10 };
const history = [];

const byId = (id) => document.getElementById(id);

// An element with attributes and children; a child that is no node becomes a text node.
function make(tag, attributes, ...children) {
  const made = document.createElementNS(
    tag === "line" || tag === "text" ? "http://www.w3.org/2000/svg" : "http://www.w3.org/1999/xhtml",
    tag,
  );
  for (const [name, value] of Object.entries(attributes || {})) made.setAttribute(name, value);
  for (const child of children) made.append(child instanceof Node ? child : String(child));
  return made;
}

const known = (value) => value !== null && value !== undefined && value !== "";

// A value as the document gives it, marked with its name there (nr.rsrp_dbm,
// carriers.1.band), and its unit.
function value(name, given, unit) {
  const shown = make("span", { "data-field": name }, known(given) ? given : "–");
  return unit && known(given) ? [shown, " ", make("span", { class: "unit" }, unit)] : [shown];
}

function share(given, least, most) {
  return Math.min(1, Math.max(0, (given - least) / (most - least)));
}

// One signal value: its name, the value with its unit, and a bar coloured by its grade.
function meter(name, label, given) {
  const quality = qualities[name.split(".").pop()];
  const found = quality.grades.findIndex((least) => given >= least);
  const grade = gradeNames[found < 0 ? gradeNames.length - 1 : found];
  const width = (share(given, quality.least, quality.most) * 100).toFixed(0);
  return make(
    "div",
    { class: "meter" },
    make("span", {}, label),
    make("span", {}, ...value(name, given, quality.unit)),
    make("div", { class: "bar", title: grade }, make("div", { class: "fill " + grade, style: "width:" + width + "%" })),
  );
}

// Every band in use: the primary's, the other LTE carriers', then NR's ("LTE B1 + B3 + n78").
function bandsOf(status) {
  const names = [];
  const add = (name) => names.includes(name) || names.push(name);
  const [, word, prefix] = technologies[status.technology] || ["", "", "B"];
  if (known(status.band)) add(prefix + status.band);
  const carriers = status.carriers || [];
  for (const carrier of carriers) if (carrier.technology === "lte" && known(carrier.band)) add("B" + carrier.band);
  if (status.nr && known(status.nr.band)) add("n" + status.nr.band);
  for (const carrier of carriers) if (carrier.technology === "nr" && known(carrier.band)) add("n" + carrier.band);
  return names.length === 0 ? "" : [word, names.join(" + ")].filter(known).join(" ");
}

function terms(list, entries) {
  list.replaceChildren(
    ...entries.flatMap(([term, name, given, unit]) => [make("dt", {}, term), make("dd", {}, ...value(name, given, unit))]),
  );
}

function carrierRow(label, prefix, carrier) {
  const cell = (name) => make("td", {}, ...value(prefix + name, carrier[name]));
  return make(
    "tr",
    {},
    make("td", {}, label),
    cell("band"),
    cell("channel"),
    cell("pci"),
    cell("bandwidth_mhz"),
    cell("rsrp_dbm"),
    cell("rsrq_db"),
    cell("rssi_dbm"),
    cell("sinr_db"),
  );
}

function showSignal(status) {
  const meters = [];
  for (const name of Object.keys(qualities)) {
    if (known(status[name])) meters.push(meter(name, qualities[name].label, status[name]));
  }
  for (const name of ["rsrp_dbm", "rsrq_db", "sinr_db"]) {
    if (status.nr && known(status.nr[name])) meters.push(meter("nr." + name, "NR " + qualities[name].label, status.nr[name]));
  }
  byId("meters").replaceChildren(...meters);
}

function showCarriers(status) {
  const rows = [carrierRow("primary", "", status)];
  if (status.nr) rows.push(carrierRow("NR leg", "nr.", status.nr));
  (status.carriers || []).forEach((carrier, at) =>
    rows.push(carrierRow((carrier.technology === "nr" ? "NR" : "LTE") + " secondary", "carriers." + (at + 1) + ".", carrier)),
  );
  byId("carriers").replaceChildren(...rows);
}

function show(status) {
  byId("technology").replaceChildren(
    [(technologies[status.technology] || [""])[0], status.registration].filter(known).join(", "),
  );
  document.querySelector("h1 [data-field=operator]").textContent = known(status.operator) ? status.operator : "No network";
  byId("bands").replaceChildren(...(bandsOf(status) ? [make("span", { "data-field": "bands" }, bandsOf(status))] : []));
  showSignal(status);
  terms(byId("cell"), [
    ["Cell", "cell", status.cell],
    ["TAC", "tac", status.tac],
    ["PCI", "pci", status.pci],
    ["Channel", "channel", status.channel],
    ["Bandwidth", "bandwidth_mhz", status.bandwidth_mhz, "MHz"],
    ["MCC", "mcc", status.mcc],
    ["MNC", "mnc", status.mnc],
  ]);
  showCarriers(status);
  terms(byId("module"), [
    ["SIM", "sim", status.sim],
    ["IMEI", "imei", status.imei],
    ["ICCID", "iccid", status.iccid],
    ["IMSI", "imsi", status.imsi],
    ["Maker", "manufacturer", status.manufacturer],
    ["Model", "model", status.model],
    ["Revision", "revision", status.revision],
    ["Temperature", "temperature_c", status.temperature_c, "°C"],
  ]);
  byId("updated").textContent = new Date().toLocaleTimeString();
}

// The plot's frame: a line for each quarter of the span, and its ends named.
function drawGrid() {
  const { width, height, margin } = plotSize;
  const lines = [];
  for (let quarter = 0; quarter <= 4; quarter += 1) {
    const y = margin + ((height - 2 * margin) * quarter) / 4;
    lines.push(make("line", { x1: 0, x2: width, y1: y, y2: y }));
  }
  lines.push(make("text", { x: 2, y: height - 14 }, "10 min ago"));
  lines.push(make("text", { x: width - 2, y: height - 14, "text-anchor": "end" }, "now"));
  byId("grid").replaceChildren(...lines);
}

// RSRP and SINR over the last ten minutes, each on the scale of its bar.
function plot(now) {
  while (history.length > 0 && history[0].time < now - plotSeconds) history.shift();
  const { width, height, margin } = plotSize;
  const x = (time) => ((width * (time - now + plotSeconds)) / plotSeconds).toFixed(1);
  const y = (given, quality) => (height - margin - (height - 2 * margin) * share(given, quality.least, quality.most)).toFixed(1);
  for (const [name, line] of [["rsrp_dbm", "rsrp-line"], ["sinr_db", "sinr-line"]]) {
    const points = history.filter((entry) => known(entry[name])).map((entry) => x(entry.time) + "," + y(entry[name], qualities[name]));
    byId(line).setAttribute("points", points.join(" "));
  }
}

function notify(text) {
  const notice = byId("notice");
  notice.textContent = text;
  notice.hidden = text === "";
}

async function refresh() {
  const kept = " The values below are those of the last answer.";
  try {
    const response = await fetch(source, { cache: "no-store" });
    const answer = await response.json().catch(() => null);
    if (response.ok && answer && answer.status) {
      show(answer.status);
      const now = Date.now() / 1000;
      history.push({ time: now, rsrp_dbm: answer.status.rsrp_dbm, sinr_db: answer.status.sinr_db });
      plot(now);
      notify("");
    } else if (answer && answer.busy) {
      notify("The modem is busy: " + answer.busy + "." + kept);
    } else if (answer && answer.error) {
      notify("The modem did not answer: " + answer.error + "." + kept);
    } else {
      notify("The router answered " + response.status + "." + kept);
    }
  } catch (error) {
    notify("The router can't be reached." + kept);
  }
  setTimeout(refresh, every * 1000);
}

drawGrid();
refresh();
