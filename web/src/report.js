// The script of Marrowind's HTML report: the profile, the alignment and the structure view, all
// drawn from the JSON that the page embeds, and kept on one selected column.
import * as $3Dmol from "3dmol";

// Viridis, sampled every eighth of its range: perceptually uniform, readable by the common
// forms of colour blindness and in greyscale. Linear interpolation between samples is finer than
// the eye can tell.
const VIRIDIS = [
  [68, 1, 84], [71, 45, 123], [59, 82, 139], [44, 114, 142], [33, 145, 140],
  [40, 174, 128], [94, 201, 98], [173, 220, 48], [253, 231, 37],
];
const MONOSPACE = "ui-monospace, SFMono-Regular, Menlo, Consolas, monospace";
const UNSCORED = "#c8c8c8"; // residues with no score: a neutral grey outside the scale
const HIGHLIGHT = "#e8175d"; // the selected column: a red that viridis never produces
const OCCUPANCY = "#8d99ae"; // the weighted occupancy track
const UNRELIABLE = "rgba(214,39,40,0.85)"; // columns too empty to trust
// pLDDT in the four bands that predicted models are read by: above 90, 70, 50, and below.
const PLDDT_BANDS = [[90, "#0053d6"], [70, "#65cbf3"], [50, "#ffdb13"], [-Infinity, "#ff7d45"]];
const plddtColour = (value) => PLDDT_BANDS.find(([low]) => value > low)[1];

function viridis(value) {
  const t = Math.min(1, Math.max(0, value)) * (VIRIDIS.length - 1);
  const low = Math.min(VIRIDIS.length - 2, Math.floor(t));
  const f = t - low;
  return VIRIDIS[low].map((c, i) => Math.round(c + f * (VIRIDIS[low + 1][i] - c)));
}

const css = (rgb) => `rgb(${rgb[0]},${rgb[1]},${rgb[2]})`;
// Dark letters on the light end of the scale, white on the dark end.
const textOn = (rgb) => (0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2] > 140
  ? [17, 17, 17] : [255, 255, 255]);
const isGapCode = (code) => code === 45 || code === 46; // "-" and "."
// One RGBA pixel as a little-endian 32-bit word of ImageData.
const pixel = (rgb) => ((255 << 24) | (rgb[2] << 16) | (rgb[1] << 8) | rgb[0]) >>> 0;
const WHITE = pixel([255, 255, 255]);

const data = JSON.parse(document.getElementById("marrowind-data").textContent);
const ncol = data.scores.length;
// Colours come in 256 levels, as in the published viridis table: few enough that the alignment
// can keep a ready-made tile for each level and letter.
const LEVELS = 256;
const palette = Array.from({ length: LEVELS }, (_, level) => viridis(level / (LEVELS - 1)));
const columnLevel = Uint8Array.from(data.scores,
  (s) => Math.round(Math.min(1, Math.max(0, s)) * (LEVELS - 1)));
const columnColour = Array.from(columnLevel, (level) => css(palette[level]));
// For each column, the index of the reference residue standing in it, or -1 at a gap.
const residueAt = new Int32Array(ncol).fill(-1);
data.residues.columns.forEach((column, i) => { residueAt[column] = i; });
const columnContext = data.context;
// A complex's chains: the chain of each column, and the columns where a chain begins.
const chainAt = new Array(ncol);
data.chains.forEach((chain) => {
  for (let column = chain.first; column < chain.first + chain.length; column++) {
    chainAt[column] = chain.ids;
  }
});
const chainStarts = data.chains.slice(1).map((chain) => chain.first);
// A predicted model's pLDDT at each column, from the first scored chain that has a residue
// there.
const plddtAt = new Map();
if (data.structure && data.structure.predicted) {
  data.structure.residues.forEach(([, , , column, b]) => {
    if (column >= 0 && b !== null && !plddtAt.has(column)) plddtAt.set(column, b);
  });
}

const listeners = [];
const state = { selected: -1 };
function select(column, from) {
  state.selected = column;
  listeners.forEach((listener) => listener(column, from));
}

const tooltip = document.getElementById("tooltip");
function showTooltip(event, lines) {
  tooltip.textContent = "";
  lines.forEach((line) => {
    const div = document.createElement("div");
    div.textContent = line;
    tooltip.appendChild(div);
  });
  tooltip.hidden = false;
  const x = Math.min(event.clientX + 14, window.innerWidth - tooltip.offsetWidth - 4);
  const y = event.clientY + 16 + tooltip.offsetHeight > window.innerHeight
    ? event.clientY - tooltip.offsetHeight - 8 : event.clientY + 16;
  tooltip.style.left = `${x}px`;
  tooltip.style.top = `${y}px`;
}
const hideTooltip = () => { tooltip.hidden = true; };

