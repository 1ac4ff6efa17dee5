// Plant view: one event stream from the gateway keeps the page current; the
// page never polls. Text from the network only ever goes into textContent.
"use strict";

const HISTORY_MS = 5 * 60 * 1000;  // what the plots show
const state = { units: new Map(), history: new Map(), canWrite: false, gateway: {} };

function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (key === "class") node.className = value;
    else if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

function svgEl(tag, attrs = {}) {
  const node = document.createElementNS("http://www.w3.org/2000/svg", tag);
  for (const [key, value] of Object.entries(attrs)) node.setAttribute(key, value);
  return node;
}

const clock = (ts) => (ts ? new Date(ts).toLocaleTimeString() : "");
const fmt = (v) => (typeof v === "number" ? (Number.isInteger(v) ? String(v) : v.toFixed(3)) : String(v ?? "–"));
const key = (unit, kind, ch) => `${unit}/${kind}/${ch}`;
const safeId = (text) => "u-" + Array.from(text, (c) => c.charCodeAt(0).toString(16)).join("");

function remember(unit, kind, ch, value, ts) {
  if (kind !== "ai" && kind !== "ao") return;
  const k = key(unit, kind, ch);
  const list = state.history.get(k) || [];
  list.push({ t: ts ? Date.parse(ts) || Date.now() : Date.now(), v: Number(value) });
  const oldest = Date.now() - HISTORY_MS;
  while (list.length && list[0].t < oldest) list.shift();
  state.history.set(k, list);
}

// ---- the units table -------------------------------------------------------

function renderTable() {
  const body = document.querySelector("#units tbody");
  body.replaceChildren();
  for (const unit of state.units.values()) {
    const online = !!unit.online;
    const since = unit.since ? ` since ${clock(unit.since)}` : "";
    const row = el("tr", { class: online ? "online" : "offline", "data-unit": unit.name },
      el("th", { scope: "row" }, el("a", { href: "#" + safeId(unit.name) }, unit.name)),
      el("td", { class: online ? "state-online" : "state-offline" }, (online ? "online" : "offline") + since),
      el("td", {}, fmt(unit.model)), el("td", {}, fmt(unit.id)), el("td", {}, unit.ip || "–"),
      el("td", {}, unit.mac || "–"), el("td", {}, unit.firm_type || "–"),
      el("td", {}, unit.poll_ms != null ? `${fmt(unit.poll_ms)} ms` : "–"));
    body.append(row);
  }
}

// ---- one unit's panel ------------------------------------------------------

function lamp(unit, kind, channel) {
  const on = Number(channel.value) !== 0;
  const item = el("li", { class: "lamp" + (on ? " on" : ""), "data-key": key(unit.name, kind, channel.ch) },
    el("span", { class: "dot", "aria-hidden": "true" }),
    el("span", {}, `${kind.toUpperCase()} ${channel.ch}`),
    el("span", { class: "word" }, on ? "ON" : "OFF"));
  item.setAttribute("aria-label", `${kind} ${channel.ch} ${on ? "on" : "off"}`);
  if (kind === "do" && channel.writable && state.canWrite) {
    const result = el("span", { class: "result", role: "status" });
    const button = el("button", {
      type: "button", "data-write": key(unit.name, kind, channel.ch),
      onclick: () => write(unit.name, kind, channel.ch, on ? 0 : 1, result),
    }, on ? "Switch off" : "Switch on");
    item.append(button, result);
  }
  return item;
}

