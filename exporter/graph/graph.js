// The graph page: counters chosen by path, read from /graph/data once a
// second, drawn as lines over the last minutes. Each value is drawn times
// 10^DefaultScale, as the system monitor draws it; the DOM keeps what was
// read (data-values on each line) so that what is drawn can be checked.
"use strict";

const HISTORY_SECONDS = 300;
const COLOURS = ["#1f3fbf", "#d01c1c", "#128a12", "#c06a00", "#8a1fbf", "#008a8a", "#bf1f8a", "#6a6a00"];
const SVG = "http://www.w3.org/2000/svg";
const PLOT = { left: 60, top: 10, width: 820, height: 310 };

const asked = [];       // the paths the user chose, as typed or picked
const lines = new Map(); // full path -> { asked, scale, type, colour, times: [], values: [] }
let objects = [];
let refreshes = 0;

function element(name, attributes, parent) {
  const made = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) made.setAttribute(key, value);
  if (parent) parent.appendChild(made);
  return made;
}

function pathOf(object, instance, counter) {
  return "\\" + object.name + (object.instances ? "(" + instance + ")" : "") + "\\" + counter.name;
}

// The boxes are made again only when the names change, so that a box being
// clicked is not replaced under the pointer by a refresh.
function checkboxes(fieldset, names) {
  const boxes = [...fieldset.querySelectorAll("input")];
  if (boxes.map((box) => box.value).join("\n") === names.join("\n")) return;
  const kept = new Set(boxes.filter((box) => box.checked).map((box) => box.value));
  fieldset.querySelectorAll("label").forEach((label) => label.remove());
  for (const name of names) {
    const label = document.createElement("label");
    const box = document.createElement("input");
    box.type = "checkbox";
    box.value = name;
    box.checked = kept.has(name);
    label.append(box, " " + name);
    fieldset.appendChild(label);
  }
}

function chosenObject() {
  return objects.find((object) => object.name === document.getElementById("object").value);
}

function showPicker() {
  const object = chosenObject();
  const instances = document.getElementById("instances");
  instances.hidden = !object || !object.instances;
  checkboxes(instances, object && object.instances ? object.instances : []);
  checkboxes(document.getElementById("counters"), object ? object.counters.map((counter) => counter.name) : []);
}

function takeObjects(list) {
  const select = document.getElementById("object");
  const names = list.map((object) => object.name);
  const before = [...select.options].map((option) => option.value);
  objects = list;
  if (names.join("\n") !== before.join("\n")) {
    const chosen = select.value;
    select.replaceChildren(...names.map((name) => new Option(name, name)));
    if (names.includes(chosen)) select.value = chosen;
  }
  showPicker();
}

function addChosen() {
  const object = chosenObject();
  if (!object) return;
  const checked = (id) => [...document.querySelectorAll("#" + id + " input:checked")].map((box) => box.value);
  const instances = object.instances ? checked("instances") : [""];
  for (const counter of object.counters.filter((each) => checked("counters").includes(each.name))) {
    for (const instance of instances) {
      const path = pathOf(object, instance, counter);
      if (!asked.includes(path)) asked.push(path);
    }
  }
  remember();
  refresh();
}

// The chosen paths stay in the page's address, so that it can be kept.
function remember() {
  const query = asked.map((path) => "path=" + encodeURIComponent(path)).join("&");
  history.replaceState(null, "", "/graph" + (query ? "?" + query : ""));
}

function take(data, now) {
  takeObjects(data.objects);
  const problems = data.problems.map((each) => each.path + ": " + each.problem);
  if (data.failure) problems.unshift(data.failure);
  document.getElementById("status").textContent = problems.join("; ");
  const seen = new Set();
  for (const line of data.lines) {
    seen.add(line.path);
    if (!lines.has(line.path)) {
      lines.set(line.path, { colour: COLOURS[lines.size % COLOURS.length], times: [], values: [] });
    }
    const kept = lines.get(line.path);
    kept.asked = line.asked;
    kept.scale = line.scale;
    kept.type = line.type;
    kept.times.push(now);
    kept.values.push(typeof line.value === "number" ? line.value : null);
  }
  for (const [path, kept] of lines) {
    if (!seen.has(path)) {
      kept.times.push(now);
      kept.values.push(null);
    }
    while (kept.times.length && kept.times[0] < now - HISTORY_SECONDS * 1000) {
      kept.times.shift();
      kept.values.shift();
    }
  }
}