// What a column is, in the words the tooltips and the status lines use: the reference's
// residue, the column, its exact score, its grade, how many sequences stand behind it, and
// what the structure and a complex's chains say of it.
function describeColumn(column) {
  const residue = residueAt[column];
  const reference = residue < 0 ? `${data.referenceName}: gap`
    : `${data.referenceName} ${data.residues.letters[residue]}${data.residues.numbers[residue]}`;
  const lines = [reference, `column ${column + 1}`, `score ${data.scores[column]}`];
  const { grade, z, smoothed } = columnContext;
  if (residue >= 0 && grade[residue]) {
    lines.push(`grade ${grade[residue]} of 9 (z ${z[residue].toFixed(2)})`);
  }
  if (residue >= 0 && smoothed && smoothed[residue] !== null) {
    lines.push(`smoothed over ${columnContext.window}: ${smoothed[residue].toFixed(3)}`);
  }
  lines.push(`${columnContext.residues[column]} of ${data.sequenceCount} sequences hold a `
    + `residue, gaps ${(100 * data.gaps[column]).toFixed(1)}%`);
  lines.push(`weighted occupancy ${(100 * columnContext.occupancy[column]).toFixed(1)}%`);
  if (!columnContext.reliable[column]) {
    // As a percentage to 12 significant digits, so that 0.35 reads 35, not 35.00000000000001.
    const percent = Number((100 * columnContext.maxGapFraction).toPrecision(12));
    lines.push(`unreliable: fewer than ${columnContext.minResidues} residues or over `
      + `${percent}% gaps`);
  }
  if (chainAt[column]) lines.push(`complex chain ${chainAt[column]}`);
  (data.residueNames[column] || []).forEach((line) => lines.push(line));
  if (plddtAt.has(column)) lines.push(`pLDDT ${plddtAt.get(column).toFixed(2)}`);
  return lines;
}

// A canvas whose drawing buffer follows its CSS size at the screen's pixel ratio.
function fitCanvas(canvas, width, height) {
  const ratio = window.devicePixelRatio || 1;
  if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    canvas.style.width = `${width}px`;
    canvas.style.height = `${height}px`;
  }
  const context = canvas.getContext("2d");
  context.setTransform(ratio, 0, 0, ratio, 0, 0);
  return context;
}

// Round numbers about `target` pixels apart for an axis of `span` units over `pixels`.
function tickStep(span, pixels, target) {
  const raw = (span * target) / Math.max(1, pixels);
  const power = 10 ** Math.floor(Math.log10(Math.max(raw, 1e-9)));
  return [1, 2, 5, 10].map((m) => m * power).find((step) => step >= raw);
}

function drawLegend() {
  const canvas = document.getElementById("legend");
  const context = fitCanvas(canvas, 220, 14);
  for (let x = 0; x < 220; x++) {
    context.fillStyle = css(viridis(x / 219));
    context.fillRect(x, 0, 1, 14);
  }
}

