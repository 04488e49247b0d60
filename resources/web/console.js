"use strict";
// Both lists are made from one template; only voice messages have a gap to choose.
for (const sec of document.querySelectorAll("section[data-kind]")) {
  sec.append(document.getElementById("list-template").content.cloneNode(true));
  const music = sec.dataset.kind === "music";
  sec.querySelector("h2").textContent = music ? "Music Tracks" : "Voice Messages";
  if (music) sec.querySelector(".gap-box").remove();
}

let csrf = sessionStorage.getItem("csrf") || "";
let version = "";
const $ = (q, el = document) => el.querySelector(q);

async function api(method, path, body, raw) {
  const headers = {};
  if (method !== "GET") headers["X-CSRF-Token"] = csrf;
  if (body !== undefined && !raw) headers["Content-Type"] = "application/json";
  const res = await fetch(path, { method, headers, credentials: "same-origin",
                                  body: raw ? body : body === undefined ? undefined : JSON.stringify(body) });
  const data = await res.json().catch(() => ({}));
  if (res.status === 401) { show(false); throw new Error("log in first"); }
  if (!res.ok) throw new Error(data.error || res.statusText);
  return data;
}
function say(text) { $("#message").textContent = text || ""; }
function show(loggedIn) { $("#login").hidden = loggedIn; $("#console").hidden = !loggedIn; }

$("#login-form").addEventListener("submit", async e => {
  e.preventDefault();
  const res = await fetch("/api/login", { method: "POST", headers: { "Content-Type": "application/json" },
                                          body: JSON.stringify({ password: $("#password").value }) });
  const data = await res.json().catch(() => ({}));
  if (!res.ok) { $("#login-message").textContent = data.error || res.statusText; return; }
  csrf = data.csrf; sessionStorage.setItem("csrf", csrf);
  $("#password").value = "";
  show(true); refresh();
});
$("#logout").onclick = async () => { await api("POST", "/api/logout").catch(() => {}); show(false); };
$("#play").onclick = () => api("POST", "/api/playback", { play: true }).then(status).catch(e => say(e.message));
$("#pause").onclick = () => api("POST", "/api/playback", { play: false }).then(status).catch(e => say(e.message));

async function status() {
  const s = await api("GET", "/api/status");
  $("#status").textContent = s.status;
  $("#details").textContent = `${s.state}; up ${Math.floor(s.uptime / 60)} min` +
    (s.failed.length ? `; ${s.failed.length} could not be loaded` : "");
  $("#output").textContent = "Output: " + s.output;
}

function fillList(kind, lists) {
  const sec = $(`section[data-kind=${kind}]`);
  const ul = $(".tracks", sec);
  ul.replaceChildren();
  lists[kind].forEach((t, row) => {
    const li = document.createElement("li");
    const label = document.createElement("label");
    const box = document.createElement("input");
    box.type = "checkbox"; box.dataset.row = row;
    const when = [t.date.on ? `${t.date.from.slice(5)} to ${t.date.to.slice(5)}` : "",
                  t.time.on ? `${t.time.from.slice(0, 5)}-${t.time.to.slice(0, 5)}` : ""].filter(Boolean);
    label.append(box, " " + t.shown + (when.length ? ` (scheduled: ${when.join(", ")})` : ""));
    li.append(label);
    if (!t.in_schedule) li.className = "out";
    if (t.failed) { li.className = "failed"; li.title = t.failed; }
    ul.append(li);
  });
  const set = lists[kind + "_settings"];
  $(".coverage", sec).textContent = set.coverage;
  $(".order", sec).value = set.random ? "1" : "0";
  $(".volume", sec).value = set.volume;
  if ($(".gap", sec)) $(".gap", sec).value = String(set.gap);
}

async function refresh() {
  try {
    const lists = await api("GET", "/api/lists");
    version = lists.version;
    fillList("music", lists); fillList("voice", lists);
    // audio.cfg on disk does not read whole: what plays is shown, and why.
    if (lists.file_problem) say(lists.file_problem + "; mend the file, then reload");
    const sounds = await api("GET", "/api/sounds");
    for (const kind of ["music", "voice"]) {
      const sec = $(`section[data-kind=${kind}]`);
      const add = $(".add", sec), cat = $(".category", sec);
      add.replaceChildren(); cat.replaceChildren();
      for (const [category, files] of Object.entries(sounds[kind])) {
        cat.append(new Option(category, category));
        for (const f of files) add.append(new Option(category + " / " + f.file, f.name));
      }
    }
    const settings = await api("GET", "/api/settings");
    $("#start-playing").checked = settings.start_playing;
    $("#loudness").checked = settings.loudness;
    await status();
  } catch (e) { say(e.message); }
}
for (const [id, key] of [["#start-playing", "start_playing"], ["#loudness", "loudness"]])
  $(id).onchange = e => api("POST", "/api/settings", { [key]: e.target.checked })
    .then(() => say("")).catch(err => say(err.message));

function selected(sec) { return [...sec.querySelectorAll(".tracks input:checked")].map(b => +b.dataset.row); }

async function edit(kind, action, body) {
  try {
    const lists = await api("POST", `/api/lists/${kind}/${action}`, { version, ...body });
    version = lists.version; fillList("music", lists); fillList("voice", lists); say("");
    status();
  } catch (e) { say(e.message); }
}

