// The rows of the demo's two tables, one per download, made once and then
// updated in place: a focused button, or one being clicked, survives every
// event. Each row offers only the actions valid in its download's state.
import * as format from './format.js';

function setText(node, text) {
  if (node.textContent !== text) node.textContent = text;
}

function setAttribute(node, name, value) {
  if (value === null) node.removeAttribute(name);
  else if (node.getAttribute(name) !== value) node.setAttribute(name, value);
}

function button(parent, part, onClick) {
  const b = document.createElement('button');
  b.type = 'button';
  b.className = 'small';
  b.dataset.part = part;
  b.addEventListener('click', onClick);
  parent.append(b, ' ');
  return b;
}

function cell(row, part) {
  const td = row.insertCell();
  td.dataset.part = part;
  return td;
}

// Pause and its counterparts share one button, so that its focus stays when the state turns.
function toggleLabel(download) {
  const actions = download.actions;
  if (actions.includes('pause')) return 'Pause';
  if (!actions.includes('resume')) return null;
  if (download.state === 'failed') return 'Retry';
  if (download.state === 'cancelled') return 'Start again';
  return 'Resume';
}

function showButton(b, label, name, spoken = `${label} ${name}`) {
  b.hidden = label === null;
  if (label === null) return;
  setText(b, label);
  setAttribute(b, 'aria-label', spoken);
}

// A button that is hidden under the keyboard's focus hands it to another of
// its row, or to the row itself while it offers none (a download completing).
function keepFocus(row) {
  const focused = document.activeElement;
  if (!focused || !row.contains(focused) || !focused.hidden) return;
  const next = [...row.querySelectorAll('button')].find((candidate) => !candidate.hidden);
  if (next) {
    next.focus();
  } else {
    row.tabIndex = -1;
    row.focus();
  }
}

export function workingRow(body, download, act) {
  const row = body.insertRow();
  row.dataset.key = download.key;
  cell(row, 'file');
  const progress = cell(row, 'progress');
  const bar = document.createElement('div');
  bar.className = 'bar';
  bar.setAttribute('role', 'progressbar');
  bar.setAttribute('aria-valuemin', '0');
  bar.setAttribute('aria-valuemax', '100');
  bar.append(document.createElement('div'));
  const figure = document.createElement('span');
  figure.className = 'figure';
  progress.append(bar, figure);
  cell(row, 'size');
  cell(row, 'speed');
  cell(row, 'left');
  cell(row, 'state');
  const actions = cell(row, 'actions');
  actions.className = 'actions';
  button(actions, 'toggle', () => act(download, download.actions.includes('pause') ? 'pause' : 'resume'));
  button(actions, 'cancel', () => act(download, 'cancel'));
  button(actions, 'remove', () => act(download, 'remove'));
  updateWorkingRow(row, download);
  return row;
}

export function updateWorkingRow(row, download) {
  const part = (name) => row.querySelector(`[data-part="${name}"]`);
  const name = format.name(download);
  setText(part('file'), name);
  setAttribute(part('file'), 'title', download.url);
  const percent = format.percent(download);
  const bar = part('progress').querySelector('.bar');
  const sizes = download.totalBytes === null ? format.bytes(download.bytesReceived)
    : `${format.bytes(download.bytesReceived)} of ${format.bytes(download.totalBytes)}`;
  setAttribute(bar, 'aria-label', `Progress of ${name}`);
  setAttribute(bar, 'aria-valuenow', percent === null ? null : String(Math.floor(percent)));
  setAttribute(bar, 'aria-valuetext', percent === null ? `${format.bytes(download.bytesReceived)}, size unknown`
    : `${Math.floor(percent)} percent, ${sizes}`);
  bar.firstChild.style.width = `${percent === null ? 0 : percent.toFixed(1)}%`;
  setText(part('progress').querySelector('.figure'), percent === null ? '' : `${percent.toFixed(1)} %`);
  setText(part('size'), sizes);
  setText(part('speed'), download.state === 'downloading' ? format.speed(download.speed) : '');
  setText(part('left'), download.state === 'downloading' ? format.duration(download.eta) || 'unknown' : '');
  const state = part('state');
  state.className = `state-${download.state}`;
  setText(state, download.state === 'failed' || (download.message && download.state === 'queued')
    ? `${download.state}: ${download.message}` : download.state);
  showButton(part('toggle'), toggleLabel(download), name);
  showButton(part('cancel'), download.actions.includes('cancel') ? 'Cancel' : null, name);
  showButton(part('remove'), download.actions.includes('remove') ? 'Remove' : null, name);
  keepFocus(row);
}

export function finishedRow(body, download, act, askRemove) {
  const row = body.insertRow();
  row.dataset.key = download.key;
  row.dataset.path = download.path || '';
  cell(row, 'file');
  cell(row, 'size');
  cell(row, 'path');
  const when = cell(row, 'finished').appendChild(document.createElement('time'));
  when.dataset.part = 'time';
  const actions = cell(row, 'actions');
  actions.className = 'actions';
  button(actions, 'show', () => act(download, 'show'));
  button(actions, 'remove', () => askRemove(download));
  updateFinishedRow(row, download);
  return row;
}

export function updateFinishedRow(row, download) {
  const part = (name) => row.querySelector(`[data-part="${name}"]`);
  const name = format.name(download);
  setText(part('file'), name);
  setAttribute(part('file'), 'title', download.url);
  setText(part('size'), format.bytes(download.totalBytes));
  setText(part('path'), download.path || '');
  const time = part('time');
  setAttribute(time, 'datetime', download.endTime ? download.endTime.toISOString() : null);
  setText(time, format.localTime(download.endTime));
  showButton(part('show'), download.actions.includes('show') ? 'Show' : null, name);
  showButton(part('remove'), download.actions.includes('remove') ? 'Remove…' : null, name, `Remove ${name}…`);
  keepFocus(row);
}