// ---- The profile: one bar per point, coloured and sized by its score, with the gap fraction.
function profileView() {
  const canvas = document.getElementById("profile");
  const alongSelect = document.getElementById("profile-along");
  const margin = { left: 46, right: 14, top: 12, bottom: 34 };
  // Under the scores, one track per figure: the weighted occupancy (and unreliable columns),
  // and a predicted model's pLDDT.
  const tracks = [{ label: "occup.", draw: drawOccupancy }];
  if (plddtAt.size) tracks.push({ label: "pLDDT", draw: drawPlddt });
  const trackHeight = 14;
  const trackGap = 4;
  const scoresHeight = 184;
  const height = margin.top + scoresHeight + trackGap + tracks.length * (trackHeight + trackGap)
    + margin.bottom;
  let points = []; // columns, in x order
  let labels = []; // the number shown on the axis for each point
  let view = [0, 1]; // the visible range of point positions
  let hover = -1;
  let drag = null;

  function setAlong(along) {
    if (along === "residue") {
      points = data.residues.columns;
      labels = data.residues.numbers;
    } else {
      points = data.scores.map((_, column) => column);
      labels = points.map((column) => column + 1);
    }
    view = [-0.5, points.length - 0.5];
    draw();
  }

  const plotWidth = () => canvas.clientWidth - margin.left - margin.right;
  const xOf = (i) => margin.left + ((i - view[0]) / (view[1] - view[0])) * plotWidth();
  const indexAt = (x) => view[0] + ((x - margin.left) / plotWidth()) * (view[1] - view[0]);
  const plotHeight = scoresHeight;
  const yOf = (value) => margin.top + (1 - value) * plotHeight;
  const trackTop = (k) => yOf(0) + trackGap + k * (trackHeight + trackGap);
  const axisY = trackTop(tracks.length);

  // The occupancy as a grey bar, over a red strip where the column is unreliable.
  function drawOccupancy(context2d, i, x, width, top) {
    const column = points[i];
    const strip = 3;
    if (!columnContext.reliable[column]) {
      context2d.fillStyle = UNRELIABLE;
      context2d.fillRect(x, top + trackHeight - strip, width, strip);
    }
    const filled = columnContext.occupancy[column] * (trackHeight - strip - 1);
    context2d.fillStyle = OCCUPANCY;
    context2d.fillRect(x, top + trackHeight - strip - filled, width, filled);
  }
  function drawPlddt(context2d, i, x, width, top) {
    const value = plddtAt.get(points[i]);
    if (value === undefined) return;
    context2d.fillStyle = plddtColour(value);
    context2d.fillRect(x, top, width, trackHeight);
  }
  // The index of the first point at or after a column.
  const firstPointAt = (column) => {
    let low = 0;
    let high = points.length;
    while (low < high) {
      const middle = (low + high) >> 1;
      if (points[middle] < column) low = middle + 1; else high = middle;
    }
    return low;
  };

  function draw() {
    const width = canvas.parentElement.clientWidth;
    const context = fitCanvas(canvas, width, height);
    context.clearRect(0, 0, width, height);
    context.font = "11px system-ui, sans-serif";
    context.fillStyle = "#555";
    context.strokeStyle = "#e4e4e4";
    context.lineWidth = 1;
    context.textAlign = "right";
    context.textBaseline = "middle";
    for (let value = 0; value <= 1.0001; value += 0.25) {
      const y = Math.round(yOf(value)) + 0.5;
      context.beginPath();
      context.moveTo(margin.left, y);
      context.lineTo(width - margin.right, y);
      context.stroke();
      context.fillText(value.toFixed(2), margin.left - 6, y);
    }
    context.save();
    context.beginPath();
    context.rect(margin.left, margin.top - 2, plotWidth(), plotHeight + 4);
    context.clip();
    const first = Math.max(0, Math.floor(view[0]));
    const last = Math.min(points.length - 1, Math.ceil(view[1]));
    const step = plotWidth() / (view[1] - view[0]);
    const barWidth = Math.max(1, step * 0.86);
    for (let i = first; i <= last; i++) {
      const column = points[i];
      const top = yOf(data.scores[column]);
      context.fillStyle = columnColour[column];
      context.fillRect(xOf(i) - barWidth / 2, top, barWidth, yOf(0) - top);
    }
    // The gap fraction as a step line over the bars.
    context.strokeStyle = "rgba(20,20,20,0.75)";
    context.setLineDash([3, 2]);
    context.beginPath();
    for (let i = first; i <= last; i++) {
      const y = yOf(data.gaps[points[i]]);
      if (i === first) context.moveTo(xOf(i) - step / 2, y);
      else context.lineTo(xOf(i) - step / 2, y);
      context.lineTo(xOf(i) + step / 2, y);
    }
    context.stroke();
    context.setLineDash([]);
    // The smoothed scores, as a line through the points whose column holds a reference residue.
    if (columnContext.smoothed) {
      context.strokeStyle = "rgba(232,23,93,0.9)";
      context.lineWidth = 1.5;
      context.beginPath();
      let drawing = false;
      for (let i = first; i <= last; i++) {
        const residue = residueAt[points[i]];
        const value = residue < 0 ? null : columnContext.smoothed[residue];
        if (value === null) { drawing = false; continue; }
        if (drawing) context.lineTo(xOf(i), yOf(value)); else context.moveTo(xOf(i), yOf(value));
        drawing = true;
      }
      context.stroke();
      context.lineWidth = 1;
    }
    // Where a complex's next chain begins.
    context.strokeStyle = "rgba(29,35,48,0.8)";
    context.setLineDash([5, 3]);
    chainStarts.forEach((column) => {
      const x = Math.round(xOf(firstPointAt(column)) - step / 2) + 0.5;
      context.beginPath();
      context.moveTo(x, margin.top);
      context.lineTo(x, yOf(0));
      context.stroke();
    });
    context.setLineDash([]);
    const marked = [[hover, "rgba(0,0,0,0.55)"], [points.indexOf(state.selected), HIGHLIGHT]];
    marked.forEach(([i, colour]) => {
      if (i < 0) return;
      context.strokeStyle = colour;
      context.lineWidth = 2;
      context.strokeRect(xOf(i) - Math.max(step, 4) / 2, margin.top - 1,
        Math.max(step, 4), plotHeight + 2);
    });
    context.restore();

    // The tracks, on the same x scale, their names in the margin.
    tracks.forEach((track, k) => {
      const top = trackTop(k);
      context.save();
      context.beginPath();
      context.rect(margin.left, top, plotWidth(), trackHeight);
      context.clip();
      for (let i = first; i <= last; i++) {
        track.draw(context, i, xOf(i) - barWidth / 2, barWidth, top);
      }
      context.restore();
      context.fillStyle = "#555";
      context.font = "10px system-ui, sans-serif";
      context.textAlign = "right";
      context.textBaseline = "middle";
      context.fillText(track.label, margin.left - 4, top + trackHeight / 2);
      context.strokeStyle = "#ccc";
      context.strokeRect(margin.left + 0.5, top + 0.5, plotWidth(), trackHeight);
    });
    // The chains' names at their starts, above the scores.
    context.font = "10px system-ui, sans-serif";
    context.textAlign = "left";
    context.textBaseline = "top";
    context.fillStyle = "#1d2330";
    data.chains.forEach((chain) => {
      const x = xOf(firstPointAt(chain.first)) - step / 2 + 3;
      if (x >= margin.left && x < margin.left + plotWidth()) {
        context.fillText(`chain ${chain.ids}`, x, margin.top + 2);
      }
    });

    // The x axis: the numbers of the points at round intervals.
    context.font = "11px system-ui, sans-serif";
    context.fillStyle = "#555";
    context.textAlign = "center";
    context.textBaseline = "top";
    const every = tickStep(view[1] - view[0], plotWidth(), 70);
    for (let i = first; i <= last; i++) {
      if (labels[i] % every !== 0 || i < view[0] || i > view[1]) continue;
      const x = Math.round(xOf(i)) + 0.5;
      context.fillRect(x, axisY, 1, 4);
      context.fillText(String(labels[i]), x, axisY + 6);
    }
    context.fillText(alongSelect.value === "residue" ? `residue number in ${data.referenceName}`
      : "alignment column", margin.left + plotWidth() / 2, height - 14);
    context.strokeStyle = "#888";
    context.lineWidth = 1;
    context.strokeRect(margin.left + 0.5, margin.top + 0.5, plotWidth(), plotHeight);
  }

  function zoom(factor, around) {
    const span = Math.min(points.length, Math.max(8, (view[1] - view[0]) * factor));
    const centre = indexAt(around);
    const left = centre - ((around - margin.left) / plotWidth()) * span;
    pan(left, span);
  }
  function pan(left, span) {
    const clamped = Math.min(Math.max(left, -0.5), points.length - 0.5 - span);
    view = [clamped, clamped + span];
    draw();
  }
  const pointAt = (x) => {
    const i = Math.round(indexAt(x));
    return x >= margin.left && x <= margin.left + plotWidth() && i >= 0 && i < points.length
      ? i : -1;
  };

  canvas.addEventListener("wheel", (event) => {
    event.preventDefault();
    zoom(Math.exp(event.deltaY * 0.0015), event.offsetX);
  }, { passive: false });
  canvas.addEventListener("mousedown", (event) => {
    drag = { x: event.clientX, left: view[0], moved: false };
  });
  window.addEventListener("mousemove", (event) => {
    if (!drag) return;
    const dx = event.clientX - drag.x;
    if (Math.abs(dx) > 3) drag.moved = true;
    if (drag.moved) pan(drag.left - (dx / plotWidth()) * (view[1] - view[0]), view[1] - view[0]);
  });
  window.addEventListener("mouseup", (event) => {
    if (drag && !drag.moved && event.target === canvas) {
      const i = pointAt(event.offsetX);
      if (i >= 0) select(points[i], "profile");
    }
    drag = null;
  });
  canvas.addEventListener("mousemove", (event) => {
    const i = pointAt(event.offsetX);
    if (i !== hover) { hover = i; draw(); }
    if (i < 0) hideTooltip();
    else showTooltip(event, describeColumn(points[i]));
  });
  canvas.addEventListener("mouseleave", () => { hover = -1; hideTooltip(); draw(); });
  canvas.addEventListener("dblclick", () => { view = [-0.5, points.length - 0.5]; draw(); });
  document.getElementById("profile-reset").addEventListener("click", () => {
    view = [-0.5, points.length - 0.5]; draw();
  });
  alongSelect.addEventListener("change", () => setAlong(alongSelect.value));
  // Redrawn whenever its box changes width: a window resized, or a scroll bar that appears as
  // the page grows (which no resize event reports).
  new ResizeObserver(draw).observe(canvas.parentElement);
  listeners.push((column) => {
    const i = points.indexOf(column);
    if (i >= 0 && (i < view[0] || i > view[1])) {
      const span = view[1] - view[0];
      pan(i - span / 2, span);
    } else draw();
  });
  if (data.residues.columns.length === 0) alongSelect.value = "column"; // a reference of gaps
  setAlong(alongSelect.value);
  // Where a column's bar is, in the window's coordinates (for scripts driving the page).
  return (column) => {
    const i = points.indexOf(column);
    const box = canvas.getBoundingClientRect();
    return i < 0 ? null : { x: box.left + xOf(i), y: box.top + yOf(data.scores[column] / 2) };
  };
}

