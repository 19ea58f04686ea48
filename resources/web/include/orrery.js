// The exported map's page: reads globalOrreryData (files/data.js) and shows it as a folding
// outline of idea bubbles, after a cover page ("embedded"), at once ("fullpage"), or idea by
// idea with the arrow keys ("presentation"). Plain DOM calls only; no network.
var Orrery = (function () {
  "use strict";

  function element(doc, tag, className, text) {
    var node = doc.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined && text !== null) node.appendChild(doc.createTextNode(String(text)));
    return node;
  }

  // The idea that answers for a link is the link itself: the record carries its target's content.
  function titleOf(idea) {
    if (idea.text) return idea.text;
    if (idea.url) return idea.url;
    return "";
  }

  function emojiPicture(doc, idea) {
    var table = (typeof orreryEmoji !== "undefined") ? orreryEmoji : null;
    if (!idea.icon) return null;
    if (table && table[idea.icon]) {
      var img = element(doc, "img", "icon");
      img.setAttribute("src", "include/twemoji/" + table[idea.icon] + ".png");
      img.setAttribute("alt", idea.icon);
      return img;
    }
    return null;
  }

  // The theme colours the program marks bright, as data.js writes them. A caption on an idea's
  // colour is white, as on the program's discs; where the viewer asks for more contrast, a
  // bright colour gets dark grey instead (orrery.css), as the discs do under high contrast.
  var brightColors = {
    "#1FE2BF": 1, "#8FD6C4": 1, "#97BFB3": 1, "#52D6EA": 1, "#7DC8DB": 1, "#88B7CC": 1, "#E57A62": 1,
    "#C7C4D3": 1, "#CDCCD1": 1, "#FCD29F": 1, "#EDE515": 1, "#3AFC60": 1, "#29E587": 1, "#38FFE1": 1,
    "#3DC9E5": 1, "#82F4FF": 1, "#0FCFFF": 1, "#F9E084": 1
  };

  function bubble(doc, idea) {
    var box = element(doc, "span", "idea");
    if (idea.bgcolor) {
      box.style.background = idea.bgcolor;
      box.className += brightColors[String(idea.bgcolor).toUpperCase()] ? " colored bright" : " colored";
    }
    var icon = emojiPicture(doc, idea);
    if (icon) box.appendChild(icon);
    if (idea.image) {
      var picture = element(doc, "img", "picture");
      picture.setAttribute("src", "files/" + (idea.bigImage || idea.image));
      picture.setAttribute("alt", "");
      box.appendChild(picture);
    }
    var title = titleOf(idea);
    if (idea.url) {
      var link = element(doc, "a", "link", title);
      link.setAttribute("href", idea.url);
      link.setAttribute("target", "_blank");
      link.setAttribute("rel", "noopener");
      box.appendChild(link);
    } else if (title) {
      box.appendChild(element(doc, "span", "title", title));
    }
    return box;
  }

  function outline(doc, idea) {
    var item = element(doc, "li");
    var box = bubble(doc, idea);
    item.appendChild(box);
    if (idea.note) item.appendChild(element(doc, "div", "note", idea.note));
    var children = idea.ideas || [];
    if (children.length === 0) {
      box.className += " leaf";
      return item;
    }
    var list = element(doc, "ul");
    for (var i = 0; i < children.length; i++) list.appendChild(outline(doc, children[i]));
    item.appendChild(list);
    box.addEventListener("click", function () {
      item.className = item.className === "folded" ? "" : "folded";
    });
    return item;
  }

  function showMap(doc, data) {
    var map = doc.getElementById("map");
    var list = element(doc, "ul");
    list.appendChild(outline(doc, data.rootIdea));
    map.appendChild(list);
    map.hidden = false;
  }

  // Pre-order with each idea's path of titles from the root.
  function flatten(root) {
    var slides = [];
    var stack = [{ idea: root, path: [] }];
    while (stack.length > 0) {
      var top = stack.pop();
      slides.push(top);
      var children = top.idea.ideas || [];
      for (var i = children.length - 1; i >= 0; i--)
        stack.push({ idea: children[i], path: top.path.concat([titleOf(top.idea)]) });
    }
    return slides;
  }

  function showPresentation(doc, data) {
    var stage = doc.getElementById("presentation");
    var slides = flatten(data.rootIdea);
    var current = 0;
    var slide = element(doc, "div", "slide");
    var counter = element(doc, "div", "counter");
    var back = element(doc, "button", "back", "Back");
    var next = element(doc, "button", "next", "Next");
    stage.appendChild(slide);
    stage.appendChild(counter);
    stage.appendChild(back);
    stage.appendChild(next);

    function show(index) {
      current = Math.max(0, Math.min(slides.length - 1, index));
      while (slide.firstChild) slide.removeChild(slide.firstChild);
      var entry = slides[current];
      slide.appendChild(element(doc, "div", "path", entry.path.join(" \u203A ")));
      slide.appendChild(bubble(doc, entry.idea));
      if (entry.idea.note) slide.appendChild(element(doc, "div", "note", entry.idea.note));
      counter.textContent = (current + 1) + " / " + slides.length;
    }
    back.addEventListener("click", function () { show(current - 1); });
    next.addEventListener("click", function () { show(current + 1); });
    doc.addEventListener("keydown", function (event) {
      if (event.key === "ArrowRight" || event.key === " ") show(current + 1);
      if (event.key === "ArrowLeft") show(current - 1);
    });
    show(0);
    stage.hidden = false;
  }

  function start(doc, data) {
    if (!data || !data.rootIdea) return;
    if (data.mode === "presentation") {
      showPresentation(doc, data);
    } else if (data.mode === "embedded") {
      var cover = doc.getElementById("cover");
      cover.hidden = false;
      doc.getElementById("open-map").addEventListener("click", function () {
        cover.hidden = true;
        showMap(doc, data);
      });
    } else {
      showMap(doc, data);
    }
  }

  return { start: start, flatten: flatten, titleOf: titleOf };
})();

if (typeof module !== "undefined") module.exports = Orrery;
