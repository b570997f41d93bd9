'use strict';
(() => {
  const MAX_COMMENT = 200;
  const token = new URLSearchParams(location.search).get('t') || '';
  const withToken = (path) => path + '?t=' + encodeURIComponent(token);
  const previewUrl = (id) => withToken('/api/preview/' + encodeURIComponent(id));
  // Every hook in the page has an id; 'cap-name' becomes el.capName.
  const el = {};
  for (const n of document.querySelectorAll('[id]')) el[n.id.replace(/-(\w)/g, (_, c) => c.toUpperCase())] = n;

  let shots = [];                 // newest first
  let downloads = false;
  let currentId = null;
  let pinned = false;             // the viewer chose an older shot; live shots must not take it away
  const fresh = new Set();        // shots that arrived while pinned, marked "新着"
  const tiles = new Map();        // id -> <li>, reused so previews are not reloaded on every change
  let shownId = null;
  let lastSaved = '';             // comment as last rendered, to tell user edits from server text
  let ended = false, ws = null, retryDelay = 1000, retryTimer = 0, statusTimer = 0;
  let fetching = false, fetchAgain = false;
  let replay = null;              // live messages seen while a snapshot is in flight

  const byId = (id) => shots.find((s) => s.id === id);
  const ratingOf = (s) => Math.max(0, Math.min(5, Math.round(Number(s.rating) || 0)));
  const stars = (n) => '★'.repeat(n) + '☆'.repeat(5 - n);

  function showEnded() {
    if (ended) return;
    ended = true;
    clearTimeout(retryTimer);
    if (ws) { const s = ws; ws = null; s.close(); }
    el.content.remove();
    el.banner.hidden = true;
    el.count.hidden = true;
    el.ended.hidden = false;
  }

  async function api(method, path, body) {
    const opts = { method, cache: 'no-store' };
    if (body !== undefined) Object.assign(opts, { headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) });
    const res = await fetch(withToken(path), opts);
    if (res.status === 401) { showEnded(); throw new Error('unauthorized'); }
    return res;
  }

  async function loadShots() {
    if (fetching) { fetchAgain = true; return; }
    fetching = true;
    replay = [];
    try {
      const res = await api('GET', '/api/shots');
      if (!res.ok) throw new Error('HTTP ' + res.status);
      const data = await res.json();
      if (ended) return;
      applySnapshot(data);
      // The snapshot may predate messages that arrived while it was on its way.
      const pending = replay;
      replay = null;
      pending.forEach(applyLive);
    } catch (e) {
      // Connection trouble is already shown by the banner; the next reconnect retries.
    } finally {
      fetching = false;
      replay = null;
      if (fetchAgain && !ended) { fetchAgain = false; loadShots(); }
    }
  }

  function applySnapshot(data) {
    const known = new Set(shots.map((s) => s.id));
    const title = typeof data.title === 'string' ? data.title : '';
    el.title.textContent = title;
    el.title.hidden = !title;
    document.title = title ? title + ' – Pexil クライアントビュー' : 'Pexil クライアントビュー';
    downloads = data.downloads === true;
    shots = Array.isArray(data.shots) ? data.shots.filter((s) => s && typeof s.id === 'string') : [];
    const ids = new Set(shots.map((s) => s.id));
    for (const id of fresh) if (!ids.has(id)) fresh.delete(id);
    if (pinned && ids.has(currentId)) {
      for (const s of shots) if (!known.has(s.id)) fresh.add(s.id);
    } else {
      pinned = false;
      currentId = shots.length ? shots[0].id : null;
    }
    render();
  }

  function applyLive(msg) {
    const shot = msg.shot;
    if (!shot || typeof shot.id !== 'string') return;
    const i = shots.findIndex((s) => s.id === shot.id);
    if (i >= 0) {
      shots[i] = shot;
    } else if (msg.type === 'shot') {
      shots.unshift(shot);
      if (pinned) fresh.add(shot.id);
      else currentId = shot.id;
    } else {
      return; // an update for a shot we never saw; the next snapshot brings it
    }
    render();
  }

  function render() {
    if (ended) return;
    el.count.textContent = shots.length + ' 枚';
    el.empty.hidden = shots.length > 0;
    renderLarge();
    renderGrid();
  }

  function renderLarge() {
    const s = byId(currentId);
    el.viewer.hidden = !s;
    if (!s) { shownId = null; return; }
    const src = previewUrl(s.id);
    if (el.large.getAttribute('src') !== src) el.large.src = src;
    el.large.alt = s.name || '';
    el.capName.textContent = s.name || '';
    el.capTime.textContent = s.timeText || '';
    el.capTime.dateTime = s.time || '';
    const r = ratingOf(s);
    el.capStars.hidden = r === 0;
    el.capStars.textContent = stars(r);
    el.capStars.setAttribute('aria-label', '評価 ' + r);
    el.capFlag.hidden = !s.picked && !s.rejected;
    el.capFlag.textContent = s.picked ? 'ピック' : s.rejected ? '不採用' : '';
    el.capFlag.className = 'flag ' + (s.picked ? 'pick' : 'reject');
    el.fav.setAttribute('aria-pressed', String(!!s.favourite));
    el.fav.textContent = (s.favourite ? '♥' : '♡') + ' お気に入り';
    el.latest.hidden = !pinned;
    el.download.hidden = !downloads;
    el.download.href = downloads ? withToken('/api/original/' + encodeURIComponent(s.id)) : '';
    el.download.download = s.name || '';
    const comment = typeof s.comment === 'string' ? s.comment : '';
    el.saved.hidden = !comment;
    el.saved.textContent = comment ? '保存済みのコメント：' + comment : '';
    // Refresh the field from the server only if the viewer is not in the middle of typing.
    if (shownId !== s.id) {
      shownId = s.id;
      el.comment.value = comment;
      setStatus('');
    } else if (el.comment.value === lastSaved) {
      el.comment.value = comment;
    }
    lastSaved = comment;
    updateLength();
  }

  function makeTile(id) {
    const li = document.createElement('li');
    const btn = document.createElement('button');
    btn.type = 'button';
    btn.className = 'tile';
    btn.dataset.id = id;
    const img = document.createElement('img');
    img.loading = 'lazy';
    img.src = previewUrl(id);
    btn.append(img);
    for (const [cls, text] of [['new', '新着'], ['heart', '♥'], ['rating', '']]) {
      const b = document.createElement('span');
      b.className = 'badge ' + cls;
      b.textContent = text;
      b.hidden = true;
      btn.append(b);
    }
    li.append(btn);
    return li;
  }

  function updateTile(li, s) {
    const btn = li.firstChild;
    btn.firstChild.alt = s.name || '';
    btn.querySelector('.new').hidden = !fresh.has(s.id);
    btn.querySelector('.heart').hidden = !s.favourite;
    const r = ratingOf(s);
    const rating = btn.querySelector('.rating');
    rating.hidden = r === 0;
    rating.textContent = '★'.repeat(r);
    if (s.id === currentId) btn.setAttribute('aria-current', 'true');
    else btn.removeAttribute('aria-current');
  }

  function renderGrid() {
    const wanted = new Set();
    let ref = el.grid.firstChild;
    for (const s of shots) {
      let li = tiles.get(s.id);
      if (!li) { li = makeTile(s.id); tiles.set(s.id, li); }
      updateTile(li, s);
      wanted.add(s.id);
      // Move nodes only where the order differs, so a new shot costs one insertion.
      if (li === ref) ref = ref.nextSibling;
      else el.grid.insertBefore(li, ref);
    }
    while (ref) { const next = ref.nextSibling; ref.remove(); ref = next; }
    for (const id of tiles.keys()) if (!wanted.has(id)) tiles.delete(id);
  }

  function select(id) {
    if (!byId(id)) return;
    currentId = id;
    pinned = shots[0].id !== id;
    fresh.delete(id);
    render();
    window.scrollTo({ top: 0, behavior: 'smooth' });
  }

  function setStatus(text, isError, fade) {
    clearTimeout(statusTimer);
    el.status.textContent = text;
    el.status.classList.toggle('error', !!isError);
    if (fade) statusTimer = setTimeout(() => { el.status.textContent = ''; }, 2500);
  }

  function updateLength() {
    el.commentLen.textContent = el.comment.value.length + ' / ' + MAX_COMMENT;
  }

  el.grid.addEventListener('click', (e) => {
    const tile = e.target.closest('.tile');
    if (tile) select(tile.dataset.id);
  });

  el.latest.addEventListener('click', () => { if (shots.length) select(shots[0].id); });

  el.fav.addEventListener('click', async () => {
    const s = byId(currentId);
    if (!s) return;
    const want = !s.favourite;
    s.favourite = want; // optimistic, so the tap feels instant on a slow network
    render();
    try {
      const res = await api('POST', '/api/favourite/' + encodeURIComponent(s.id), { favourite: want });
      if (!res.ok) throw new Error('HTTP ' + res.status);
    } catch (e) {
      if (ended) return;
      const cur = byId(s.id);
      if (cur && cur.favourite === want) { cur.favourite = !want; render(); }
      setStatus('お気に入りを保存できませんでした', true, true);
    }
  });

  el.comment.addEventListener('input', (e) => {
    // maxlength is not enforced during IME composition in every browser.
    if (!e.isComposing && el.comment.value.length > MAX_COMMENT) {
      el.comment.value = el.comment.value.slice(0, MAX_COMMENT);
    }
    updateLength();
  });

  el.commentForm.addEventListener('submit', async (e) => {
    e.preventDefault();
    const s = byId(currentId);
    if (!s) return;
    const text = el.comment.value.trim();
    if (text.length > MAX_COMMENT) { setStatus(MAX_COMMENT + ' 文字以内で入力してください', true); return; }
    el.send.disabled = true;
    try {
      const res = await api('POST', '/api/comment/' + encodeURIComponent(s.id), { comment: text });
      if (res.status === 400) { setStatus('コメントが長すぎます', true); return; }
      if (!res.ok) throw new Error('HTTP ' + res.status);
      const cur = byId(s.id);
      if (cur) cur.comment = text;
      if (currentId === s.id) el.comment.value = text;
      render();
      setStatus('送信しました', false, true);
    } catch (err) {
      if (!ended) setStatus('送信できませんでした', true, true);
    } finally {
      el.send.disabled = false;
    }
  });

  function connect() {
    if (ended || ws) return;
    const proto = location.protocol === 'https:' ? 'wss:' : 'ws:';
    let sock;
    try { sock = new WebSocket(proto + '//' + location.host + withToken('/live')); } catch (e) { scheduleReconnect(); return; }
    ws = sock;
    sock.addEventListener('open', () => {
      retryDelay = 1000;
      el.banner.hidden = true;
      loadShots(); // catch up on anything sent while we were away
    });
    sock.addEventListener('message', (ev) => {
      let msg;
      try { msg = JSON.parse(ev.data); } catch (e) { return; }
      if (!msg || typeof msg !== 'object') return;
      if (msg.type === 'bye') { showEnded(); return; }
      if (msg.type !== 'shot' && msg.type !== 'update') return;
      if (replay) replay.push(msg);
      applyLive(msg);
    });
    sock.addEventListener('close', () => {
      if (ws !== sock || ended) return;
      ws = null;
      el.banner.hidden = false;
      // A refused upgrade looks like any other close; only a plain request can reveal a 401.
      loadShots();
      scheduleReconnect();
    });
  }

  function scheduleReconnect() {
    clearTimeout(retryTimer);
    retryTimer = setTimeout(connect, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 10000);
  }

  // Mobile browsers freeze background tabs; reconnect right away instead of waiting out the backoff.
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible' && !ws && !ended) {
      clearTimeout(retryTimer);
      retryDelay = 1000;
      connect();
    }
  });

  loadShots();
  connect();
})();