for (const sec of document.querySelectorAll("section[data-kind]")) {
  const kind = sec.dataset.kind;
  sec.addEventListener("click", e => {
    const act = e.target.dataset && e.target.dataset.act;
    if (!act) return;
    const rows = selected(sec);
    if (act === "up" || act === "down") {
      if (rows.length !== 1) return say("Select one track to move.");
      edit(kind, "move", { row: rows[0], step: act === "up" ? -1 : 1 });
    } else if (act === "remove") edit(kind, "remove", { rows });
    else if (act === "clear") { if (confirm("Clear the whole list?")) edit(kind, "clear", {}); }
    else if (act === "add") edit(kind, "add", { names: [$(".add", sec).value] });
    else if (act === "schedule") edit(kind, "schedule", {
      rows,
      date: { on: $(".date-on", sec).checked, from: $(".date-from", sec).value, to: $(".date-to", sec).value },
      time: { on: $(".time-on", sec).checked, from: $(".time-from", sec).value, to: $(".time-to", sec).value } });
  });
  $(".order", sec).onchange = e => edit(kind, "settings", { random: e.target.value === "1" });
  $(".volume", sec).onchange = e => edit(kind, "settings", { volume: +e.target.value });
  if ($(".gap", sec)) $(".gap", sec).onchange = e => edit(kind, "settings", { gap: +e.target.value });
  $(".file", sec).onchange = async e => {
    for (const file of e.target.files) {
      try {
        const category = encodeURIComponent($(".category", sec).value);
        const stored = await api("PUT", `/api/upload/${kind}/${category}/${encodeURIComponent(file.name)}`, file, true);
        say(`${file.name} stored.`);
        await edit(kind, "add", { names: [stored.name] });
      } catch (err) { say(`${file.name}: ${err.message}`); }
    }
    e.target.value = "";
    refresh();
  };
}

// The recorder: the microphone's samples, kept as they come, made into a 16-bit
// mono WAV when recording stops; at most 60 seconds, as in the window.
let rec = null, take = null;
function wav(chunks, rate) {
  const frames = chunks.reduce((n, c) => n + c.length, 0);
  const view = new DataView(new ArrayBuffer(44 + 2 * frames));
  const text = (at, s) => [...s].forEach((ch, i) => view.setUint8(at + i, ch.charCodeAt(0)));
  text(0, "RIFF"); view.setUint32(4, 36 + 2 * frames, true); text(8, "WAVEfmt ");
  view.setUint32(16, 16, true); view.setUint16(20, 1, true); view.setUint16(22, 1, true);
  view.setUint32(24, rate, true); view.setUint32(28, 2 * rate, true);
  view.setUint16(32, 2, true); view.setUint16(34, 16, true); text(36, "data");
  view.setUint32(40, 2 * frames, true);
  let at = 44;
  for (const c of chunks) for (const v of c) {
    view.setInt16(at, Math.max(-1, Math.min(1, v)) * 32767, true); at += 2;
  }
  return new Blob([view], { type: "audio/wav" });
}
function stopRecording() {
  if (!rec) return;
  clearInterval(rec.timer);
  rec.stream.getTracks().forEach(t => t.stop());
  rec.proc.disconnect();
  rec.ctx.close();
  take = wav(rec.chunks, rec.ctx.sampleRate);
  rec = null;
  $("#take").src = URL.createObjectURL(take);
  $("#take").hidden = false;
  $("#record").disabled = false; $("#stop").disabled = true; $("#save-take").disabled = false;
}
$("#record").onclick = async () => {
  try {
    const stream = await navigator.mediaDevices.getUserMedia({ audio: true });
    const ctx = new AudioContext();
    const proc = ctx.createScriptProcessor(4096, 1, 1);
    const chunks = [];
    proc.onaudioprocess = e => chunks.push(new Float32Array(e.inputBuffer.getChannelData(0)));
    ctx.createMediaStreamSource(stream).connect(proc);
    proc.connect(ctx.destination);
    const started = Date.now();
    rec = { stream, ctx, proc, chunks, timer: setInterval(() => {
      const s = Math.floor((Date.now() - started) / 1000);
      $("#seconds").textContent = `${s} s`;
      if (s >= 60) stopRecording();
    }, 250) };
    $("#record").disabled = true; $("#stop").disabled = false; $("#save-take").disabled = true;
  } catch (e) { say("The microphone cannot be used: " + e.message); }
};
$("#stop").onclick = stopRecording;
$("#show-log").onclick = async () => {
  try { $("#log").textContent = (await api("GET", "/api/log")).lines.join("\n"); } catch (e) { say(e.message); }
};
$("#save-take").onclick = async () => {
  const name = $("#take-name").value.trim();
  try {
    const saved = await api("PUT", `/api/recording/${encodeURIComponent(name)}`, take, true);
    say(`Saved as ${saved.name} and added to the voice list.`);
    fillList("music", saved); fillList("voice", saved); version = saved.version;
    $("#save-take").disabled = true;
  } catch (e) { say(e.message); }
};

(async () => {
  try { await api("GET", "/api/status"); show(true); refresh(); } catch (e) { show(false); }
  setInterval(() => { if (!$("#console").hidden) status().catch(() => {}); }, 2000);
})();