function plot(unit, kind, channel) {
  const svg = svgEl("svg", { class: "plot", viewBox: "0 0 300 90", preserveAspectRatio: "none", role: "img" });
  svg.setAttribute("aria-label", `${kind} ${channel.ch} over the last minutes`);
  const points = state.history.get(key(unit.name, kind, channel.ch)) || [];
  if (!points.length) return svg;
  const band = Number(channel.deadband) || 0;
  const last = points[points.length - 1].v;
  let lo = Math.min(...points.map((p) => p.v), last - band);
  let hi = Math.max(...points.map((p) => p.v), last + band);
  if (hi - lo < 1e-9) { lo -= 1; hi += 1; }
  const now = Date.now();
  // The time axis grows with the history, from half a minute up to its whole length.
  const span = Math.min(HISTORY_MS, Math.max(30000, now - points[0].t));
  const x = (t) => (300 * (t - (now - span))) / span;
  const y = (v) => 85 - (80 * (v - lo)) / (hi - lo);
  if (band > 0) {
    // Changes inside this band around the last reported value are not published.
    svg.append(svgEl("rect", { class: "band", x: 0, width: 300, y: y(last + band), height: Math.max(1, y(last - band) - y(last + band)) }));
  }
  const path = points.map((p) => `${x(p.t).toFixed(1)},${y(p.v).toFixed(1)}`);
  path.push(`300,${y(last).toFixed(1)}`);
  svg.append(svgEl("polyline", { class: "trace", points: path.join(" ") }));
  return svg;
}

function analog(unit, kind, channel) {
  const box = el("div", { class: "channel", "data-key": key(unit.name, kind, channel.ch) },
    el("div", {}, `${kind.toUpperCase()} ${channel.ch}`),
    el("div", { class: "value" }, `${fmt(channel.value)} ${channel.unit || ""}`),
    plot(unit, kind, channel));
  if (kind === "ao" && channel.writable && state.canWrite) {
    const id = safeId(key(unit.name, kind, channel.ch));
    const input = el("input", { id, type: "number", step: "any", inputmode: "decimal" });
    if (channel.min != null) input.setAttribute("min", channel.min);
    if (channel.max != null) input.setAttribute("max", channel.max);
    const result = el("span", { class: "result", role: "status" });
    const form = el("form", {
      onsubmit: (event) => {
        event.preventDefault();
        if (input.value === "") return;
        write(unit.name, kind, channel.ch, Number(input.value), result, channel.unit);
      },
    }, el("label", { for: id }, `Set (${channel.unit || "counts"}) `), input, " ",
       el("button", { type: "submit", "data-write": key(unit.name, kind, channel.ch) }, "Set"), result);
    box.append(form);
  }
  return box;
}

function renderUnit(unit) {
  const id = safeId(unit.name);
  const old = document.getElementById(id);
  // Never pull a field out from under someone typing into it.
  if (old && document.activeElement?.tagName === "INPUT" && old.contains(document.activeElement)) {
    setTimeout(() => schedule(unit.name, false), 1000);
    return;
  }
  const section = el("section", { class: "unit" + (unit.online ? "" : " offline"), id, "aria-labelledby": id + "-h" },
    el("h2", { id: id + "-h" }, `${unit.name} — ${unit.online ? "online" : "offline"}`));
  const lamps = (kind, title) => {
    if (!unit[kind] || !unit[kind].length) return;
    section.append(el("h3", {}, title), el("ul", { class: "lamps" }, ...unit[kind].map((c) => lamp(unit, kind, c))));
  };
  lamps("di", "Digital inputs");
  lamps("do", "Digital outputs");
  if (unit.counter && unit.counter.length) {
    section.append(el("h3", {}, "Counters"), el("div", { class: "counters" },
      ...unit.counter.map((c) => el("div", { "data-key": key(unit.name, "counter", c.ch) }, `Counter ${c.ch}: `,
        el("strong", {}, fmt(c.value))))));
  }
  for (const [kind, title] of [["ai", "Analog inputs"], ["ao", "Analog outputs"]]) {
    if (!unit[kind] || !unit[kind].length) continue;
    section.append(el("h3", {}, title), el("div", { class: "analog" }, ...unit[kind].map((c) => analog(unit, kind, c))));
  }
  if (old) old.replaceWith(section);
  else document.getElementById("details").append(section);
}

function renderAll() {
  renderTable();
  document.getElementById("details").replaceChildren();
  for (const unit of state.units.values()) renderUnit(unit);
}

// Re-rendering is batched to one frame however many changes arrive.
const dirty = new Set();
let tableDirty = false;
function schedule(unitName, table) {
  dirty.add(unitName);
  tableDirty ||= table;
  if (dirty.size === 1) {
    requestAnimationFrame(() => {
      for (const name of dirty) if (state.units.has(name)) renderUnit(state.units.get(name));
      if (tableDirty) renderTable();
      dirty.clear();
      tableDirty = false;
    });
  }
}

