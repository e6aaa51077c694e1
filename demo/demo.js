// A small download manager on the Halvo page library: the working list is fed
// by the plug-in's event messages, the finished list by LoadFinishTask.
(function () {
  'use strict';

  var element = document.getElementById('halvo');
  var halvo = new Halvo.Transfer(element);
  var tasks = new Map(); // key -> latest event or record
  var finished = [];
  var messageCount = 0;
  var MAX_MESSAGES = 200;

  function $(id) { return document.getElementById(id); }

  function show(text) {
    $('status').textContent = text;
  }

  // Every call's status, in words when it is not OK.
  function run(what, call) {
    try {
      var status = call();
      if (typeof status === 'number' && status !== Halvo.Status.OK) show(what + ': ' + Halvo.statusName(status) + ' (' + status + ')');
      else show(what + ': done');
      return status;
    } catch (error) {
      show(what + ' failed: ' + error.message);
      return null;
    }
  }

  function bytes(count) {
    if (!(count >= 0)) return '?';
    var units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
    var unit = 0;
    while (count >= 1024 && unit < units.length - 1) {
      count /= 1024;
      unit++;
    }
    return (unit === 0 ? count : count.toFixed(1)) + ' ' + units[unit];
  }

  function cell(row, text, className) {
    var td = row.insertCell();
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function button(parent, label, action) {
    var b = document.createElement('button');
    b.type = 'button';
    b.className = 'small';
    b.textContent = label;
    b.addEventListener('click', action);
    parent.appendChild(b);
    parent.appendChild(document.createTextNode(' '));
  }

  function percentOf(task) {
    if (task.size > 0) return Math.min(100, (task.done / task.size) * 100);
    return typeof task.percent === 'number' && !Number.isNaN(task.percent) ? task.percent : 0;
  }

  function stateText(task) {
    if (task.state === Halvo.TaskState.FAILED && task.message) return 'failed: ' + task.message;
    return task.stateName || String(task.state);
  }

  function renderWorking() {
    var body = $('working').tBodies[0];
    body.textContent = '';
    tasks.forEach(function (task, key) {
      var row = body.insertRow();
      row.dataset.key = key;
      cell(row, task.fileName || key);
      var bar = row.insertCell();
      var percent = percentOf(task);
      bar.innerHTML = '<div class="bar"><div></div><span></span></div>';
      bar.querySelector('.bar > div').style.width = percent.toFixed(1) + '%';
      bar.querySelector('.bar > span').textContent = percent.toFixed(1) + ' %';
      cell(row, bytes(task.done) + ' / ' + bytes(task.size));
      cell(row, task.speed > 0 ? bytes(task.speed) + '/s' : '');
      cell(row, stateText(task), 'state-' + (task.stateName || ''));
      var actions = cell(row, '', 'actions');
      button(actions, 'Stop', function () { run('stop', function () { return halvo.stopDownload(key); }); });
      button(actions, 'Resume', function () {
        run('resume', function () { return halvo.createDownload(task.url, task.folder, task.fileName, '', 0, 0); });
      });
      button(actions, 'Cancel', function () { run('cancel', function () { return halvo.cancelDownload(key); }); });
      button(actions, 'Delete', function () {
        if (run('delete', function () { return halvo.deleteDownload(key, '', true); }) === Halvo.Status.OK) {
          tasks.delete(key);
          renderWorking();
        }
      });
    });
    $('no-work').hidden = tasks.size > 0;
    showSpeed();
  }

  // The getters answer with a status only: the running count and speed come from the events.
  function showSpeed() {
    var downloading = 0, speed = 0;
    tasks.forEach(function (task) {
      if (task.state === Halvo.TaskState.DOWNLOADING) {
        downloading++;
        speed += task.speed || 0;
      }
    });
    $('speed').textContent = downloading ? downloading + ' running, ' + bytes(speed) + '/s' : '';
  }

  function renderFinished() {
    var body = $('finished').tBodies[0];
    body.textContent = '';
    finished.forEach(function (entry) {
      var row = body.insertRow();
      row.dataset.key = entry.key;
      cell(row, entry.fileName);
      cell(row, bytes(entry.size));
      cell(row, entry.path);
      cell(row, entry.finished);
      var actions = cell(row, '', 'actions');
      button(actions, 'Show', function () { run('show', function () { return halvo.executeFile(entry.path, true); }); });
      button(actions, 'Remove', function () {
        run('remove', function () { return halvo.deleteDownload(entry.key, entry.path, false); });
        loadFinished();
      });
    });
    $('no-finished').hidden = finished.length > 0;
  }

  function loadFinished() {
    var answer = halvo.loadFinishTask();
    if (answer.status === Halvo.Status.OK) finished = answer.tasks.filter(Boolean);
    renderFinished();
  }

  function loadWorking() {
    var answer = halvo.loadWorkTask();
    if (answer.status !== Halvo.Status.OK) return answer.status;
    answer.tasks.forEach(function (record) { if (record) tasks.set(record.key, record); });
    renderWorking();
    return answer.status;
  }

  function logMessage(text) {
    var list = $('messages');
    var item = document.createElement('li');
    item.textContent = text;
    list.appendChild(item);
    while (list.children.length > MAX_MESSAGES) list.removeChild(list.firstChild);
    list.scrollTop = list.scrollHeight;
    messageCount++;
  }

  Halvo.onEvent(function (event, message) {
    logMessage(message.data);
    if (event.kind === Halvo.EventKind.FINISHED) {
      tasks.delete(event.key);
      renderWorking();
      // A completed file, or a finished entry removed: the Finished list changed.
      // A deleted working task (no finish time) leaves it as it is.
      if (event.complete || event.finished) loadFinished();
      return;
    }
    tasks.set(event.key, event);
    renderWorking();
  });

  $('add').addEventListener('submit', function (submitted) {
    submitted.preventDefault();
    var form = submitted.target.elements;
    var flags = form.stopped.checked ? Halvo.AddFlags.STOPPED : 0;
    run('add ' + form.url.value, function () {
      return halvo.createDownload(form.url.value, form.folder.value, form.fileName.value, location.href,
        Number(form.connections.value) || 1, flags);
    });
  });

  $('settings').addEventListener('submit', function (submitted) {
    submitted.preventDefault();
    var form = submitted.target.elements;
    run('speed limit', function () { return halvo.setLimitSpeed(Number(form.limit.value) || 0, 0); });
    var status = run('downloads at once', function () { return halvo.setMaxDownloadCount(Number(form.count.value)); });
    if (status === Halvo.Status.OK) show('settings applied');
  });


  function start() {
    if (typeof element.GetPeerID !== 'function') {
      $('engine').textContent = 'the plug-in is not there';
      return;
    }
    var peer = element.GetPeerID();
    if (typeof peer === 'number') {
      $('engine').textContent = 'no download engine (' + Halvo.statusName(peer) + ')';
      return;
    }
    $('engine').textContent = 'engine ready · peer ' + peer + ' · ' + element.GetIP();
    loadWorking();
    loadFinished();
  }

  // An address may suggest what to download: ?url=...&folder=...&fileName=...
  var query = new URLSearchParams(location.search);
  ['url', 'folder', 'fileName'].forEach(function (name) {
    if (query.get(name)) $('add').elements[name].value = query.get(name);
  });

  start();
  window.halvoDemo = {
    tasks: tasks,
    finished: function () { return finished; },
    messageCount: function () { return messageCount; },
  };
})();