// The top of the vertical axis: the first of 1, 2, 5, 10, 20, 50, ... that
// holds every scaled value, so that the lines use the height of the graph.
function verticalScale(value) {
  let top = 1;
  for (let step = 0; top < value; ++step) top *= [2, 2.5, 2][step % 3];
  return top;
}

function draw(now) {
  const svg = document.getElementById("graph");
  svg.replaceChildren();
  let oldest = now, highest = 0;
  for (const kept of lines.values()) {
    if (kept.times.length) oldest = Math.min(oldest, kept.times[0]);
    for (const value of kept.values) if (value !== null) highest = Math.max(highest, value * 10 ** kept.scale);
  }
  const span = Math.max(10000, Math.min(HISTORY_SECONDS * 1000, now - oldest));
  const top = verticalScale(highest);
  const x = (time) => PLOT.left + PLOT.width * (1 - (now - time) / span);
  const y = (value) => PLOT.top + PLOT.height * (1 - value / top);
  for (let step = 0; step <= 5; ++step) {
    const value = (top * step) / 5;
    element("line", { class: "grid", x1: PLOT.left, x2: PLOT.left + PLOT.width, y1: y(value), y2: y(value) }, svg);
    element("text", { class: "axis", x: PLOT.left - 6, y: y(value) + 4, "text-anchor": "end" }, svg).textContent =
        String(+value.toPrecision(6));
    const time = now - (span * step) / 5;
    element("text", { class: "axis", x: x(time), y: PLOT.top + PLOT.height + 16, "text-anchor": "middle" },
            svg).textContent = step === 0 ? "now" : "-" + Math.round((span * step) / 5000) + " s";
  }
  const legend = document.querySelector("#legend tbody");
  legend.replaceChildren();
  for (const [path, kept] of lines) {
    const group = element("g", { class: "line", "data-path": path, "data-asked": kept.asked,
                                 "data-scale": kept.scale, "data-type": kept.type,
                                 "data-values": kept.values.map((value) => (value === null ? "" : value)).join(","),
                                 "data-times": kept.times.join(",") }, svg);
    let d = "";
    let open = false;
    kept.values.forEach((value, at) => {
      if (value === null) {
        open = false;
        return;
      }
      const scaled = Math.min(value * 10 ** kept.scale, top);
      d += (open ? " L " : " M ") + x(kept.times[at]).toFixed(1) + " " + y(scaled).toFixed(1);
      open = true;
    });
    const drawn = element("path", { d: d.trim() || "M 0 0", stroke: kept.colour }, group);
    element("title", {}, drawn).textContent = path;
    const row = legend.insertRow();
    row.insertCell().innerHTML = '<span class="swatch"></span>';
    row.cells[0].firstChild.style.background = kept.colour;
    row.insertCell().textContent = path;
    row.insertCell().textContent = kept.scale === 0 ? "1" : "10^" + kept.scale;
    const last = kept.values[kept.values.length - 1];
    row.insertCell().textContent = last === null || last === undefined ? "-" : String(last);
    const remove = document.createElement("button");
    remove.textContent = "Remove";
    remove.onclick = () => {
      const at = asked.indexOf(kept.asked);
      if (at >= 0) asked.splice(at, 1);
      for (const [each, other] of lines) if (other.asked === kept.asked) lines.delete(each);
      remember();
      draw(Date.now());
    };
    row.insertCell().appendChild(remove);
  }
  svg.dataset.refreshes = String(refreshes);
}

let pending = false;

async function refresh() {
  if (pending) return;
  pending = true;
  try {
    const query = asked.map((path) => "path=" + encodeURIComponent(path)).join("&");
    const answer = await fetch("/graph/data" + (query ? "?" + query : ""), { cache: "no-store" });
    if (!answer.ok) throw new Error(answer.status + " " + (await answer.text()));
    const now = Date.now();
    take(await answer.json(), now);
    ++refreshes;
    draw(now);
  } catch (error) {
    document.getElementById("status").textContent = "Reading /graph/data failed: " + error.message;
  } finally {
    pending = false;
  }
}

for (const path of new URLSearchParams(location.search).getAll("path")) asked.push(path);
document.getElementById("object").onchange = showPicker;
document.getElementById("add").onclick = addChosen;
refresh();
setInterval(refresh, 1000);