// ---- data from the gateway -------------------------------------------------

function applySnapshot(snapshot) {
  state.gateway = snapshot.gateway || {};
  document.getElementById("where").textContent =
    state.gateway.site ? `— ${state.gateway.site}/${state.gateway.name}` : "";
  state.units = new Map((snapshot.units || []).map((u) => [u.name, u]));
  for (const unit of state.units.values())
    for (const kind of ["ai", "ao"]) for (const c of unit[kind] || []) remember(unit.name, kind, c.ch, c.value, c.ts);
  renderAll();
}

function applyChange(change) {
  if (change.type === "unit" && change.unit) {
    const old = state.units.get(change.unit.name) || {};
    state.units.set(change.unit.name, { ...old, ...change.unit });
    schedule(change.unit.name, true);
  } else if (change.type === "value") {
    const unit = state.units.get(change.unit);
    if (!unit) return;
    const list = unit[change.kind] || (unit[change.kind] = []);
    let channel = list.find((c) => c.ch === change.ch);
    if (!channel) list.push((channel = { ch: change.ch }));
    Object.assign(channel, { value: change.value, ts: change.ts });
    if (change.raw != null) channel.raw = change.raw;
    remember(unit.name, change.kind, change.ch, change.value, change.ts);
    schedule(unit.name, false);
  }
}

async function write(unit, kind, ch, value, result, unitOfMeasure) {
  const shown = kind === "do" ? (value ? "ON" : "OFF") : `${value} ${unitOfMeasure || ""}`;
  if (!confirm(`Set ${unit} ${kind} ${ch} to ${shown}?`)) return;
  result.className = "result";
  result.textContent = "sending…";
  const body = { value };
  if (kind === "ao" && unitOfMeasure) body.unit = unitOfMeasure;
  try {
    const reply = await fetch(`api/units/${encodeURIComponent(unit)}/${kind}/${ch}`, {
      method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
      credentials: "same-origin",
    });
    const answer = await reply.json().catch(() => ({}));
    if (reply.ok && answer.ok) {
      result.textContent = `done: now ${fmt(answer.value ?? value)}`;
    } else {
      result.className = "result bad";
      result.textContent = `refused: ${answer.message || reply.statusText}` + (answer.code ? ` (code ${answer.code})` : "");
    }
  } catch (error) {
    result.className = "result bad";
    result.textContent = `failed: ${error.message}`;
  }
  // A write result outlives the re-render that its own change causes.
  const keep = result.textContent, cls = result.className, k = key(unit, kind, ch);
  requestAnimationFrame(() => {
    const box = document.querySelector(`[data-key="${CSS.escape(k)}"] .result`);
    if (box) { box.textContent = keep; box.className = cls; }
  });
}

let stream = null;
function connect() {
  if (stream) stream.close();
  stream = new EventSource("api/events");
  const link = document.getElementById("link");
  stream.addEventListener("open", () => { link.textContent = "live"; link.className = "link up"; });
  stream.addEventListener("error", () => { link.textContent = "reconnecting…"; link.className = "link down"; });
  stream.addEventListener("snapshot", (event) => applySnapshot(JSON.parse(event.data)));
  stream.addEventListener("change", (event) => applyChange(JSON.parse(event.data)));
}

async function start() {
  const session = await fetch("api/session", { credentials: "same-origin" }).then((r) => r.json());
  state.canWrite = !!session.write;
  const form = document.getElementById("login");
  form.hidden = !(session.login && !session.write);
  form.onsubmit = async (event) => {
    event.preventDefault();
    const reply = await fetch("api/login", {
      method: "POST", headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ token: document.getElementById("token").value }), credentials: "same-origin",
    });
    document.getElementById("login-result").textContent = reply.ok ? "logged in" : "wrong token";
    if (reply.ok) start();
  };
  if (session.read) connect();
  else document.getElementById("link").textContent = "log in to see the units";
}

// Plots move with time even when values do not.
setInterval(() => { for (const name of state.units.keys()) schedule(name, false); }, 5000);
start();
