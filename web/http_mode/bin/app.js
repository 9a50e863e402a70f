// The web-share page: asks for the device's code, lists the files it shares, downloads,
// shows and plays them, and reloads the list when the device says its files changed.
// Everything comes from the device itself; the code lives in this tab's session only.
'use strict';

(function () {
  const API = '/http_mode_api/v1';
  const CODE_HEADER = 'x_mesk_web_mode_code';
  const CODE_KEY = 'mesk.web_share.code';

  const KINDS = {
    image: ['jpg', 'jpeg', 'png', 'gif', 'webp', 'bmp', 'avif', 'ico'],
    video: ['mp4', 'm4v', 'webm', 'ogv', 'mov', 'mkv'],
    audio: ['mp3', 'm4a', 'aac', 'wav', 'ogg', 'oga', 'opus', 'flac'],
    document: ['pdf', 'txt', 'doc', 'docx', 'odt', 'rtf', 'md', 'xls', 'xlsx', 'ods', 'csv', 'ppt', 'pptx', 'odp'],
    archive: ['zip', 'rar', '7z', 'tar', 'gz', 'tgz', 'bz2', 'xz'],
  };
  const KIND_LABELS = {
    image: 'Image', video: 'Video', audio: 'Audio', document: 'Document', archive: 'Archive', other: 'File',
  };
  // What the browser can show or play in place; everything else is downloaded.
  const VIEWABLE = new Set(['image', 'video', 'audio']);

  const $ = (id) => document.getElementById(id);
  const ui = {
    device: $('device'), live: $('live'), lock: $('lock'),
    entry: $('entry'), form: $('code-form'), code: $('code'), open: $('open'), entryMessage: $('entry-message'),
    shared: $('shared'), count: $('count'), listMessage: $('list-message'), empty: $('empty'), files: $('files'),
    viewer: $('viewer'), viewerTitle: $('viewer-title'), viewerBody: $('viewer-body'),
    viewerDownload: $('viewer-download'), viewerClose: $('viewer-close'),
  };

  let code = readCode();
  let lockTimer = null;
  let loading = null;   // the list request under way
  let reloadAgain = false;  // a notice came while it ran
  let socket = null;
  let reconnectDelay = 1000;
  let reconnectTimer = null;

  // ---- the code, for this tab only ----

  function readCode() {
    try { return sessionStorage.getItem(CODE_KEY) || ''; } catch (e) { return ''; }
  }
  function keepCode(value) {
    code = value;
    try {
      if (value) sessionStorage.setItem(CODE_KEY, value); else sessionStorage.removeItem(CODE_KEY);
    } catch (e) { /* private mode: the code lives in this page only */ }
  }

  // ---- the device's API ----

  async function api(path, withCode) {
    const headers = {};
    if (withCode) headers[CODE_HEADER] = withCode;
    const response = await fetch(API + path, { headers, cache: 'no-store' });
    let body = null;
    if (response.ok) {
      const text = await response.text();
      try { body = text ? JSON.parse(text) : null; } catch (e) { body = null; }
    }
    return { status: response.status, retryAfter: Number(response.headers.get('Retry-After')) || 0, body };
  }

  function fileUrl(file) {
    return '/file/v1/' + encodeURIComponent(file.id) + '?code=' + encodeURIComponent(code);
  }

  // ---- words ----

  function extensionOf(name) {
    const dot = name.lastIndexOf('.');
    return dot > 0 && dot < name.length - 1 ? name.slice(dot + 1).toLowerCase() : '';
  }
  function kindOf(name) {
    const ext = extensionOf(name);
    for (const kind of Object.keys(KINDS)) {
      if (KINDS[kind].includes(ext)) return kind;
    }
    return 'other';
  }
  function typeText(name) {
    const ext = extensionOf(name);
    const label = KIND_LABELS[kindOf(name)];
    return ext ? label + ' · ' + ext.toUpperCase() : label;
  }
  // Decimal units, as their names say: 200,000,000 bytes is 200 MB.
  function sizeText(bytes) {
    if (typeof bytes !== 'number' || !isFinite(bytes) || bytes < 0) return 'unavailable';
    if (bytes < 1000) return bytes + (bytes === 1 ? ' byte' : ' bytes');
    const units = ['KB', 'MB', 'GB', 'TB'];
    let value = bytes / 1000;
    let unit = 0;
    while (value >= 999.5 && unit < units.length - 1) { value /= 1000; unit++; }
    return (value < 10 ? value.toFixed(1) : Math.round(value)) + ' ' + units[unit];
  }
  function secondsText(seconds) {
    if (seconds >= 120) return Math.ceil(seconds / 60) + ' minutes';
    return seconds + (seconds === 1 ? ' second' : ' seconds');
  }

  // ---- code entry ----

  function showEntry(message) {
    closeViewer();
    ui.shared.hidden = true;
    ui.lock.hidden = true;
    ui.entry.hidden = false;
    ui.entryMessage.textContent = message || '';
    ui.entryMessage.classList.toggle('error', Boolean(message));
    if (!lockTimer) {
      ui.open.disabled = false;
      ui.code.focus();
    }
  }

  // Counts down a lock-out, with the form held until it ends.
  function holdEntry(seconds) {
    clearInterval(lockTimer);
    let left = Math.max(1, seconds || 60);
    const tell = () => {
      ui.entryMessage.textContent =
        'Too many wrong codes from this device. Try again in ' + secondsText(left) + '.';
      ui.entryMessage.classList.add('error');
    };
    ui.open.disabled = true;
    tell();
    lockTimer = setInterval(() => {
      left -= 1;
      if (left > 0) return tell();
      clearInterval(lockTimer);
      lockTimer = null;
      ui.open.disabled = false;
      ui.entryMessage.textContent = 'You can try again now.';
      ui.entryMessage.classList.remove('error');
    }, 1000);
  }

  async function submitCode(event) {
    event.preventDefault();
    const given = ui.code.value.trim();
    if (!given) {
      showEntry('Type the code first.');
      return;
    }
    ui.open.disabled = true;
    ui.entryMessage.textContent = 'Checking…';
    ui.entryMessage.classList.remove('error');
    let answer;
    try {
      answer = await api('/protected_check_code', given);
    } catch (e) {
      ui.open.disabled = false;
      showEntry('The device does not answer. Is web share still on?');
      return;
    }
    if (answer.status === 200) {
      ui.code.value = '';
      keepCode(given);
      ui.entryMessage.textContent = '';
      showList();
      return;
    }
    ui.open.disabled = false;
    if (answer.status === 429) {
      showEntry();
      holdEntry(answer.retryAfter);
    } else if (answer.status === 401) {
      showEntry('That code is not right. Check the code on the device and try again.');
      ui.code.select();
    } else {
      showEntry('The device could not check the code (error ' + answer.status + ').');
    }
  }

  // ---- the list ----

  function showList() {
    ui.entry.hidden = true;
    ui.shared.hidden = false;
    ui.lock.hidden = false;
    connect();
    reload();
  }

  // One list request at a time; notices that come meanwhile make one more.
  function reload() {
    if (!code) return;
    if (loading) {
      reloadAgain = true;
      return;
    }
    loading = loadList().finally(() => {
      loading = null;
      if (reloadAgain) {
        reloadAgain = false;
        reload();
      }
    });
  }

  async function loadList() {
    let answer;
    try {
      answer = await api('/files', code);
    } catch (e) {
      ui.listMessage.textContent = 'The device does not answer. The list may be out of date.';
      return;
    }
    if (answer.status === 401) {
      forget();
      showEntry('The code has changed on the device. Enter the new code.');
      return;
    }
    if (answer.status === 429) {
      forget();
      showEntry();
      holdEntry(answer.retryAfter);
      return;
    }
    if (answer.status !== 200 || !answer.body || !Array.isArray(answer.body.files)) {
      ui.listMessage.textContent = 'The device sent no list (error ' + answer.status + '). Trying again on the next change.';
      return;
    }
    ui.listMessage.textContent = '';
    render(answer.body.files);
  }

  function render(files) {
    const items = files.filter((f) => f && typeof f.id === 'string' && typeof f.name === 'string');
    ui.files.replaceChildren(...items.map(fileItem));
    ui.empty.hidden = items.length > 0;
    ui.count.textContent = items.length === 1 ? '1 file' : items.length + ' files';
  }

  function fileItem(file) {
    const kind = kindOf(file.name);
    const li = document.createElement('li');
    li.className = 'file kind-' + kind;
    li.dataset.id = file.id;

    const icon = document.createElement('span');
    icon.className = 'icon';
    icon.setAttribute('aria-hidden', 'true');
    icon.textContent = (extensionOf(file.name) || '?').slice(0, 4).toUpperCase();

    const text = document.createElement('div');
    text.className = 'text';
    let name;
    if (VIEWABLE.has(kind)) {
      name = document.createElement('button');
      name.type = 'button';
      name.className = 'name link';
      name.title = kind === 'image' ? 'Show' : 'Play';
      name.addEventListener('click', () => openViewer(file, kind));
    } else {
      name = document.createElement('span');
      name.className = 'name';
    }
    name.textContent = file.name;
    const details = document.createElement('span');
    details.className = 'details';
    const type = document.createElement('span');
    type.className = 'type';
    type.textContent = typeText(file.name);
    const size = document.createElement('span');
    size.className = 'size';
    size.textContent = sizeText(file.size);
    details.append(type, size);
    text.append(name, details);

    const actions = document.createElement('div');
    actions.className = 'actions';
    if (VIEWABLE.has(kind)) {
      const view = document.createElement('button');
      view.type = 'button';
      view.className = 'quiet view';
      view.textContent = kind === 'image' ? 'Show' : 'Play';
      view.addEventListener('click', () => openViewer(file, kind));
      actions.append(view);
    }
    const download = document.createElement('a');
    download.className = 'button download';
    download.href = fileUrl(file);
    download.download = file.name;
    download.textContent = 'Download';
    download.setAttribute('aria-label', 'Download ' + file.name);
    actions.append(download);

    li.append(icon, text, actions);
    return li;
  }

  // ---- showing and playing ----

  function openViewer(file, kind) {
    closeViewer();
    const url = fileUrl(file);
    let element;
    if (kind === 'image') {
      element = document.createElement('img');
      element.alt = file.name;
      element.addEventListener('error', () => viewerError('This image cannot be shown here. Download it instead.'));
    } else {
      element = document.createElement(kind === 'video' ? 'video' : 'audio');
      element.controls = true;
      // Only what is played is fetched: the player asks for ranges as it goes.
      element.preload = 'metadata';
      element.playsInline = true;
      element.addEventListener('error', () => viewerError('This file cannot be played here. Download it instead.'));
    }
    element.id = 'viewer-media';
    element.src = url;
    ui.viewerTitle.textContent = file.name;
    ui.viewerDownload.href = url;
    ui.viewerDownload.download = file.name;
    ui.viewerBody.replaceChildren(element);
    ui.viewer.hidden = false;
    document.body.classList.add('viewing');
    ui.viewerClose.focus();
  }

  function viewerError(text) {
    const message = document.createElement('p');
    message.className = 'message error';
    message.textContent = text;
    ui.viewerBody.append(message);
  }

  function closeViewer() {
    const media = ui.viewerBody.querySelector('video, audio');
    if (media) {
      // Stops the download of the rest as well.
      media.pause();
      media.removeAttribute('src');
      media.load();
    }
    ui.viewerBody.replaceChildren();
    ui.viewer.hidden = true;
    document.body.classList.remove('viewing');
  }

  // ---- live notices ----

  function connect() {
    if (socket || !code) return;
    const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
    let ws;
    try {
      ws = new WebSocket(scheme + location.host + '/');
    } catch (e) {
      scheduleReconnect();
      return;
    }
    socket = ws;
    ws.addEventListener('open', () => {
      const wasDown = reconnectDelay > 1000;
      reconnectDelay = 1000;
      setLive(true);
      // Changes made while the connection was down were never told.
      if (wasDown) reload();
    });
    ws.addEventListener('message', (event) => {
      let notice = null;
      try { notice = JSON.parse(event.data); } catch (e) { return; }
      if (notice && notice.action === 'files_to_share_changed') reload();
    });
    ws.addEventListener('close', () => {
      if (socket !== ws) return;
      socket = null;
      setLive(false);
      scheduleReconnect();
    });
  }

  function scheduleReconnect() {
    if (reconnectTimer || !code) return;
    reconnectTimer = setTimeout(() => {
      reconnectTimer = null;
      connect();
    }, reconnectDelay);
    reconnectDelay = Math.min(reconnectDelay * 2, 15000);
  }

  function disconnect() {
    clearTimeout(reconnectTimer);
    reconnectTimer = null;
    if (socket) {
      const ws = socket;
      socket = null;
      ws.close();
    }
    ui.live.hidden = true;
  }

  function setLive(on) {
    ui.live.hidden = false;
    ui.live.textContent = on ? 'Live' : 'Reconnecting…';
    ui.live.classList.toggle('off', !on);
    ui.live.title = on ? 'The list updates by itself' : 'Lost the connection to the device; trying again';
  }

  // ---- start ----

  // The code goes, and with it the list and the live connection.
  function forget() {
    keepCode('');
    disconnect();
    ui.files.replaceChildren();
  }

  async function greet() {
    try {
      const who = await api('/who_am_i');
      if (who.body && who.body.alias) {
        ui.device.textContent = 'from ' + who.body.alias;
        document.title = who.body.alias + ' · web share';
      }
    } catch (e) { /* the name is only a nicety */ }
  }

  ui.form.addEventListener('submit', submitCode);
  ui.lock.addEventListener('click', () => {
    forget();
    showEntry();
  });
  ui.viewerClose.addEventListener('click', closeViewer);
  ui.viewer.addEventListener('click', (event) => { if (event.target === ui.viewer) closeViewer(); });
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape' && !ui.viewer.hidden) closeViewer();
  });

  greet();
  if (code) showList(); else showEntry();
})();
