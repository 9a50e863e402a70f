// The web-share page in a real browser: Debian's chromium, headless, driven by
// playwright-core against a running `mesk` on a loopback address of this test's own.
// A person opens the page, gets a wrong code refused, opens the list with the right one,
// downloads a file, looks at a picture, plays a video and seeks in it, and sees a file
// that the device shares meanwhile appear without a reload.
//
//   node web_share_page_test.mjs MESK_BINARY
//
// Where no browser can start (no chromium, no playwright-core, a browser that will not
// launch) every step is skipped with the reason.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { MeskProcess } from './mesk_process.mjs';
import { writeWebm } from './webm.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const meskBinary = process.argv[2] || process.env.MESK_BINARY;
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
// Sanitized builds run mesk several times slower.
const slow = Boolean(process.env.MESK_SANITIZED);
const noticeLimitMs = slow ? 5000 : 1000;
const chromiumFlags = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--disable-dev-shm-usage',
];

// A long, small video: a frame a second, with 24 MiB of padding halfway, so that the
// player reads its start and metadata without the second half and a seek near the end
// must ask for a range far into the file.
const VIDEO = { width: 320, height: 240, seconds: 200, padAt: 100, padBytes: 24 << 20 };

let skipReason = '';
let browser;
let mesk;
let code;
const local = {};  // name -> bytes of each shared file

function skipIfNeeded(t) {
  if (!skipReason) return false;
  t.skip(skipReason);
  return true;
}

const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

async function loadPlaywright() {
  try {
    return await import(path.join(here, 'node_modules', 'playwright-core', 'index.mjs'));
  } catch (e) {
    skipReason = 'playwright-core is not installed in tests/web (scripts/install-deps.sh installs it): ' + e.message;
    return null;
  }
}

// A page that records what it hears on its WebSocket and how often it navigated.
async function openPage() {
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 420, height: 800 } });
  const page = await context.newPage();
  page.notices = 0;
  page.navigations = 0;
  page.on('websocket', (ws) => {
    ws.on('framereceived', (frame) => {
      if (String(frame.payload).includes('files_to_share_changed')) page.notices++;
    });
  });
  page.on('framenavigated', (frame) => {
    if (frame === page.mainFrame()) page.navigations++;
  });
  await page.goto(mesk.url + '/');
  return page;
}

async function enterCode(page, value) {
  await page.fill('#code', value);
  await page.click('#open');
}

async function listedNames(page) {
  return page.$$eval('#files li .name', (names) => names.map((n) => n.textContent));
}

// Bytes that the browser makes: a PNG picture and two VP8 key frames, which the video
// repeats.
async function makeMedia(page) {
  const made = await page.evaluate(async ({ width, height }) => {
    const toBase64 = (bytes) => {
      let s = '';
      for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      return btoa(s);
    };
    const canvas = new OffscreenCanvas(width, height);
    const g = canvas.getContext('2d');
    const paint = (hue, label) => {
      g.fillStyle = `hsl(${hue} 70% 45%)`;
      g.fillRect(0, 0, width, height);
      g.fillStyle = '#fff';
      g.font = 'bold 96px sans-serif';
      g.fillText(label, 30, 150);
    };
    paint(200, 'png');
    const png = new Uint8Array(await (await canvas.convertToBlob({ type: 'image/png' })).arrayBuffer());
    const frames = [];
    let failure = null;
    const encoder = new VideoEncoder({
      output: (chunk) => {
        const data = new Uint8Array(chunk.byteLength);
        chunk.copyTo(data);
        frames.push(toBase64(data));
      },
      error: (e) => { failure = String(e); },
    });
    encoder.configure({ codec: 'vp8', width, height, bitrate: 1000000, framerate: 1 });
    for (const [i, hue] of [[0, 30], [1, 120]]) {
      paint(hue, String(i));
      const frame = new VideoFrame(canvas, { timestamp: i * 1000000, duration: 1000000 });
      encoder.encode(frame, { keyFrame: true });
      frame.close();
    }
    await encoder.flush();
    return { png: toBase64(png), frames, failure };
  }, VIDEO);
  assert.equal(made.failure, null, 'the browser could not encode the test video');
  assert.equal(made.frames.length, 2);
  const keyFrames = made.frames.map((f) => Buffer.from(f, 'base64'));
  const frames = [];
  for (let second = 0; second < VIDEO.seconds; second++) {
    frames.push({ ms: second * 1000, data: keyFrames[second % 2], padBefore: second === VIDEO.padAt ? VIDEO.padBytes : 0 });
  }
  return {
    png: Buffer.from(made.png, 'base64'),
    webm: writeWebm({ ...VIDEO, frames, durationMs: VIDEO.seconds * 1000 }),
  };
}