// Residue cells painted straight into a frame's pixels. Each (colour level, letter) tile is
// rasterised once and then copied row by row: drawing thousands of letters with fillText every
// frame would make scrolling stutter, copying them does not.
function cellPainter() {
  const tiles = new Map();
  const scratch = document.createElement("canvas").getContext("2d", { willReadFrequently: true });
  let size = { width: 0, height: 0, letters: false, ratio: 1 };

  function resize(width, height, letters, ratio) {
    if (width !== size.width || height !== size.height || letters !== size.letters) tiles.clear();
    size = { width, height, letters, ratio };
  }

  function tile(level, code) {
    const key = size.letters ? level * 65536 + code : level;
    let found = tiles.get(key);
    if (found) return found;
    const background = palette[level];
    const count = size.width * size.height;
    found = new Uint32Array(count).fill(pixel(background));
    if (size.letters) {
      scratch.canvas.width = size.width;
      scratch.canvas.height = size.height;
      scratch.clearRect(0, 0, size.width, size.height);
      scratch.font = `bold ${Math.round(11 * size.ratio)}px ${MONOSPACE}`;
      scratch.textAlign = "center";
      scratch.textBaseline = "middle";
      scratch.fillStyle = "#000";
      scratch.fillText(String.fromCharCode(code), size.width / 2,
        size.height / 2 + 0.5 * size.ratio);
      const alpha = scratch.getImageData(0, 0, size.width, size.height).data;
      const ink = textOn(background);
      for (let i = 0; i < count; i++) {
        const a = alpha[4 * i + 3] / 255;
        if (a > 0) found[i] = pixel(background.map((c, k) => Math.round(c + a * (ink[k] - c))));
      }
    }
    tiles.set(key, found);
    return found;
  }

  // Copy the tile into pixels (a frame `stride` pixels wide) at (x, y), within the clip box.
  function paint(pixels, stride, clip, x, y, level, code) {
    const from = Math.max(x, clip.left);
    const to = Math.min(x + size.width, clip.right);
    if (from >= to) return;
    const source = tile(level, code);
    // A plain loop: a tile row is a dozen pixels, too few to repay a typed-array view per row.
    const width = to - from;
    for (let row = Math.max(0, clip.top - y); row < size.height && y + row < clip.bottom; row++) {
      const sourceStart = row * size.width + from - x;
      const targetStart = (y + row) * stride + from;
      for (let i = 0; i < width; i++) pixels[targetStart + i] = source[sourceStart + i];
    }
  }
  return { resize, paint };
}

