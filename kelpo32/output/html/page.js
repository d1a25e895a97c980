// The page's behaviour: reads the directories from the data element, lays
// out the treemap with d3-hierarchy, fills the header and the table, and
// zooms by mouse and keyboard. Names are only ever set as text.
(function () {
  "use strict";

  const data = JSON.parse(document.getElementById("kelpo-data").textContent);

  // A byte that is not UTF-8 arrives as a lone surrogate: shown as U+FFFD.
  const surrogate = /[\ud800-\udfff]/;
  const lone = /[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/g;
  const shown = (s) => (surrogate.test(s) ? s.replace(lone, "\ufffd") : s);
  // Numbers beyond 2^53 arrive as strings of digits, exact.
  const value = (v) => (typeof v === "string" ? Number(v) : v);
  const grouped = (v) => String(v).replace(/\B(?=(\d{3})+(?!\d))/g, ",");

  // Powers of 1024 rounded up, one decimal below 10: 1023, 1.0K, 1.1K, 340M.
  function human(v) {
    let n = value(v);
    if (n < 1024) return String(n);
    const units = "KMGTPE";
    let u = -1;
    while (n >= 1024 && u < units.length - 1) {
      n /= 1024;
      u++;
    }
    let r = n < 10 ? Math.ceil(n * 10) / 10 : Math.ceil(n);
    if (r >= 1024 && u < units.length - 1) {
      r = 1;
      u++;
    }
    return (r < 10 ? r.toFixed(1) : String(r)) + units[u];
  }
  const bytesText = (v) =>
    value(v) < 1024 ? grouped(v) + " bytes" : human(v) + " (" + grouped(v) + " bytes)";
  const percent = (part, whole) => (whole > 0 ? ((100 * part) / whole).toFixed(1) : "0.0") + "%";
  const plural = (n, one, many) => grouped(n) + " " + (value(n) === 1 ? one : many);

  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  const sep = data.sep;
  const join = (a, b) => (a.endsWith(sep) ? a + b : a + sep + b);
  // The directories, in walk order: each parent before its children.
  class Dir {
    constructor(r, id) {
      this.id = id;
      this.parent = r[0] >= 0 && r[0] < id ? r[0] : -1;
      this.name = shown(r[1]);
      this.files = value(r[2]);
      this.bytes = value(r[3]);
      this.tfiles = value(r[4]);
      this.tbytes = value(r[5]);
      this.exact = { files: r[2], bytes: r[3], tfiles: r[4], tbytes: r[5] };
      this.folded = value(r[6]);
      this.problem = r.length > 7 ? shown(r[7]) : "";
      // Compared with an older scan: the change of its bytes, "new" or "gone".
      this.change = r.length > 8 ? value(r[8]) : 0;
      this.exactChange = r.length > 8 ? r[8] : 0;
      this.state = r.length > 9 ? r[9] : "";
      // Over a history: its rate in bytes per day (null: not known) and the
      // chart of its sizes in the window's scans.
      this.rate = r.length > 10 ? r[10] : null;
      this.chart = r.length > 11 ? shown(r[11]) : "";
      this.kids = [];
      this.depth = 0;
      this.known = undefined;
    }
    // Made when first asked for, without recursion: a chain may be deep.
    get path() {
      if (this.known !== undefined) return this.known;
      const chain = [];
      let n = this;
      for (; n.known === undefined && n.parent >= 0; n = nodes[n.parent]) chain.push(n);
      if (n.known === undefined) n.known = n.name;
      for (let i = chain.length - 1; i >= 0; i--)
        chain[i].known = join(nodes[chain[i].parent].known, chain[i].name);
      return this.known;
    }
  }
  const nodes = data.d.map((r, id) => new Dir(r, id));
  for (const n of nodes) {
    if (n.parent < 0) continue;
    const p = nodes[n.parent];
    p.kids.push(n);
    n.depth = p.depth + 1;
  }
  const byName = (a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : a.id - b.id);
  const bySize = (a, b) => b.tbytes - a.tbytes || byName(a, b);
  // A comparison's table: the largest change first, growth or shrink.
  const byChange = (a, b) => Math.abs(b.change) - Math.abs(a.change) || byName(a, b);
  const compare = data.compare === true;
  const growth = data.growth === true;
  // A growth's table: the fastest first, a rate not known last.
  const byRate = (a, b) => (b.rate ?? -Infinity) - (a.rate ?? -Infinity) || byName(a, b);
  for (const n of nodes) {
    n.kids.sort(growth ? byRate : compare ? byChange : bySize);
    // What the totals hold beyond the directories shown: the files directly
    // in it, and the directories folded into it.
    let kb = 0;
    let kf = 0;
    for (const k of n.kids) {
      kb += k.tbytes;
      kf += k.tfiles;
    }
    n.foldBytes = Math.max(0, n.tbytes - n.bytes - kb);
    n.foldFiles = Math.max(0, n.tfiles - n.files - kf);
    n.filesLeaf = { leaf: "files", owner: n, size: n.bytes };
    n.foldLeaf = { leaf: "folded", owner: n, size: n.foldBytes };
    // Compared: the subtree's bytes in the older scan, and the change of the
    // files directly in it (its subtree's less its subdirectories'; unknown
    // where some are folded into it).
    n.old = n.tbytes - n.change;
    let kc = 0;
    let ko = 0;
    for (const k of n.kids) {
      kc += k.change;
      ko += k.tbytes - k.change;
    }
    n.ownChange = compare && n.folded === 0 ? n.change - kc : 0;
    // A gone directory is drawn as it was: its own files' older bytes.
    n.oldFilesLeaf = { leaf: "files", owner: n, size: Math.max(0, n.old - ko), change: n.ownChange };
    n.filesLeaf.change = n.ownChange;
  }
  const top = nodes[0];
  // The largest change of any directory below the start, which the
  // strongest colour stands for.
  // Over a history the colour is the rate, a directory's files taking their
  // directory's.
  const paint = (n) => (growth ? value((n.owner || n).rate ?? 0) : n.change);
  let maxChange = 0;
  for (const n of nodes) if (n !== top) maxChange = Math.max(maxChange, Math.abs(paint(n)));
  const signed = (v) => (value(v) > 0 ? "+" : value(v) < 0 ? "-" : "") + grouped(String(v).replace("-", ""));
  const rateText = (n) => (n.rate === null ? "no rate yet" : signed(n.rate) + " bytes a day");
  const changeText = (n) =>
    growth
      ? (n.state ? n.state + ", " : "") + rateText(n) + ", " + signed(n.exactChange) +
        " bytes over the window" + (n.chart ? " " + n.chart : "")
      : (n.state ? n.state + ", " : "") + signed(n.exactChange) + " bytes since the older scan";

  // The header.
  document.title = "Kelpo32: " + top.path;
  document.getElementById("title").textContent = "Kelpo32: " + top.path;
  const facts = document.getElementById("facts");
  function fact(term, text) {
    facts.append(el("dt", "", term), el("dd", "", text));
  }
  fact("Start directory", top.path);
  const when = new Date(data.time);
  fact("Scanned", isNaN(when) ? data.time : when.toLocaleString() + " (" + data.time + ")");
  fact(
    "Totals",
    plural(data.dirs, "directory", "directories") +
      " below it, " +
      plural(top.exact.tfiles, "file", "files") +
      ", " +
      bytesText(top.exact.tbytes)
  );
  if (growth) fact("Growth", shown(data.forecast) + "; red grows, green shrinks");
  else if (compare) fact("Compared with", "a scan of " + shown(data.oldStart) + "; red grew, green shrank");
  fact("Options", data.options.length ? data.options.map(shown).join(" ") : "none");
  const all = value(data.dirs) + 1;
  let note =
    nodes.length >= all
      ? "all " + plural(all, "directory", "directories")
      : grouped(nodes.length) + " of " + plural(all, "directory", "directories");
  if (data.foldedSmall > 0)
    note +=
      "; " +
      plural(data.foldedSmall, "smaller directory is", "smaller directories are") +
      " folded into their parents (the page shows the " +
      grouped(data.cap) +
      " largest)";
  if (data.foldedDeep > 0)
    note +=
      "; " +
      plural(data.foldedDeep, "directory", "directories") +
      " below level " +
      data.depthLimit +
      " folded into their parents";
  fact("Shown", note);
  if (data.unread > 0) {
    const box = document.getElementById("unread");
    box.hidden = false;
    box.append(
      el("strong", "", plural(data.unread, "directory", "directories") + " could not be read:")
    );
    const list = el("ul");
    for (const [path, reason] of data.unreadNamed)
      list.append(el("li", "", shown(path) + ": " + shown(reason)));
    if (data.unread > data.unreadNamed.length)
      list.append(el("li", "", "... and " + grouped(data.unread - data.unreadNamed.length) + " more"));
    box.append(list);
  }

  // The treemap: the directory shown fills it; each directory a rectangle in
  // its parent's, the files directly in it one more.
  const map = document.getElementById("map");
  const info = document.getElementById("info");
  const crumbs = document.getElementById("crumbs");
  const minSide = 3;
  let view = top;
  let drawnSize = "";

  function describe(n) {
    let t =
      n.path +
      ": " +
      bytesText(n.exact.tbytes) +
      ", " +
      plural(n.exact.tfiles, "file", "files") +
      ", " +
      percent(n.tbytes, top.tbytes) +
      " of the whole";
    if (n.problem) t += "; not read: " + n.problem;
    if (compare) t += "; " + changeText(n);
    return t;
  }
  function describeLeaf(leaf) {
    const o = leaf.owner;
    if (leaf.leaf === "small")
      return (
        plural(leaf.count, "directory", "directories") +
        " in " +
        o.path +
        " too small to draw here: " +
        bytesText(leaf.size) +
        ", " +
        percent(leaf.size, top.tbytes) +
        " of the whole"
      );
    if (leaf.leaf === "files")
      return (
        plural(o.exact.files, "file", "files") +
        " directly in " +
        o.path +
        ": " +
        bytesText(o.exact.bytes) +
        ", " +
        percent(o.bytes, top.tbytes) +
        " of the whole"
      );
    return (
      plural(o.folded, "smaller directory", "smaller directories") +
      " in " +
      o.path +
      ", not shown one by one: " +
      bytesText(o.foldBytes) +
      ", " +
      plural(o.foldFiles, "file", "files") +
      ", " +
      percent(o.foldBytes, top.tbytes) +
      " of the whole"
    );
  }

  // Subdirectories too small to be drawn (below `tiny` bytes, an area of
  // minSide squared) are one leaf of their parent's, and are not laid out.
  let tiny = 0;
  // Inside a gone directory the treemap shows the older scan's bytes.
  let past = false;
  const sizeOf = (n) => (past ? n.old : n.tbytes);
  function childrenOf(d) {
    if (d.leaf) return null;
    const list = [];
    let small = 0;
    let count = 0;
    for (const k of d.kids)
      if (sizeOf(k) >= tiny) {
        list.push(k);
      } else if (sizeOf(k) > 0) {
        small += sizeOf(k);
        count++;
      }
    if (past) {
      if (d.oldFilesLeaf.size > 0) list.push(d.oldFilesLeaf);
    } else {
      if (d.bytes > 0) list.push(d.filesLeaf);
      if (d.foldBytes > 0) list.push(d.foldLeaf);
    }
    d.smallLeaf = { leaf: "small", owner: d, size: small, count: count };
    if (small > 0) list.push(d.smallLeaf);
    return list;
  }

  // By growth: red for more bytes, green for fewer, the stronger the larger
  // the change; grey for none.
  function changeColour(n) {
    if (past) return "hsl(0 0% 80%)";
    const v = paint(n);
    if (!v || maxChange === 0) return "hsl(0 0% 88%)";
    const strength = Math.min(1, Math.sqrt(Math.abs(v) / maxChange));
    const hue = v > 0 ? 0 : 130;
    return "hsl(" + hue + " " + Math.round(35 + 45 * strength) + "% " + Math.round(88 - 38 * strength) + "%)";
  }

  function colour(hue, depth, leaf) {
    if (hue < 0) return leaf ? "hsl(0 0% 82%)" : "hsl(0 0% 90%)";
    const light = Math.min(93, 58 + 6 * depth);
    return "hsl(" + hue.toFixed(0) + " " + Math.max(25, 62 - 5 * depth) + "% " + light + "%)";
  }

  // The size beside the name where the rectangle has room for both (about
  // 7 pixels a character); drawn by the style, so the text stays the name.
  function label(cell, width, size) {
    if ((cell.textContent.length + size.length + 1) * 7 + 8 <= width) cell.dataset.size = size;
  }

  function drawMap() {
    const w = map.clientWidth;
    const h = map.clientHeight;
    drawnSize = w + "x" + h;
    if (w * h === 0) return;
    past = compare && view.state === "gone";
    tiny = (minSide * minSide * sizeOf(view)) / (w * h);
    const root = d3
      .hierarchy(view, childrenOf)
      .sum((d) => (d.leaf ? d.size : 0))
      .sort((a, b) => b.value - a.value);
    d3
      .treemap()
      .tile(d3.treemapSquarify)
      .size([w, h])
      .round(true)
      .paddingOuter(2)
      .paddingInner(1)
      .paddingTop((n) => (n.y1 - n.y0 > 40 && n.x1 - n.x0 > 30 ? 16 : 2))(root);
    const frag = document.createDocumentFragment();
    const stack = [[root, -1]];
    let rank = 0;
    while (stack.length) {
      const [node, parentHue] = stack.pop();
      const cw = node.x1 - node.x0;
      const ch = node.y1 - node.y0;
      if (cw < minSide || ch < minSide) continue;
      const d = node.data;
      // Each subtree at the first level below the directory shown has a hue.
      let hue = parentHue;
      if (node.depth === 1 && !d.leaf) hue = (rank++ * 137.508 + 210) % 360;
      const cell = el("div", "cell");
      cell.style.cssText =
        "left:" + node.x0 + "px;top:" + node.y0 + "px;width:" + cw + "px;height:" + ch +
        "px;background:" +
        (compare
          ? d.leaf === "files" && !past
            ? d.change
              ? changeColour(d)
              : "hsl(0 0% 94%)"
            : d.leaf
              ? "hsl(0 0% " + (past ? 88 : 94) + "%)"
              : changeColour(d)
          : colour(hue, node.depth, !!d.leaf));
      if (past) cell.classList.add("past");
      if (d.leaf) {
        cell.classList.add(d.leaf);
        cell.dataset.owner = d.owner.id;
        if (d.leaf === "files") {
          cell.dataset.bytes = d.owner.exact.bytes;
          cell.dataset.files = d.owner.exact.files;
        } else if (d.leaf === "small") {
          cell.classList.add("folded");
          cell.dataset.bytes = d.size;
          cell.dataset.dirs = d.count;
        } else {
          cell.dataset.bytes = d.owner.foldBytes;
          cell.dataset.files = d.owner.foldFiles;
          cell.dataset.dirs = d.owner.folded;
        }
        cell.setAttribute("aria-label", describeLeaf(d));
        if (cw > 40 && ch > 14) {
          cell.textContent =
            d.leaf === "files" ? "files" : grouped(d.leaf === "small" ? d.count : d.owner.folded) + " more";
          label(cell, cw, human(d.size));
        }
      } else {
        cell.classList.add("dir");
        cell.dataset.id = d.id;
        cell.dataset.path = d.path;
        cell.dataset.bytes = d.exact.tbytes;
        cell.dataset.files = d.exact.tfiles;
        if (compare) {
          cell.dataset.change = d.exactChange;
          if (d.state) cell.classList.add(d.state);
        }
        cell.tabIndex = 0;
        cell.setAttribute("aria-label", describe(d));
        if (cw > 30 && ch > 14) {
          cell.textContent = node.depth === 0 ? d.path : d.name;
          label(cell, cw, human(sizeOf(d)));
        }
      }
      frag.append(cell);
      if (node.children)
        for (let i = node.children.length - 1; i >= 0; i--) stack.push([node.children[i], hue]);
    }
    map.replaceChildren(frag);
  }

  function drawCrumbs() {
    const chain = [];
    for (let n = view; n; n = n.parent >= 0 ? nodes[n.parent] : null) chain.unshift(n);
    const parts = [];
    chain.forEach((n, i) => {
      if (i > 0) parts.push(el("span", "sep", sep));
      const label = i === 0 ? n.path : n.name;
      if (n === view) {
        const here = el("span", "", label);
        here.setAttribute("aria-current", "location");
        parts.push(here);
      } else {
        const b = el("button", "", label);
        b.type = "button";
        b.dataset.id = n.id;
        parts.push(b);
      }
    });
    crumbs.replaceChildren(...parts);
  }

  function zoom(n, focus) {
    if (!n) return;
    view = n;
    drawMap();
    drawCrumbs();
    info.textContent = describe(n);
    reveal(n);
    if (focus) {
      const cell = map.querySelector('[data-id="' + n.id + '"]');
      if (cell) cell.focus();
    }
  }
  const up = () => (view.parent >= 0 ? zoom(nodes[view.parent], true) : undefined);

  function cellNode(target) {
    const cell = target.closest && target.closest(".cell");
    if (!cell) return null;
    if (cell.dataset.id !== undefined) return { node: nodes[+cell.dataset.id] };
    const owner = nodes[+cell.dataset.owner];
    const kind = ["files", "small"].find((k) => cell.classList.contains(k));
    return { node: owner, leaf: kind === "files" ? owner.filesLeaf : kind ? owner.smallLeaf : owner.foldLeaf };
  }
  function show(target) {
    const hit = cellNode(target);
    if (hit) info.textContent = hit.leaf ? describeLeaf(hit.leaf) : describe(hit.node);
  }
  map.addEventListener("mouseover", (e) => show(e.target));
  map.addEventListener("focusin", (e) => show(e.target));
  map.addEventListener("click", (e) => {
    const hit = cellNode(e.target);
    if (hit && hit.node !== view) zoom(hit.node, false);
  });
  map.addEventListener("keydown", (e) => {
    if (e.key !== "Enter") return;
    const hit = cellNode(e.target);
    if (hit && hit.node !== view) {
      e.preventDefault();
      zoom(hit.node, true);
    }
  });
  crumbs.addEventListener("click", (e) => {
    const b = e.target.closest("button");
    if (b) zoom(nodes[+b.dataset.id], false);
  });
  document.addEventListener("keydown", (e) => {
    if (e.key !== "Backspace" || e.altKey || e.ctrlKey || e.metaKey) return;
    const t = e.target;
    if (t && (t.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(t.tagName))) return;
    e.preventDefault();
    up();
  });

  // The table: the same directories as a tree, largest first, with each
  // subtree's files, bytes and share of its parent's bytes.
  const rows = document.getElementById("rows");
  const open = new Set([top.id]);

  function row(n) {
    const tr = el("tr");
    tr.dataset.id = n.id;
    if (n === view) tr.classList.add("current");
    const name = el("td");
    name.style.paddingLeft = 0.4 + 1.2 * n.depth + "em";
    if (n.kids.length || n.folded > 0) {
      const t = el("button", "toggle", open.has(n.id) ? "\u25be" : "\u25b8");
      t.type = "button";
      t.setAttribute("aria-expanded", open.has(n.id) ? "true" : "false");
      t.setAttribute("aria-label", (open.has(n.id) ? "Collapse " : "Expand ") + n.path);
      name.append(t);
    } else {
      name.append(el("span", "toggle"));
    }
    const b = el("button", "name", n.depth === 0 ? n.path : n.name);
    b.type = "button";
    b.title = n.path;
    name.append(b);
    if (n.problem) name.append(" ", el("span", "problem", "(" + n.problem + ")"));
    const p = n.parent >= 0 ? nodes[n.parent] : n;
    const bytes = el("td", "", grouped(n.exact.tbytes));
    bytes.title = human(n.exact.tbytes);
    tr.append(name, el("td", "", grouped(n.exact.tfiles)), bytes, el("td", "", percent(n.tbytes, p.tbytes)));
    if (compare) {
      const c = el("td", "change", (n.state ? n.state + " " : "") + signed(n.exactChange));
      c.style.background = changeColour(n);
      tr.append(c);
      if (n.state) tr.classList.add(n.state);
      if (growth) tr.append(el("td", "", n.rate === null ? "\u2013" : signed(n.rate)), el("td", "chart", n.chart));
    }
    return tr;
  }
  function foldedRow(n) {
    const tr = el("tr", "folded");
    tr.dataset.owner = n.id;
    const name = el("td", "", "... and " + plural(n.folded, "smaller directory", "smaller directories"));
    name.style.paddingLeft = 0.4 + 1.2 * (n.depth + 1) + 1.4 + "em";
    tr.append(
      name,
      el("td", "", grouped(n.foldFiles)),
      el("td", "", grouped(n.foldBytes)),
      el("td", "", percent(n.foldBytes, n.tbytes))
    );
    if (compare) tr.append(el("td"));
    if (growth) tr.append(el("td"), el("td"));
    return tr;
  }
  function drawTable() {
    const frag = document.createDocumentFragment();
    const stack = [top];
    while (stack.length) {
      const n = stack.pop();
      if (n.leaf) {
        frag.append(foldedRow(n.owner));
        continue;
      }
      frag.append(row(n));
      if (!open.has(n.id)) continue;
      if (n.folded > 0) stack.push(n.foldLeaf);
      for (let i = n.kids.length - 1; i >= 0; i--) stack.push(n.kids[i]);
    }
    rows.replaceChildren(frag);
  }
  function reveal(n) {
    let added = false;
    for (let p = n.parent >= 0 ? nodes[n.parent] : null; p; p = p.parent >= 0 ? nodes[p.parent] : null)
      if (!open.has(p.id)) {
        open.add(p.id);
        added = true;
      }
    if (added) {
      drawTable();
    } else {
      for (const tr of rows.querySelectorAll("tr.current")) tr.classList.remove("current");
    }
    const tr = rows.querySelector('tr[data-id="' + n.id + '"]');
    if (tr) {
      tr.classList.add("current");
      tr.scrollIntoView({ block: "nearest" });
    }
  }
  rows.addEventListener("click", (e) => {
    const tr = e.target.closest("tr[data-id]");
    if (!tr) return;
    const n = nodes[+tr.dataset.id];
    if (e.target.closest("button.toggle")) {
      if (open.has(n.id)) open.delete(n.id);
      else open.add(n.id);
      drawTable();
      const again = rows.querySelector('tr[data-id="' + n.id + '"] button.toggle');
      if (again) again.focus();
      return;
    }
    zoom(n, false);
  });
  document.getElementById("expand").addEventListener("click", () => {
    for (const n of nodes) if (n.kids.length || n.folded > 0) open.add(n.id);
    drawTable();
  });
  document.getElementById("collapse").addEventListener("click", () => {
    open.clear();
    open.add(top.id);
    drawTable();
  });

  if (compare) {
    const head = el("th", "", "Change");
    head.scope = "col";
    head.title = "Change of the bytes since the older scan";
    document.querySelector("#table thead tr").append(head);
    if (growth) {
      head.textContent = "Window";
      head.title = "Change of the bytes over the window";
      for (const [text, title] of [["Per day", "Bytes a day, fitted over the window"], ["Chart", "Its size in each scan of the window"]]) {
        const th = el("th", "", text);
        th.scope = "col";
        th.title = title;
        document.querySelector("#table thead tr").append(th);
      }
    }
  }
  // A click on a column's heading orders the subdirectories of every
  // directory by it: names A to Z, numbers largest first.
  const byFiles = (a, b) => b.tfiles - a.tfiles || byName(a, b);
  const orders = [byName, byFiles, bySize, bySize, byChange, byRate, byRate];
  const heads = Array.from(document.querySelectorAll("#table thead th"));
  heads.forEach((th, i) => {
    th.classList.add("sortable");
    th.addEventListener("click", () => {
      for (const n of nodes) n.kids.sort(orders[i]);
      for (const h of heads) h.removeAttribute("aria-sort");
      th.setAttribute("aria-sort", i === 0 ? "ascending" : "descending");
      drawTable();
    });
  });
  heads[growth ? 5 : compare ? 4 : 2].setAttribute("aria-sort", "descending");
  drawTable();
  drawMap();
  drawCrumbs();
  new ResizeObserver(() => {
    if (map.clientWidth + "x" + map.clientHeight !== drawnSize) drawMap();
  }).observe(map);
  // For tools that wait for the page: the time its first layout took.
  document.documentElement.dataset.ready = Math.round(performance.now());
})();
