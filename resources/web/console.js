"use strict";
const MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August", "September",
                "October", "November", "December"];
// "12-20" as "20 Dec".
function dayText(mmdd) {
  const [m, d] = mmdd.split("-").map(Number);
  return `${d} ${MONTHS[m - 1].slice(0, 3)}`;
}
// Both lists are made from one template; only voice messages have a gap to choose.
for (const sec of document.querySelectorAll("section[data-kind]")) {
  sec.append(document.getElementById("list-template").content.cloneNode(true));
  const music = sec.dataset.kind === "music";
  sec.querySelector("h2").textContent = music ? "Music Tracks" : "Voice Messages";
  if (music) sec.querySelector(".gap-box").remove();
  // A date range repeats every year: a month and a day, no year.
  for (const end of ["date-from", "date-to"]) {
    sec.querySelector(`.${end}.month`).append(...MONTHS.map((m, i) => new Option(m, String(i + 1))));
    sec.querySelector(`.${end}.day`).append(...[...Array(31).keys()].map(d => new Option(String(d + 1))));
  }
}

let csrf = sessionStorage.getItem("csrf") || "";
let version = "";
const $ = (q, el = document) => el.querySelector(q);

async function api(method, path, body, raw, extra) {
  const headers = { ...(extra || {}) };
  if (method !== "GET") headers["X-CSRF-Token"] = csrf;
  if (body !== undefined && !raw) headers["Content-Type"] = "application/json";
  const res = await fetch(path, { method, headers, credentials: "same-origin",
                                  body: raw ? body : body === undefined ? undefined : JSON.stringify(body) });
  const data = await res.json().catch(() => ({}));
  if (res.status === 401) {
    // Logged in a moment ago: say why the login form is back.
    if (!$("#console").hidden)
      $("#login-message").textContent = "Your session ended (Tonewell restarted, or the password " +
        "changed, or 12 hours passed); log in again.";
    show(false);
    throw new Error("log in first");
  }
  if (!res.ok) throw new Error(data.error || res.statusText);
  return data;
}
function say(text) { $("#message").textContent = text || ""; }
function show(loggedIn) {
  $("#login").hidden = loggedIn; $("#console").hidden = !loggedIn;
  if (!loggedIn) $("#password").focus();
}

$("#login-form").addEventListener("submit", async e => {
  e.preventDefault();
  const res = await fetch("/api/login", { method: "POST", headers: { "Content-Type": "application/json" },
                                          body: JSON.stringify({ password: $("#password").value }) });
  const data = await res.json().catch(() => ({}));
  if (!res.ok) { $("#login-message").textContent = data.error || res.statusText; return; }
  csrf = data.csrf; sessionStorage.setItem("csrf", csrf);
  $("#password").value = ""; $("#login-message").textContent = "";
  show(true); refresh();
});
$("#logout").onclick = async () => { await api("POST", "/api/logout").catch(() => {}); show(false); };
$("#play").onclick = () => api("POST", "/api/playback", { play: true }).then(status).catch(e => say(e.message));
$("#pause").onclick = () => api("POST", "/api/playback", { play: false }).then(status).catch(e => say(e.message));