// ---- The alignment: only the cells in view are drawn, on a canvas laid over a scroller whose
// contents are an empty block of the alignment's full size.
function alignmentView() {
  const scroller = document.getElementById("alignment-scroller");
  const spacer = document.getElementById("alignment-spacer");
  const canvas = document.getElementById("alignment");
  const sizeSelect = document.getElementById("alignment-size");
  const body = data.rows.map((_, i) => i).filter((i) => i !== data.reference);
  const rulerHeight = 17;
  let cell = { width: 11, height: 15 };
  let nameWidth = 0;
  let header = 0;
  let pending = false;
  let hover = null;
  let frame = null; // the ImageData the cells are painted into, and its pixels as words
  const painter = cellPainter();

  // The reference, pinned, stays tall enough to read and to point at whatever the cell size.
  const pinnedHeight = () => Math.max(cell.height, 12);

  function layout() {
    const sizes = { large: [11, 15], small: [6, 8], tiny: [2, 3] }[sizeSelect.value];
    cell = { width: sizes[0], height: sizes[1] };
    const context = canvas.getContext("2d");
    context.font = "12px system-ui, sans-serif";
    // Measured on a sample: the longest of 20000 names need not be measured one by one.
    const sample = data.names.length > 2000 ? data.names.slice(0, 2000) : data.names;
    const longest = sample.reduce((m, name) => Math.max(m, context.measureText(name).width), 0);
    // Wide enough for the rulers' labels too, however short the names.
    nameWidth = Math.min(240, Math.max(72, Math.ceil(longest) + 16));
    header = 2 * rulerHeight + pinnedHeight() + 3;
    spacer.style.width = `${nameWidth + ncol * cell.width}px`;
    spacer.style.height = `${header + body.length * cell.height}px`;
    scroller.style.height = `${Math.min(560, header + body.length * cell.height + 20)}px`;
    schedule();
  }

  function schedule() {
    if (!pending) {
      pending = true;
      requestAnimationFrame(() => { pending = false; draw(); });
    }
  }

  // Paint one sequence's cells from column first to last, its top at y (CSS pixels).
  function paintRow(sequence, y, first, last, left, clip, ratio) {
    const top = Math.round(y * ratio);
    for (let column = first; column < last; column++) {
      const code = sequence.charCodeAt(column);
      if (isGapCode(code)) continue;
      painter.paint(frame.pixels, frame.image.width, clip,
        Math.round((left + column * cell.width) * ratio), top, columnLevel[column], code);
    }
  }

  function draw() {
    const width = scroller.clientWidth;
    const height = scroller.clientHeight;
    const context = fitCanvas(canvas, width, height);
    const left = nameWidth - scroller.scrollLeft; // where column 0 would be drawn
    const top = header - scroller.scrollTop; // where body row 0 would be drawn
    const first = Math.max(0, Math.floor(scroller.scrollLeft / cell.width));
    const last = Math.min(ncol, Math.ceil((scroller.scrollLeft + width - nameWidth) / cell.width));
    const firstRow = Math.max(0, Math.floor(scroller.scrollTop / cell.height));
    const lastRow = Math.min(body.length,
      Math.ceil((scroller.scrollTop + height - header) / cell.height));
    const ratio = window.devicePixelRatio || 1;
    if (!frame || frame.image.width !== canvas.width || frame.image.height !== canvas.height) {
      const image = context.createImageData(canvas.width, canvas.height);
      frame = { image, pixels: new Uint32Array(image.data.buffer) };
    }
    frame.pixels.fill(WHITE);
    painter.resize(Math.ceil(cell.width * ratio), Math.ceil(cell.height * ratio),
      cell.width >= 9, ratio);
    const box = (y0, y1) => ({ left: Math.round(nameWidth * ratio), right: canvas.width,
      top: Math.round(y0 * ratio), bottom: Math.round(y1 * ratio) });
    const bodyBox = box(header, height);
    for (let row = firstRow; row < lastRow; row++) {
      paintRow(data.rows[body[row]], top + row * cell.height, first, last, left, bodyBox, ratio);
    }
    if (cell.height === pinnedHeight()) {
      paintRow(data.rows[data.reference], 2 * rulerHeight, first, last, left,
        box(2 * rulerHeight, header - 3), ratio);
    }
    context.putImageData(frame.image, 0, 0);
    if (cell.height !== pinnedHeight()) { // cells too small for letters: plain bars
      const reference = data.rows[data.reference];
      for (let column = first; column < last; column++) {
        const code = reference.charCodeAt(column);
        if (isGapCode(code)) continue;
        context.fillStyle = columnColour[column];
        context.fillRect(left + column * cell.width, 2 * rulerHeight, cell.width, pinnedHeight());
      }
    }
    context.textAlign = "center";
    context.textBaseline = "middle";

    // The header: column numbers, reference numbers, and the reference row pinned below them.
    context.save();
    context.beginPath();
    context.rect(nameWidth, 0, width - nameWidth, header);
    context.clip();
    context.fillStyle = "#f6f6f6";
    context.fillRect(nameWidth, 0, width - nameWidth, 2 * rulerHeight);
    const every = Math.max(1, tickStep(last - first, width - nameWidth, 55));
    context.font = "10px system-ui, sans-serif";
    context.fillStyle = "#444";
    for (let column = Math.floor(first / every) * every; column < last; column += every) {
      const numbered = column + (every > 1 ? every - 1 : 0); // ticks at 10, 20, ... from 1
      if (numbered >= last) break;
      const x = left + numbered * cell.width + cell.width / 2;
      context.fillText(String(numbered + 1), x, rulerHeight / 2 + 1);
    }
    context.fillStyle = "#1c5d99";
    let lastLabelEnd = -Infinity;
    for (let column = first; column < last; column++) {
      const residue = residueAt[column];
      if (residue < 0) continue;
      const number = data.residues.numbers[residue];
      const x = left + column * cell.width + cell.width / 2;
      if (number % every !== 0 || x - 14 < lastLabelEnd) continue;
      context.fillText(String(number), x, rulerHeight * 1.5 + 1);
      lastLabelEnd = x + 14;
    }
    context.fillStyle = "#333";
    context.fillRect(nameWidth, header - 2, width - nameWidth, 2);
    context.restore();

    // The selected column across every row, and the cell under the pointer.
    context.save();
    context.beginPath();
    context.rect(nameWidth, 0, width - nameWidth, height);
    context.clip();
    // Where a complex's next chain begins: a line down every row.
    context.fillStyle = "rgba(29,35,48,0.85)";
    chainStarts.forEach((column) => {
      if (column >= first && column <= last) {
        context.fillRect(left + column * cell.width - 1, 0, 2, height);
      }
    });
    if (state.selected >= first && state.selected < last) {
      context.strokeStyle = HIGHLIGHT;
      context.lineWidth = 2;
      context.strokeRect(left + state.selected * cell.width - 1, 1,
        cell.width + 2, height - 2);
    }
    if (hover && hover.row >= 0) {
      context.strokeStyle = "#000";
      context.lineWidth = 1;
      context.strokeRect(left + hover.column * cell.width + 0.5,
        top + hover.row * cell.height + 0.5, cell.width - 1, cell.height - 1);
    }
    context.restore();

    // The names, left of the cells.
    context.fillStyle = "#fafafa";
    context.fillRect(0, 0, nameWidth, height);
    context.fillStyle = "#bbb";
    context.fillRect(nameWidth - 1, 0, 1, height);
    context.font = "12px system-ui, sans-serif";
    context.textAlign = "left";
    context.fillStyle = "#666";
    context.fillText("column", 6, rulerHeight / 2 + 1);
    context.fillStyle = "#1c5d99";
    context.fillText("residue", 6, rulerHeight * 1.5 + 1);
    context.fillStyle = "#000";
    context.font = "bold 12px system-ui, sans-serif";
    context.fillText(data.referenceName, 6, 2 * rulerHeight + pinnedHeight() / 2, nameWidth - 10);
    if (cell.height >= 8) {
      context.font = `${Math.min(12, cell.height - 2)}px system-ui, sans-serif`;
      context.save();
      context.beginPath();
      context.rect(0, header, nameWidth, height - header);
      context.clip();
      for (let row = firstRow; row < lastRow; row++) {
        context.fillText(data.names[body[row]], 6, top + row * cell.height + cell.height / 2,
          nameWidth - 10);
      }
      context.restore();
    }
  }

  function cellAt(event) {
    const box = scroller.getBoundingClientRect();
    const x = event.clientX - box.left;
    const y = event.clientY - box.top;
    if (x < nameWidth || x >= scroller.clientWidth || y >= scroller.clientHeight) return null;
    const column = Math.floor((x - nameWidth + scroller.scrollLeft) / cell.width);
    if (column < 0 || column >= ncol) return null;
    if (y < 2 * rulerHeight) return { column, row: -2 };
    if (y < header) return { column, row: -1 }; // the reference, pinned
    const row = Math.floor((y - header + scroller.scrollTop) / cell.height);
    return row < body.length ? { column, row } : null;
  }

  scroller.addEventListener("scroll", schedule, { passive: true });
  scroller.addEventListener("mousemove", (event) => {
    hover = cellAt(event);
    schedule();
    if (!hover) { hideTooltip(); return; }
    const lines = describeColumn(hover.column);
    if (hover.row >= -1) {
      const index = hover.row < 0 ? data.reference : body[hover.row];
      lines.unshift(`${data.names[index]}: ${data.rows[index][hover.column]}`);
    }
    showTooltip(event, lines);
  });
  scroller.addEventListener("mouseleave", () => { hover = null; hideTooltip(); schedule(); });
  scroller.addEventListener("click", (event) => {
    const at = cellAt(event);
    if (at) select(at.column, "alignment");
  });
  sizeSelect.addEventListener("change", layout);
  window.addEventListener("resize", schedule);
  listeners.push((column, from) => {
    const viewWidth = scroller.clientWidth - nameWidth;
    const x = column * cell.width;
    const hidden = x < scroller.scrollLeft || x + cell.width > scroller.scrollLeft + viewWidth;
    if (from !== "alignment" && hidden) {
      scroller.scrollLeft = x - viewWidth / 2;
    }
    schedule();
  });
  layout();
}

