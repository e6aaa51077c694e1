// A small download manager on the page library's client: a row per
// download, kept up to date in place from the client's events; the plug-in's
// raw messages in a folded log; status changes told in a polite live region.
import { connect, onEvent } from '/page_library/halvo.mjs';
import * as format from './format.js';
import { finishedRow, updateFinishedRow, updateWorkingRow, workingRow } from './download_rows.js';

const MAX_MESSAGES = 200;
const $ = (id) => document.getElementById(id);
const rows = new Map(); // Download -> its row in one of the two tables
let client = null;

// The live region: what changed, in one short sentence at a time.
function tell(text) {
  $('status').textContent = text;
}

// Runs an action of the page; a refusal is told, never thrown at the person.
function attempt(what, action) {
  try {
    action();
    return true;
  } catch (error) {
    tell(`${what} failed: ${error.message}`);
    return false;
  }
}

function act(download, action) {
  const name = format.name(download);
  if (action === 'remove') {
    // An unfinished download goes with its partial file: nothing of it is kept.
    attempt(`removing ${name}`, () => download.remove({ deleteFile: true }));
  } else if (attempt(`${action} ${name}`, () => download[action]())) {
    if (action === 'show') tell(`${name} shown in the file manager`);
  }
}

// ---- the two tables -----------------------------------------------------------

function tableFor(download) {
  return download.state === 'complete' ? $('finished') : $('working');
}

function place(download) {
  const table = tableFor(download);
  let row = rows.get(download);
  if (row && row.closest('table') !== table) {
    // Finished: the row moves to the other table, and the keyboard's focus with it.
    const hadFocus = row.contains(document.activeElement);
    row.remove();
    row = null;
    rows.delete(download);
    if (hadFocus) queueMicrotask(() => rows.get(download)?.querySelector('button:not([hidden])')?.focus());
  }
  if (!row) {
    const body = table.tBodies[0];
    row = table.id === 'finished' ? finishedRow(body, download, act, askRemove) : workingRow(body, download, act);
    rows.set(download, row);
  } else if (table.id === 'finished') {
    updateFinishedRow(row, download);
  } else {
    updateWorkingRow(row, download);
  }
  showEmpty();
}

function drop(download) {
  const row = rows.get(download);
  if (!row) return;
  const hadFocus = row.contains(document.activeElement);
  const table = row.closest('table');
  row.remove();
  rows.delete(download);
  showEmpty();
  if (hadFocus) $(`${table.id}-title`).focus();
}

// An empty table is not shown: its sentence says so instead.
function showEmpty() {
  for (const [table, sentence] of [['working', 'no-work'], ['finished', 'no-finished']]) {
    const empty = $(table).tBodies[0].rows.length === 0;
    $(table).hidden = empty;
    $(sentence).hidden = !empty;
  }
  let running = 0;
  let total = 0;
  rows.forEach((row, download) => {
    if (download.state !== 'downloading') return;
    running++;
    total += download.speed;
  });
  $('speed').textContent = running ? `${running} running, ${format.speed(total) || '0 B/s'}` : '';
}

// What a person hears when a download's state turns.
function announce(event) {
  const { download, state } = event;
  const name = format.name(download);
  if (state === 'complete') tell(`${name} is complete`);
  else if (state === 'failed') tell(`${name} failed: ${download.message}`);
  else if (state === 'removed') tell(`${name} removed`);
  else tell(`${name}: ${state}`);
}

function follow(download) {
  download.addEventListener('statechange', announce);
  place(download);
}

// ---- removing a finished file: asked first, naming it ----------------------------

function askRemove(download) {
  const dialog = $('confirm-remove');
  const form = dialog.querySelector('form');
  form.reset();
  $('confirm-title').textContent = `Remove ${format.name(download)} from the list?`;
  $('confirm-file').textContent = download.path;
  dialog.returnValue = '';
  dialog.onclose = () => {
    if (dialog.returnValue !== 'remove') return;
    const deleteFile = form.elements.deleteFile.checked;
    attempt(`removing ${format.name(download)}`, () => download.remove({ deleteFile }));
  };
  dialog.showModal();
}

// ---- the forms ------------------------------------------------------------------------

function numberOrNothing(field) {
  return field.value.trim() === '' ? undefined : Number(field.value);
}

// What this page set; the plug-in cannot read the engine's settings back.
function showSettings() {
  const known = client ? client.settings : {};
  const form = $('settings').elements;
  if (known.speedLimit !== undefined) form.limit.value = known.speedLimit;
  if (known.maxDownloads !== undefined) form.count.value = known.maxDownloads;
  const parts = [];
  if (known.speedLimit !== undefined) parts.push(known.speedLimit ? `speed limit ${known.speedLimit} KiB/s` : 'no speed limit');
  if (known.maxDownloads !== undefined) parts.push(`${known.maxDownloads} downloads at once`);
  $('settings-known').textContent = parts.length
    ? `Last set from this page: ${parts.join(', ')}.`
    : 'Not set from this page yet. The engine keeps what was set before; the plug-in cannot read it back.';
}

function onSettings(submitted) {
  submitted.preventDefault();
  const form = submitted.target.elements;
  const values = { speedLimit: numberOrNothing(form.limit), maxDownloads: numberOrNothing(form.count) };
  if (attempt('applying the settings', () => client.set(values))) tell('settings applied');
  showSettings();
}

function onAdd(submitted) {
  submitted.preventDefault();
  const form = submitted.target.elements;
  let download = null;
  const added = attempt(`adding ${form.url.value}`, () => {
    download = client.add({
      url: form.url.value,
      folder: form.folder.value,
      fileName: form.fileName.value,
      referrer: location.href,
      connections: Number(form.connections.value) || 1,
      paused: form.paused.checked,
    });
  });
  if (added) tell(`added ${format.name(download)}`);
}

// ---- the raw messages, folded away ------------------------------------------------

let messageCount = 0;

function logMessage(data) {
  const list = $('messages');
  const item = document.createElement('li');
  item.textContent = data;
  list.append(item);
  while (list.children.length > MAX_MESSAGES) list.firstChild.remove();
  messageCount++;
  $('message-count').textContent = String(messageCount);
}

// ---- start ----------------------------------------------------------------------------

function start() {
  // An address may suggest what to download: ?url=...&folder=...&fileName=...
  const query = new URLSearchParams(location.search);
  for (const name of ['url', 'folder', 'fileName']) {
    if (query.get(name)) $('add').elements[name].value = query.get(name);
  }
  $('add').addEventListener('submit', onAdd);
  $('settings').addEventListener('submit', onSettings);
  onEvent((event, message) => logMessage(message.data));
  try {
    client = connect($('halvo'));
  } catch (error) {
    const why = {
      'plugin-missing': 'The Halvo plug-in is not there: nothing can be downloaded from this page.',
      'page-not-allowed': 'This site may not use the download engine (or none is installed).',
    }[error.code] || `The download engine does not answer: ${error.message}`;
    $('engine').textContent = why;
    for (const form of [$('add'), $('settings')]) form.querySelector('fieldset').disabled = true;
    showSettings();
    return;
  }
  $('engine').textContent = `Engine ready · peer ${client.peerId} · ${client.ip}`;
  client.downloads().forEach(follow);
  client.on('created', follow);
  client.on('changed', place);
  client.on('erased', drop);
  showSettings();
  showEmpty();
}

start();
// For the tests: the client and the row of a download.
window.halvoDemo = { client, row: (download) => rows.get(download) || null, messageCount: () => messageCount };
