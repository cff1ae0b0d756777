// The switchers of a site on one page. Every state shown is one the service read back from a
// switcher: a tap sends the command and the page shows the answer's reading, never the wish.
'use strict';

const INPUTS = 4;
const OUTPUTS = 2;
const TOKEN_KEY = 'corvane-token';

const switchers = new Map();  // id -> view
let edidNames = [];
let scenes = {scenes: [], switchers: []};
let socket = null;
let retryMs = 500;

const $ = (root, selector) => root.querySelector(selector);

function token() { return sessionStorage.getItem(TOKEN_KEY) || ''; }

function say(text) { document.getElementById('service').textContent = text; }

class Unauthorized extends Error {}

async function api(path, body) {
  const options = {headers: {}};
  if (token()) options.headers.Authorization = 'Bearer ' + token();
  if (body !== undefined) {
    options.method = 'POST';
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  const response = await fetch(path, options);
  if (response.status === 401) throw new Unauthorized((await response.json().catch(() => ({}))).error || 'sign in');
  const answer = await response.json().catch(() => ({error: 'the service gave no readable answer'}));
  return {status: response.status, answer};
}

// ---- building a switcher's section -------------------------------------------------------

function makeView(summary) {
  const section = document.getElementById('switcher').content.firstElementChild.cloneNode(true);
  const id = summary.id;
  const headingId = 'switcher-' + id.replace(/[^A-Za-z0-9_-]/g, '_');
  section.setAttribute('aria-labelledby', headingId);
  const heading = $(section, 'h2');
  heading.id = headingId;
  heading.textContent = summary.name || id;
  const view = {id, section, radios: [], outputSignals: [], inputSignals: [], edids: [], state: null};

  const outputs = $(section, '.outputs');
  for (let o = 1; o <= OUTPUTS; ++o) {
    const group = document.createElement('fieldset');
    group.className = 'output';
    const legend = document.createElement('legend');
    legend.textContent = 'Output ' + o;
    group.append(legend);
    const row = document.createElement('div');
    row.className = 'choices';
    const radios = [];
    for (let i = 1; i <= INPUTS; ++i) {
      const label = document.createElement('label');
      const radio = document.createElement('input');
      radio.type = 'radio';
      radio.name = headingId + '-output-' + o;
      radio.value = String(i);
      // The route changes when the switcher says so, not when the radio is pressed.
      radio.addEventListener('click', (event) => {
        event.preventDefault();
        const shown = view.state && view.state.outputs[o - 1] && view.state.outputs[o - 1].input;
        if (shown === i) return;
        command(view, 'route', {output: o, input: i}, `Output ${o} to IN${i}`);
      });
      label.append(radio, ' IN' + i);
      row.append(label);
      radios.push(radio);
    }
    const signal = document.createElement('p');
    signal.className = 'signal';
    group.append(row, signal);
    outputs.append(group);
    view.radios.push(radios);
    view.outputSignals.push(signal);
  }

  const inputs = $(section, '.inputs');
  for (let i = 1; i <= INPUTS; ++i) {
    const item = document.createElement('li');
    const name = document.createElement('span');
    name.className = 'input-name';
    name.textContent = 'IN' + i;
    const signal = document.createElement('span');
    signal.className = 'signal';
    const label = document.createElement('label');
    const select = document.createElement('select');
    select.id = headingId + '-edid-' + i;
    label.htmlFor = select.id;
    label.textContent = `IN${i} EDID`;
    label.className = 'visually-hidden';
    select.addEventListener('change', () => {
      const wanted = select.value;
      showEdid(view, i);  // the reading stays until the switcher has answered
      command(view, 'edid', {input: i, edid: wanted}, `IN${i} EDID ${wanted}`);
    });
    item.append(name, signal, label, select);
    inputs.append(item);
    view.inputSignals.push(signal);
    view.edids.push(select);
  }

  for (const [cls, key, what] of [['beep', 'beep', 'Beep'], ['dvi', 'dvi', 'DVI compatibility']]) {
    $(section, '.' + cls).addEventListener('click', () => {
      if (!view.state) return;
      const on = !view.state[key];
      command(view, key, {[key]: on}, `${what} ${on ? 'on' : 'off'}`);
    });
  }
  $(section, '.refresh').addEventListener('click', () => command(view, 'refresh', undefined, 'Refresh'));
  switchers.set(id, view);
  document.getElementById('switchers').append(section);
  fillEdidNames(view);
  showAvailability(view, summary.online, summary.online ? '' : 'not reached yet');
  return view;
}

function fillEdidNames(view) {
  view.edids.forEach((select, k) => {
    if (select.options.length === edidNames.length) return;
    select.replaceChildren(...edidNames.map((name) => new Option(name, name)));
    showEdid(view, k + 1);
  });
}

// ---- showing what the switcher reported --------------------------------------------------

function showAvailability(view, online, why) {
  if (view.state) Object.assign(view.state, {online, error: why});
  const line = $(view.section, '.availability');
  line.textContent = online ? 'Online' : 'Away' + (why ? ': ' + why : '');
  line.classList.toggle('away', !online);
  view.section.classList.toggle('is-away', !online);
  $(view.section, '.controls').disabled = !online;
}

function showEdid(view, input) {
  const select = view.edids[input - 1];
  const shown = view.state && view.state.inputs[input - 1] ? view.state.inputs[input - 1].edid : '';
  if (shown && ![...select.options].some((o) => o.value === shown)) select.append(new Option(shown, shown));
  select.value = shown;
  if (!shown) select.selectedIndex = -1;
}

function signalText(on) { return on ? 'signal' : 'no signal'; }

function showState(view, state) {
  if (!state || !Array.isArray(state.inputs)) return;
  view.state = state;
  showAvailability(view, state.online !== false, state.error || '');
  for (let o = 1; o <= OUTPUTS; ++o) {
    const out = state.outputs[o - 1] || {};
    view.radios[o - 1].forEach((radio, k) => { radio.checked = out.input === k + 1; });
    view.outputSignals[o - 1].textContent = 'Output ' + o + ': ' + signalText(out.signal);
  }
  for (let i = 1; i <= INPUTS; ++i) {
    const inp = state.inputs[i - 1] || {};
    view.inputSignals[i - 1].textContent = signalText(inp.signal);
    showEdid(view, i);
  }
  $(view.section, '.beep').setAttribute('aria-checked', String(state.beep === true));
  $(view.section, '.dvi').setAttribute('aria-checked', String(state.dvi === true));
  $(view.section, '.device').textContent = state.device ? state.device.line : '';
}

function showScenes() {
  for (const view of switchers.values()) {
    const box = $(view.section, '.presets');
    const matched = (scenes.switchers.find((s) => s.id === view.id) || {}).scene;
    $(view.section, '.presets-block').hidden = scenes.scenes.length === 0;
    if (box.children.length !== scenes.scenes.length ||
        [...box.children].some((b, k) => b.textContent !== scenes.scenes[k])) {
      box.replaceChildren(...scenes.scenes.map((name) => {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = name;
        button.addEventListener('click', () => command(view, 'scene', {scene: name}, 'Preset ' + name));
        return button;
      }));
    }
    for (const button of box.children) button.setAttribute('aria-pressed', String(button.textContent === matched));
  }
}

// A scene's report in words: what changed and what did not take.
function reportText(report) {
  if (!report) return '';
  const parts = [];
  const changes = report.changes || [];
  if (changes.length) parts.push('changed ' + changes.map((c) => `${c.setting} to ${c.to}`).join(', '));
  else parts.push('nothing to change');
  const wrong = report.mismatches || [];
  if (wrong.length) parts.push('did not take: ' + wrong.map((m) => `${m.setting} (${m.why || 'shows ' + m.switcher})`).join(', '));
  const unread = report.not_read_back || [];
  if (unread.length) parts.push('not read back: ' + unread.map((u) => (typeof u === 'string' ? u : u.setting)).join(', '));
  return parts.join('; ');
}

// ---- commands ----------------------------------------------------------------------------

// Commands waiting for their answer on the stream: ref -> the promise's resolve.
const answers = new Map();
let lastRef = 0;

// A command over the open stream: it reaches the service without a new request, and its answer
// (the HTTP answer's fields) comes back on the stream, tied to it by a ref. A refusal there is
// as the HTTP 503: the reading says why.
function overStream(id, path, body) {
  return new Promise((resolve) => {
    const ref = String(++lastRef);
    answers.set(ref, (answer) => resolve({status: answer.switcher ? 200 : 503, answer}));
    socket.send(JSON.stringify(Object.assign({id, command: path}, body, {ref})));
  });
}

// The stream ended: what waits for an answer over it will get none.
function noAnswers() {
  const waiting = [...answers.values()];
  answers.clear();
  for (const resolve of waiting) resolve({switcher: null, lost: true});
}

// Commands to one switcher go to the service in the order tapped; it carries them out in turn.
async function command(view, path, body, what) {
  const result = $(view.section, '.result');
  result.textContent = what + '…';
  try {
    const {status, answer} = socket && socket.readyState === WebSocket.OPEN
      ? await overStream(view.id, path, body)
      : await api(`/api/switchers/${encodeURIComponent(view.id)}/${path}`, body);
    if (answer.lost) {
      // Carried out or not: the reading after the reconnection shows the switcher as it is.
      result.textContent = what + ': not known, the connection to the service ended.';
      return;
    }
    if (answer.switcher) showState(view, answer.switcher);
    if (status === 503) {
      result.textContent = what + ': not done, ' + (answer.error || 'the service is busy') + '.';
      readSoon(view.id);  // away or not: the service's reading says
    } else if (answer.ok) {
      const report = reportText(answer.report);
      result.textContent = what + ': done' + (report ? ' (' + report + ')' : '') + '.';
    } else {
      const report = reportText(answer.report);
      result.textContent = what + ': not done, ' + (answer.error || 'HTTP ' + status) + (report ? ' (' + report + ')' : '') + '.';
    }
  } catch (error) {
    if (error instanceof Unauthorized) askToken(error.message);
    result.textContent = what + ': not done, ' + (error.message || 'the service did not answer') + '.';
  } finally {
    if (view.state) showState(view, view.state);
    refreshScenes();
  }
}

// A change the switcher reported, as the stream carries it, into the state shown.
function apply(state, e) {
  if ('command' in e) return false;  // a command's result: its reading follows as changes
  const output = state.outputs[e.output - 1];
  const input = state.inputs[e.input - 1];
  if (output && 'route' in e) output.input = e.route;
  else if (output && 'signal' in e) output.signal = e.signal;
  else if (input && 'signal' in e) input.signal = e.signal;
  else if (input && 'edid' in e) input.edid = e.edid;
  else if ('beep' in e) state.beep = e.beep;
  else if ('dvi' in e) state.dvi = e.dvi;
  else return false;
  return true;
}

// ---- reading and following the service ---------------------------------------------------

const pending = new Map();  // id -> timer of a reading to come

async function readSwitcher(id) {
  const view = switchers.get(id);
  if (!view) return;
  const {status, answer} = await api('/api/switchers/' + encodeURIComponent(id));
  if (status === 503 && !view.state) showAvailability(view, false, answer.error || 'offline');
  else if (status === 503) showState(view, Object.assign(view.state, {online: false, error: answer.error || ''}));
  else if (status === 200) showState(view, answer);
}

function readSoon(id) {
  if (pending.has(id)) return;
  pending.set(id, setTimeout(() => {
    pending.delete(id);
    readSwitcher(id).then(refreshScenes).catch(failed);
  }, 50));
}

let scenesTimer = null;
function refreshScenes() {
  clearTimeout(scenesTimer);
  scenesTimer = setTimeout(async () => {
    try {
      const {status, answer} = await api('/api/scenes');
      if (status === 200 && Array.isArray(answer.scenes)) {
        scenes = answer;
        showScenes();
      }
    } catch (error) { failed(error); }
  }, 50);
}

function follow() {
  const url = new URL('/api/events', location.href);
  url.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
  if (token()) url.searchParams.set('access_token', token());
  socket = new WebSocket(url);
  socket.onopen = () => { retryMs = 500; say('Live'); switchers.forEach((v) => readSoon(v.id)); };
  socket.onmessage = (message) => {
    let event;
    try { event = JSON.parse(message.data); } catch { return; }
    if (typeof event.ref === 'string') {
      const resolve = answers.get(event.ref);
      answers.delete(event.ref);
      if (resolve) resolve(event);
      return;
    }
    const view = switchers.get(event.id);
    if (!view) return;
    if (event.online === false) showAvailability(view, false, event.error || '');
    if (view.state && apply(view.state, event)) showState(view, view.state);
    readSoon(event.id);
  };
  socket.onclose = () => {
    noAnswers();
    say('Reconnecting to the service…');
    setTimeout(follow, retryMs);
    retryMs = Math.min(retryMs * 2, 10000);
  };
}

function failed(error) {
  if (error instanceof Unauthorized) askToken(error.message);
  else say('The service did not answer: ' + error.message);
}

function askToken(why) {
  const form = document.getElementById('sign-in');
  if (!form.hidden) return;
  form.hidden = false;
  document.getElementById('sign-in-error').textContent = token() ? why : '';
  say('Sign in to see the switchers.');
  document.getElementById('token').focus();
}

async function start() {
  try {
    const {status, answer} = await api('/api/switchers');
    if (status !== 200) throw new Error(answer.error || 'HTTP ' + status);
    const list = Array.isArray(answer) ? answer : answer.switchers || [];
    if (!edidNames.length) {  // the sixteen names, as the API document gives them
      const {answer: doc} = await api('/api/openapi.json');
      edidNames = (((doc.components || {}).schemas || {}).EdidName || {}).enum || [];
    }
    document.getElementById('sign-in').hidden = true;
    for (const summary of list) if (!switchers.has(summary.id)) makeView(summary);
    if (!list.length) say('The service holds no switchers.');
    await Promise.all(list.map((s) => readSwitcher(s.id)));
    refreshScenes();
    if (!socket) follow();
  } catch (error) {
    failed(error);
  }
}

document.getElementById('sign-in').addEventListener('submit', (event) => {
  event.preventDefault();
  sessionStorage.setItem(TOKEN_KEY, document.getElementById('token').value.trim());
  document.getElementById('sign-in').hidden = true;
  start();
});

start();
