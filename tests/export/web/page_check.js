// Loads an exported page the way a browser would, with a minimal DOM: runs the page's scripts
// in order (files/data.js, the emoji table when present, include/orrery.js, the inline start),
// opens the map from the cover or steps through every slide, and prints as JSON the data the
// page read, every text it put on screen and every file the page names that is missing.
//   node page_check.js <unpacked export folder>
"use strict";
const fs = require("fs");
const path = require("path");
const vm = require("vm");

const folder = process.argv[2];
const html = fs.readFileSync(path.join(folder, "index.html"), "utf8");

function makeNode(tag) {
  return {
    tagName: tag, children: [], attributes: {}, style: {}, className: "", hidden: false, listeners: {},
    parentNode: null, text: null,
    appendChild(child) { this.children.push(child); child.parentNode = this; return child; },
    removeChild(child) { this.children = this.children.filter((c) => c !== child); return child; },
    get firstChild() { return this.children[0] || null; },
    setAttribute(key, value) { this.attributes[key] = String(value); },
    addEventListener(type, f) { (this.listeners[type] = this.listeners[type] || []).push(f); },
    fire(type, event) { (this.listeners[type] || []).forEach((f) => f(event || {})); },
    set textContent(value) { this.children = [textNode(value)]; },
    get textContent() { return this.text !== null ? this.text : this.children.map((c) => c.textContent).join(""); },
  };
}
function textNode(text) { const n = makeNode("#text"); n.text = String(text); return n; }

const byId = {};
for (const m of html.matchAll(/<(\w+)([^>]*)>/g)) {
  const id = /\sid="([^"]+)"/.exec(m[2]);
  if (!id) continue;
  byId[id[1]] = makeNode(m[1]);
  byId[id[1]].hidden = /\shidden(\s|$)/.test(m[2]);
}
const document = makeNode("document");
document.createElement = makeNode;
document.createTextNode = textNode;
document.getElementById = (id) => byId[id] || null;

const context = vm.createContext({ document, console });
const scripts = [...html.matchAll(/<script src="([^"]+)"><\/script>/g)].map((m) => m[1]);
const missing = [];
// Every file the page itself names (styles, pictures) is in the export.
for (const m of html.matchAll(/<(?:link|img)[^>]*\s(?:href|src)="([^"]+)"/g))
  if (!fs.existsSync(path.join(folder, m[1]))) missing.push(m[1]);
for (const src of scripts) {
  const file = path.join(folder, src);
  if (!fs.existsSync(file)) { missing.push(src); continue; }
  vm.runInContext(fs.readFileSync(file, "utf8"), context, { filename: src });
}
for (const m of html.matchAll(/<script>([\s\S]*?)<\/script>/g)) vm.runInContext(m[1], context);

const data = vm.runInContext("globalOrreryData", context);
const seen = new Set();
function collect(node) {
  if (node.text !== null && node.text.trim() !== "") seen.add(node.text);
  node.children.forEach(collect);
}
if (data.mode === "embedded") {
  collect(byId["cover"]);
  byId["open-map"].fire("click");
}
if (data.mode === "presentation") {
  const stage = byId["presentation"];
  const next = stage.children.find((c) => c.className === "next");
  const slides = vm.runInContext("Orrery.flatten(globalOrreryData.rootIdea).length", context);
  for (let i = 0; i < slides; i++) { collect(stage); next.fire("click"); }
} else {
  collect(byId["map"]);
}
process.stdout.write(JSON.stringify({ data, texts: [...seen], missingScripts: missing,
  shown: Object.keys(byId).filter((id) => !byId[id].hidden) }));