// ---- The structure: every scored chain coloured by the scores of the residues aligned with
// the reference, or by a predicted model's pLDDT.
function structureView() {
  const structure = data.structure;
  const element = document.getElementById("structure");
  const status = document.getElementById("structure-status");
  const colourBy = document.getElementById("colour-by");
  const viewer = $3Dmol.createViewer(element, { backgroundColor: "white", antialias: true });
  const model = viewer.addModel(structure.text, structure.format);
  // Residues by chain, number and insertion code (the PDB parser's; the mmCIF parser has none).
  const key = (chain, number, insertion) =>
    `${chain}/${number}${structure.format === "pdb" ? insertion : ""}`;
  const columnOf = new Map();
  const residuesOf = new Map(); // column -> [[chain, number, insertion], ...], in chain order
  structure.residues.forEach(([chain, number, insertion, column]) => {
    if (column < 0) return;
    columnOf.set(key(chain, number, insertion), column);
    if (!residuesOf.has(column)) residuesOf.set(column, []);
    residuesOf.get(column).push([chain, number, insertion]);
  });
  const atomColumn = (atom) =>
    columnOf.get(key(atom.chain, atom.resi, (atom.icode || "").trim()));
  const scored = { chain: structure.chains };
  // A chain without an ID is named as the command line names it, never as "chain  ".
  const chainName = (id) => (id.trim() ? `chain ${id}` : "chain (blank ID)");
  const colour = (atom) => {
    if (colourBy.value === "plddt") return plddtColour(atom.b);
    const column = atomColumn(atom);
    return column === undefined ? UNSCORED : columnColour[column];
  };

  // Ligands in sticks; waters and the chains' own modified residues (in the cartoon) left out.
  const ligands = { hetflag: true, not: { resn: ["HOH", "WAT", "DOD", ...structure.polymerNames] } };

  function style() {
    viewer.setStyle({}, { cartoon: { color: "#d9d9d9", opacity: 0.6 } });
    viewer.setStyle(scored, { cartoon: { colorfunc: colour } });
    viewer.addStyle(ligands, { stick: { colorscheme: "grayCarbon", radius: 0.18 } });
    viewer.removeAllLabels();
    (residuesOf.get(state.selected) || []).forEach(([chain, number]) => {
      const selection = { chain, resi: number };
      viewer.addStyle(selection, { stick: { color: HIGHLIGHT, radius: 0.3 } });
      viewer.addResLabels(selection, { backgroundColor: HIGHLIGHT, fontColor: "white",
        fontSize: 12, backgroundOpacity: 0.9 });
    });
  }

  // Hovering a residue names it as the structure numbers it, with its column's figures.
  viewer.setHoverable(scored, true, (atom, _, event) => {
    const column = atomColumn(atom);
    const name = `${chainName(atom.chain)} ${atom.resn} ${atom.resi}${(atom.icode || "").trim()}`;
    const plddt = structure.predicted ? [`pLDDT ${atom.b.toFixed(2)}`] : [];
    showTooltip(event, column === undefined ? [name, "no score", ...plddt]
      : [name, ...describeColumn(column)]);
  }, hideTooltip);
  viewer.setClickable(scored, true, (atom) => {
    const column = atomColumn(atom);
    if (column !== undefined) select(column, "structure");
    else {
      status.textContent = `${atom.resn} ${atom.resi}${(atom.icode || "").trim()} of `
        + `${chainName(atom.chain)} has no score`;
    }
  });
  listeners.push((column) => {
    const residues = residuesOf.get(column);
    const chains = structure.chains.map(chainName).join(", ");
    status.textContent = residues
      ? `Selected: ${residues.map(([chain, number, insertion]) =>
        `${chainName(chain)} residue ${number}${insertion}`).join(", ")}, `
        + describeColumn(column).join(", ")
      : `Column ${column + 1} has no residue in ${chains}.`;
    style();
    viewer.render();
  });
  colourBy.addEventListener("change", () => { style(); viewer.render(); });
  style();
  viewer.zoomTo(scored);
  viewer.render();
  // Where a column's residue (the alpha carbon of its first chain's) is drawn, in the window's
  // coordinates.
  return (column) => {
    const residues = residuesOf.get(column);
    if (!residues) return null;
    const [chain, number] = residues[0];
    const atoms = model.selectedAtoms({ chain, resi: number, atom: "CA" });
    if (!atoms.length) return null;
    const onPage = viewer.modelToScreen(atoms[0]);
    return { x: onPage.x - window.scrollX, y: onPage.y - window.scrollY };
  };
}

function tsvLink() {
  const link = document.getElementById("tsv-link");
  link.href = URL.createObjectURL(new Blob([data.tsv], { type: "text/tab-separated-values" }));
  link.download = data.tsvName;
}

drawLegend();
tsvLink();
const profilePoint = profileView();
alignmentView();
const structurePoint = data.structure ? structureView() : () => null;
window.marrowindReport = {
  select, profilePoint, structurePoint, selected: () => state.selected,
};