function writeShared(name, bytes) {
  fs.writeFileSync(path.join(mesk.shared, name), bytes);
  local[name] = bytes;
}

describe('the web-share page in chromium', () => {
  before(async () => {
    if (!meskBinary || !fs.existsSync(meskBinary)) {
      throw new Error('usage: node web_share_page_test.mjs MESK_BINARY (got ' + meskBinary + ')');
    }
    if (!fs.existsSync(chromiumPath)) {
      skipReason = chromiumPath + ' is missing (scripts/install-deps.sh installs Debian\'s chromium)';
      return;
    }
    const playwright = await loadPlaywright();
    if (!playwright) return;
    try {
      // Each launch runs on a new, empty profile folder of its own.
      browser = await playwright.chromium.launch({
        executablePath: chromiumPath,
        headless: true,
        args: chromiumFlags,
        timeout: 30000,
      });
    } catch (e) {
      skipReason = 'chromium does not start here: ' + e.message.split('\n')[0];
      return;
    }
    mesk = await MeskProcess.start(meskBinary);
    await mesk.webShareUp();
    code = await mesk.code();
    assert.match(code, /^\d{4}$/);

    const maker = await browser.newPage();
    await maker.goto(mesk.url + '/');
    const media = await makeMedia(maker);
    await maker.close();
    writeShared('notes.txt', Buffer.from('shopping list\n'));
    writeShared('Data.bin', crypto.randomBytes(3 * 1024 * 1024 + 17));
    writeShared('photo.png', media.png);
    writeShared('clip.webm', media.webm);
    await mesk.share('notes.txt', 'Data.bin', 'photo.png', 'clip.webm');
  });

  after(async () => {
    if (skipReason) console.log('# web share page test skipped: ' + skipReason);
    if (browser) await browser.close();
    if (mesk) {
      const ended = await mesk.stop();
      assert.equal(ended.sanitizer, '', 'mesk reported a fault');
      assert.equal(ended.code, 0, 'mesk did not quit cleanly');
    }
  });

  let first;  // the page a person works in

  it('refuses a wrong code with a message', async (t) => {
    if (skipIfNeeded(t)) return;
    first = await openPage();
    assert.equal(await first.isVisible('#entry'), true);
    await enterCode(first, code === '0000' ? '1111' : '0000');
    await first.waitForSelector('#entry-message:has-text("not right")');
    assert.equal(await first.isVisible('#shared'), false);
  });

  it('shows the list, in the order the API gives, with the right code', async (t) => {
    if (skipIfNeeded(t)) return;
    await enterCode(first, code);
    await first.waitForSelector('#files li >> nth=3');
    const api = await (await fetch(mesk.url + '/http_mode_api/v1/files', {
      headers: { x_mesk_web_mode_code: code },
    })).json();
    assert.deepEqual(await listedNames(first), api.files.map((f) => f.name));
    assert.deepEqual(await listedNames(first), ['clip.webm', 'Data.bin', 'notes.txt', 'photo.png']);
    const texts = (selector) => first.$$eval(selector, (found) => found.map((x) => x.textContent));
    assert.deepEqual(await texts('#files li .type'), ['Video · WEBM', 'File · BIN', 'Document · TXT', 'Image · PNG']);
    const sizes = await texts('#files li .size');
    // Decimal units: 3,145,745 bytes are 3.1 MB (3.0 would be mebibytes under the MB name).
    assert.deepEqual([sizes[1], sizes[2]], ['3.1 MB', '14 bytes']);
    // The code stays for the tab's session: a reload goes straight to the list.
    await first.reload();
    await first.waitForSelector('#files li >> nth=3');
    assert.equal(await first.isVisible('#entry'), false);
  });

  it('asks a new tab for the code again', async (t) => {
    if (skipIfNeeded(t)) return;
    const other = await openPage();
    assert.equal(await other.isVisible('#entry'), true);
    assert.equal(await other.isVisible('#shared'), false);
    await other.context().close();
  });

  it('downloads a file whole', async (t) => {
    if (skipIfNeeded(t)) return;
    const [download] = await Promise.all([
      first.waitForEvent('download'),
      first.click('li:has-text("Data.bin") a.download'),
    ]);
    assert.equal(download.suggestedFilename(), 'Data.bin');
    const saved = await download.path();
    assert.equal(sha256(fs.readFileSync(saved)), sha256(local['Data.bin']));
  });

  it('shows a picture in the page', async (t) => {
    if (skipIfNeeded(t)) return;
    await first.click('li:has-text("photo.png") button.view');
    await first.waitForFunction(() => {
      const img = document.querySelector('#viewer-media');
      return img && img.complete && img.naturalWidth > 0;
    });
    const size = await first.$eval('#viewer-media', (img) => [img.naturalWidth, img.naturalHeight]);
    assert.deepEqual(size, [VIDEO.width, VIDEO.height]);
    await first.click('#viewer-close');
    assert.equal(await first.isVisible('#viewer'), false);
  });

  it('plays a video and seeks in it through range requests', async (t) => {
    if (skipIfNeeded(t)) return;
    const answers = [];
    const record = async (response) => {
      if (!response.url().includes('/file/v1/')) return;
      const at = Date.now();
      const request = response.request();
      answers.push({
        at,
        range: (await request.allHeaders()).range || '',
        status: response.status(),
        contentRange: (await response.allHeaders())['content-range'] || '',
      });
    };
    first.on('response', record);
    await first.click('li:has-text("clip.webm") button.view');
    await first.waitForFunction(() => {
      const v = document.querySelector('video#viewer-media');
      return v && v.readyState >= 1 && v.duration > 0;
    }, null, { timeout: 20000 });
    assert.ok(Math.abs((await first.$eval('#viewer-media', (v) => v.duration)) - VIDEO.seconds) < 0.5);
    const seekedAt = Date.now();
    const target = VIDEO.seconds - 9.5;
    await first.$eval('#viewer-media', (v, to) => new Promise((resolve) => {
      v.addEventListener('seeked', resolve, { once: true });
      v.currentTime = to;
    }), target);
    await first.waitForFunction(() => document.querySelector('#viewer-media').readyState >= 2, null,
      { timeout: 20000 });
    assert.ok(Math.abs((await first.$eval('#viewer-media', (v) => v.currentTime)) - target) < 0.01);
    // Every answer the player got was a range; the seek asked for one far into the file.
    const farInto = (a) => a.at >= seekedAt && Number(a.range.slice(6).split('-')[0]) > local['clip.webm'].length / 2;
    for (let i = 0; i < 100 && !answers.some(farInto); i++) await new Promise((r) => setTimeout(r, 50));
    first.off('response', record);
    assert.ok(answers.length > 0, 'the player made no request');
    for (const a of answers) {
      assert.match(a.range, /^bytes=\d+-\d*$/, 'a request of the player without a range');
      assert.equal(a.status, 206);
      assert.match(a.contentRange, new RegExp(`^bytes \\d+-\\d+/${local['clip.webm'].length}$`));
    }
    assert.ok(answers.some(farInto), 'no range request far into the file after the seek at ' + seekedAt + ': ' + JSON.stringify(answers));
    await first.click('#viewer-close');
  });

  it('shows a newly shared file on every open page, one notice each, without a reload', async (t) => {
    if (skipIfNeeded(t)) return;
    const second = await openPage();
    await enterCode(second, code);
    await second.waitForSelector('#files li >> nth=3');
    // Both pages hold their WebSocket before the change.
    for (const page of [first, second]) await page.waitForSelector('#live:has-text("Live")');
    const before = [first, second].map((p) => ({ notices: p.notices, navigations: p.navigations }));

    writeShared('new.txt', Buffer.from('new'));
    const started = Date.now();
    const shared = mesk.share('new.txt');
    const shown = await Promise.all([first, second].map(async (page) => {
      await page.waitForSelector('li:has-text("new.txt")', { timeout: 30000 });
      return Date.now() - started;
    }));
    await shared;
    console.log(`# the new file showed after ${shown.join(' and ')} ms`);
    for (const ms of shown) assert.ok(ms <= noticeLimitMs, `the list took ${ms} ms to show the new file`);
    // Time for a second notice, were one sent.
    await new Promise((r) => setTimeout(r, 500));
    [first, second].forEach((page, i) => {
      assert.equal(page.notices - before[i].notices, 1, 'notices to page ' + (i + 1));
      assert.equal(page.navigations, before[i].navigations, 'page ' + (i + 1) + ' reloaded');
    });
    assert.deepEqual(await listedNames(second), ['clip.webm', 'Data.bin', 'new.txt', 'notes.txt', 'photo.png']);
    await second.context().close();
  });

  it('says so when five wrong codes lock this address out', async (t) => {
    if (skipIfNeeded(t)) return;
    const guesser = await openPage();
    const wrong = code === '0000' ? '1111' : '0000';
    for (let i = 1; i <= 5; i++) {
      await guesser.evaluate(() => { document.querySelector('#entry-message').textContent = ''; });
      await enterCode(guesser, wrong);
      await guesser.waitForSelector('#entry-message:has-text("not right")');
    }
    await enterCode(guesser, code);
    await guesser.waitForSelector('#entry-message:has-text("Too many wrong codes")');
    assert.match(await guesser.textContent('#entry-message'), /Try again in (60|59) seconds/);
    assert.equal(await guesser.isDisabled('#open'), true);
    assert.equal(await guesser.isVisible('#shared'), false);
  });
});