// A screen reader hears a change of track, message or state, not every second
// of the countdown.
let heard = "";
async function status() {
  const s = await api("GET", "/api/status");
  $("#status").textContent = s.status;
  const now = [s.state, s.music, s.voice].join(" ");
  if (now !== heard) {
    heard = now;
    $("#announce").textContent = `${s.state}` + (s.music ? `: ${s.music}` : "") + (s.voice ? `, message ${s.voice}` : "");
  }
  $("#details").textContent = `${s.state}; up ${Math.floor(s.uptime / 60)} min` +
    (s.failed.length ? `; ${s.failed.length} could not be loaded` : "");
  // One line per output: a second output that fails is seen beside the one that plays.
  $("#output").replaceChildren(...s.outputs.map(o => {
    const li = document.createElement("li");
    li.textContent = o.state;
    return li;
  }));
  // How far each sound has played, and the levels the fades and volumes set.
  const clock = t => `${Math.floor(t / 60)}:${String(t % 60).padStart(2, "0")}`;
  $("#played").textContent = [
    s.music ? `Music: ${clock(s.music_played)} of ${clock(s.music_length)}` : "",
    s.voice ? `Message: ${clock(s.voice_played)} of ${clock(s.voice_length)}` : ""].filter(Boolean).join(" · ");
  for (const kind of ["music", "voice"]) {
    $(`#${kind}-meter`).value = Math.max(-60, s[`${kind}_level`]);
    $(`#${kind}-db`).textContent = `${s[`${kind}_level`].toFixed(1)} dB`;
  }
  // The track that plays now, marked in its list.
  for (const [kind, name] of [["music", s.music], ["voice", s.voice]])
    for (const li of document.querySelectorAll(`section[data-kind=${kind}] ul.tracks li`)) {
      const playing = name !== null && li.dataset.shown === name;
      li.classList.toggle("playing", playing);
      if (playing) li.setAttribute("aria-current", "true"); else li.removeAttribute("aria-current");
    }
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
    const when = [t.date.on ? `${dayText(t.date.from.slice(5))} to ${dayText(t.date.to.slice(5))}, every year` : "",
                  t.time.on ? `${t.time.from.slice(0, 5)}-${t.time.to.slice(0, 5)}` : ""].filter(Boolean);
    const length = t.seconds === null ? "" : ` ${Math.floor(t.seconds / 60)}:${String(t.seconds % 60).padStart(2, "0")}`;
    label.append(box, " " + t.shown + length + (when.length ? ` (scheduled: ${when.join(", ")})` : ""));
    li.append(label);
    li.dataset.shown = t.shown;
    if (!t.in_schedule) li.className = "out";
    if (t.failed) { li.className = "failed"; li.title = t.failed; }
    ul.append(li);
  });
  const set = lists[kind + "_settings"];
  $(".coverage", sec).textContent = set.coverage;
  $(".order", sec).value = set.random ? "1" : "0";
  $(".volume", sec).value = set.volume;
  if ($(".gap", sec)) $(".gap", sec).value = String(set.gap);
  saved[kind] = set;
  canMove(sec);
}

// What each list's settings were when last saved: a refused value shows it again.
const saved = {};
// Move Up and Move Down only where one selected track can go.
function canMove(sec) {
  const rows = selected(sec), count = sec.querySelectorAll("ul.tracks li").length;
  $("button[data-act=up]", sec).disabled = rows.length !== 1 || rows[0] === 0;
  $("button[data-act=down]", sec).disabled = rows.length !== 1 || rows[0] === count - 1;
}
// An action's result, beside the list it was made on, until the next one there.
function result(sec, text, refused) {
  const p = $(".result", sec);
  p.textContent = text || "";
  p.classList.toggle("refused", !!refused);
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
        for (const f of files) {
          const o = new Option(category + " / " + f.file, f.name);
          o.dataset.category = category; o.dataset.file = f.file;
          add.append(o);
        }
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

// A month and a day as the API takes a date; the year is one with 29 February,
// and the player never reads it.
function monthDay(sec, end) {
  const pad = v => String(v).padStart(2, "0");
  return `2000-${pad($(`.${end}.month`, sec).value)}-${pad($(`.${end}.day`, sec).value)}`;
}
function selected(sec) { return [...sec.querySelectorAll(".tracks input:checked")].map(b => +b.dataset.row); }

async function edit(kind, action, body, done) {
  const sec = $(`section[data-kind=${kind}]`);
  try {
    const lists = await api("POST", `/api/lists/${kind}/${action}`, { version, ...body });
    version = lists.version; fillList("music", lists); fillList("voice", lists);
    result(sec, done || "");
    status();
    return true;
  } catch (e) {
    result(sec, e.message, true);
    return false;
  }
}

for (const sec of document.querySelectorAll("section[data-kind]")) {
  const kind = sec.dataset.kind;
  sec.addEventListener("change", e => { if (e.target.closest("ul.tracks")) canMove(sec); });
  sec.addEventListener("click", e => {
    const act = e.target.dataset && e.target.dataset.act;
    if (!act) return;
    const rows = selected(sec);
    if (act === "up" || act === "down") {
      if (rows.length !== 1) return result(sec, "Select one track to move.", true);
      edit(kind, "move", { row: rows[0], step: act === "up" ? -1 : 1 }).then(() => {
        // The moved track stays selected, so that it can move on.
        const box = sec.querySelector(`ul.tracks input[data-row="${rows[0] + (act === "up" ? -1 : 1)}"]`);
        if (box) { box.checked = true; canMove(sec); }
      });
    } else if (act === "remove") {
      if (!rows.length) return result(sec, "Select the tracks to delete.", true);
      edit(kind, "remove", { rows }, `${rows.length} deleted from the list.`);
    }
    else if (act === "clear") { if (confirm("Clear the whole list?")) edit(kind, "clear", {}, "The list is empty."); }
    else if (act === "add") edit(kind, "add", { names: [$(".add", sec).value] }, "Added at the end of the list.");
    else if (["preview", "rename-file", "delete-file", "new-category"].includes(act)) files(sec, kind, act);
    else if (act === "schedule") edit(kind, "schedule", {
      rows,
      date: { on: $(".date-on", sec).checked, from: monthDay(sec, "date-from"), to: monthDay(sec, "date-to") },
      time: { on: $(".time-on", sec).checked, from: $(".time-from", sec).value, to: $(".time-to", sec).value } });
  });
  $(".order", sec).onchange = e => edit(kind, "settings", { random: e.target.value === "1" });
  $(".volume", sec).onchange = e => {
    const text = e.target.value.trim(), volume = Number(text);
    if (text === "" || !Number.isInteger(volume) || volume < 0 || volume > 10) {
      e.target.value = saved[kind].volume;
      return result(sec, `A volume is a whole number from 0 to 10; it stays ${saved[kind].volume}.`, true);
    }
    edit(kind, "settings", { volume }, `Volume ${volume} saved.`);
  };
  if ($(".gap", sec)) $(".gap", sec).onchange = e => edit(kind, "settings", { gap: +e.target.value });
  // Each file's result on a line of its own, kept until the next upload.
  $(".file", sec).onchange = async e => {
    const lines = $(".uploads", sec);
    lines.replaceChildren();
    for (const file of e.target.files) {
      const li = document.createElement("li");
      li.textContent = `${file.name}: uploading...`;
      lines.append(li);
      let stored = null;
      try {
        const category = encodeURIComponent($(".category", sec).value);
        stored = await api("PUT", `/api/upload/${kind}/${category}/${encodeURIComponent(file.name)}`, file, true,
                           $(".replace", sec).checked ? { "X-Replace": "yes" } : undefined);
      } catch (err) {
        li.textContent = `${file.name}: not stored: ${err.message}`;
        li.classList.add("refused");
        continue;
      }
      if ($(".replace", sec).checked) {
        li.textContent = `${file.name}: replaced; the lists play the new one from its next start.`;
      } else if (await edit(kind, "add", { names: [stored.name] })) {
        li.textContent = `${file.name}: stored and added to the list.`;
      } else {
        li.textContent = `${file.name}: stored, but not added to the list (${$(".result", sec).textContent}); add it with Add.`;
        li.classList.add("refused");
      }
    }
    e.target.value = "";
    refresh();
  };
}

// The sounds folder: preview a file, rename or delete it (a file in a list is
// taken out of it first, once the admin agrees), make a category.
async function files(sec, kind, act) {
  const chosen = $(".add", sec).selectedOptions[0];
  if (act === "new-category") {
    const name = prompt("Name of the new category:");
    if (!name) return;
    try {
      await api("POST", `/api/sounds/${kind}/category`, { name });
      result(sec, `Category ${name} made.`);
      refresh();
    } catch (e) { result(sec, e.message, true); }
    return;
  }
  if (!chosen) return result(sec, "Choose a file first.", true);
  const { category, file } = chosen.dataset;
  if (act === "preview") {
    const player = $(".preview", sec);
    player.hidden = false;
    player.src = `/api/sound/${kind}/${encodeURIComponent(category)}/${encodeURIComponent(file)}`;
    player.play().catch(e => result(sec, `${file} cannot be played here: ${e.message}`, true));
    return;
  }
  const body = { category, file };
  if (act === "rename-file") {
    body.to = prompt(`New name for ${file}:`, file);
    if (!body.to || body.to === file) return;
  } else if (!confirm(`Delete ${category}/${file} from the sounds folder?`)) return;
  const action = act === "rename-file" ? "rename" : "delete";
  for (let attempt = 0; attempt < 2; ++attempt) {
    try {
      const lists = await api("POST", `/api/sounds/${kind}/${action}`, body);
      version = lists.version; fillList("music", lists); fillList("voice", lists);
      result(sec, action === "rename" ? `${file} is now ${body.to}.` : `${file} deleted.`);
      refresh();
      return;
    } catch (e) {
      // In a list: taken out of it first, if the admin agrees.
      if (attempt === 0 && / is in the list;/.test(e.message) &&
          confirm(`${file} is in the list. Take it out of the list and ${action} it?`)) {
        body.take_out = true;
        continue;
      }
      return result(sec, e.message, true);
    }
  }
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
// The admin's record, newest first, of one kind or all; downloaded as text.
async function record() {
  const kind = $("#log-kind").value;
  return (await api("GET", "/api/log")).lines.filter(l => !kind || l.kind === kind)
    .map(l => `${l.time} ${l.kind} ${l.text}`).join("\n");
}
$("#log-kind").onchange = () => $("#show-log").click();
$("#download-log").onclick = async () => {
  try {
    const a = document.createElement("a");
    a.href = URL.createObjectURL(new Blob([await record() + "\n"], { type: "text/plain" }));
    a.download = "tonewell-admin-record.txt";
    a.click();
    URL.revokeObjectURL(a.href);
  } catch (e) { say(e.message); }
};
$("#show-log").onclick = async () => {
  try { $("#log").textContent = await record(); } catch (e) { say(e.message); }
};
$("#save-take").onclick = async () => {
  const name = $("#take-name").value.trim();
  if (!/^[A-Za-z0-9 ]*[A-Za-z0-9][A-Za-z0-9 ]*$/.test(name))
    return say("Name the message with letters, digits and spaces only (for example \"Opening hours\").");
  try {
    const saved = await api("PUT", `/api/recording/${encodeURIComponent(name)}`, take, true);
    say(`Saved as ${saved.name} and added to the voice list.`);
    fillList("music", saved); fillList("voice", saved); version = saved.version;
    $("#save-take").disabled = true;
  } catch (e) { say(e.message); }
};

// A new password: the old one, and the new one twice; other sessions end.
$("#password-form").addEventListener("submit", async e => {
  e.preventDefault();
  const p = $("#password-result"), fresh = $("#new-password").value;
  p.classList.add("refused");
  if (fresh !== $("#new-again").value) return p.textContent = "The two new passwords differ.";
  if ([...fresh].length < 8) return p.textContent = "A password has at least 8 characters.";
  try {
    csrf = (await api("POST", "/api/password", { old: $("#old-password").value, new: fresh })).csrf;
    sessionStorage.setItem("csrf", csrf);
    for (const id of ["#old-password", "#new-password", "#new-again"]) $(id).value = "";
    p.classList.remove("refused");
    p.textContent = "Password changed; every other session has ended.";
  } catch (err) { p.textContent = err.message; }
});

// Listening that fails (the player stopped, four listen already) is said.
$("#listen").addEventListener("error", () =>
  say("Listening stopped: the console did not send the sound (is Tonewell running? at most four listen at once)."));

(async () => {
  // Any tab of a session works: its token comes from the session.
  try {
    csrf = (await api("GET", "/api/session")).csrf; sessionStorage.setItem("csrf", csrf);
    show(true); refresh();
  } catch (e) { show(false); }
  // Two polls in a row that fail: the page says the player is out of reach.
  let failed = 0;
  setInterval(() => {
    if ($("#console").hidden) return;
    status().then(() => {
      failed = 0; $("#lost").hidden = true; $("#status").classList.remove("stale");
    }).catch(() => {
      if (++failed >= 2) { $("#lost").hidden = false; $("#status").classList.add("stale"); }
    });
  }, 2000);
})();
