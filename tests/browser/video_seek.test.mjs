// A phone's video player against a real `marlix-cli share`: headless Chromium plays a shared MP4
// (H.264) and seeks into it, fetching the parts it needs by Range.
//   node video_seek.test.mjs MARLIX_CLI CLIP_MP4
// clip.mp4 (12 KiB, made with ffmpeg) is 10 s of a 96x64 test pattern, baseline H.264 with a key frame
// each second, and silent AAC, its index first. The test inserts 32 MiB of unused bytes halfway
// through the media, so that the player, seeking to 7 s, must ask for the part past them by Range.

import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import assert from 'node:assert/strict';

const require = createRequire(import.meta.url);
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch (e) {
  console.error('playwright-core is missing: run scripts/install-deps.sh (npm ci in tests/browser)');
  process.exit(1);
}

const [cliPath, clipPath] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'marlix-video-'));
let cli = null;
let browser = null;

// Reads the boxes of an MP4 between two offsets, descending into the containers on the way to the
// chunk offset tables ("stco"); calls visit(type, offset, size) for each.
function walkBoxes(buf, from, to, visit) {
  for (let at = from; at + 8 <= to; ) {
    const size = buf.readUInt32BE(at);
    const type = buf.toString('latin1', at + 4, at + 8);
    assert.ok(size >= 8 && at + size <= to, 'bad box ' + type);
    visit(type, at, size);
    if (['moov', 'trak', 'mdia', 'minf', 'stbl'].includes(type)) walkBoxes(buf, at + 8, at + size, visit);
    at += size;
  }
}

// The clip with `padding` unused bytes inserted into its media data halfway through the chunks:
// every chunk offset past the cut moves by that much, so the clip plays as before.
function paddedClip(padding) {
  const clip = Buffer.from(fs.readFileSync(clipPath));
  let mdat = -1;
  const tables = [];
  walkBoxes(clip, 0, clip.length, (type, at) => {
    if (type === 'mdat') mdat = at;
    if (type === 'stco') tables.push(at);
  });
  assert.ok(mdat > 0 && tables.length > 0, 'the clip has no media data or chunk table');
  const offsets = (t) => Array.from({ length: clip.readUInt32BE(t + 12) }, (_, i) => t + 16 + 4 * i);
  const chunks = offsets(tables[0]).map((o) => clip.readUInt32BE(o)).sort((a, b) => a - b);
  const cut = chunks[Math.floor(chunks.length / 2)];
  for (const t of tables)
    for (const o of offsets(t)) if (clip.readUInt32BE(o) >= cut) clip.writeUInt32BE(clip.readUInt32BE(o) + padding, o);
  clip.writeUInt32BE(clip.readUInt32BE(mdat) + padding, mdat);
  return { data: Buffer.concat([clip.subarray(0, cut), Buffer.alloc(padding), clip.subarray(cut)]), cut };
}

async function startSharing(file) {
  cli = spawn(cliPath, ['share', '--no-qr', '--address', '127.0.0.1', file], {
    cwd: work,
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  let stderr = '';
  cli.stderr.on('data', (d) => (stderr += d));
  const line = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no address from marlix-cli; stderr: ' + stderr)), 15000);
    cli.on('exit', (code) => reject(new Error(`marlix-cli ended (${code}): ${stderr}`)));
    let out = '';
    cli.stdout.on('data', (d) => {
      out += d;
      if (out.includes('\n')) {
        clearTimeout(timer);
        resolve(out.slice(0, out.indexOf('\n')).split(' ')[0]);  // the address, then the item's name
      }
    });
  });
  assert.match(line, /^http:\/\/127\.0\.0\.1:\d+\/f\?t=[A-Za-z0-9_-]{22}$/);
  return line;
}

async function main() {
  const file = path.join(work, 'clip.mp4');
  const padding = 32 << 20;
  const { data, cut } = paddedClip(padding);
  fs.writeFileSync(file, data);
  const url = await startSharing(file);

  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-proxy-server', '--autoplay-policy=no-user-gesture-required',
    ],
  });
  const page = await (await browser.newContext()).newPage();
  const replies = [];
  page.on('response', async (r) => {
    if (r.url() === url) replies.push({ status: r.status(), range: (await r.request().allHeaders()).range || '' });
  });
  await page.setContent('<video id="v" muted preload="metadata"></video>');

  const canPlay = await page.evaluate(() => document.createElement('video').canPlayType('video/mp4; codecs="avc1.42E01E"'));
  assert.notEqual(canPlay, '', "this Chromium cannot play H.264 in MP4");

  const result = await page.evaluate(
    (src) =>
      new Promise((resolve, reject) => {
        const v = document.getElementById('v');
        const timer = setTimeout(() => reject(new Error('video stalled; readyState ' + v.readyState)), 30000);
        v.onerror = () => reject(new Error('video error ' + (v.error && v.error.code)));
        v.onloadedmetadata = () => {
          v.onseeked = () => {
            // The frame at the new place must be decodable: play on from there briefly.
            v.play().then(() => {
              setTimeout(() => {
                clearTimeout(timer);
                v.pause();
                resolve({ duration: v.duration, time: v.currentTime, ready: v.readyState, w: v.videoWidth });
              }, 300);
            }, reject);
          };
          v.currentTime = 7;
        };
        v.src = src;
      }),
    url,
  );
  assert.ok(Math.abs(result.duration - 10) < 0.2, 'duration ' + result.duration);
  assert.ok(result.time >= 7 && result.time < 9.5, 'position after the seek ' + result.time);
  assert.ok(result.ready >= 2, 'no frame at the new place: readyState ' + result.ready);
  assert.equal(result.w, 96);
  // The seek was served by a "206" for a range that skips the padding (the player starts it at the
  // block it needs, a little before the chunk).
  const skipping = (r) => r.status === 206 && Number((/^bytes=(\d+)-/.exec(r.range) || [])[1]) > cut + padding / 2;
  assert.ok(replies.some(skipping), 'no partial reply past the padding: ' + JSON.stringify(replies));
  assert.ok(replies.every((r) => r.status === 206 || r.status === 200), JSON.stringify(replies));
  console.log(`video seek: all checks passed (${replies.length} requests: ${JSON.stringify(replies)})`);
}

async function stopSharing() {
  if (!cli || cli.exitCode !== null || cli.signalCode !== null) return;
  const ended = new Promise((r) => cli.on('exit', r));
  cli.kill('SIGINT');
  await Promise.race([ended, new Promise((r) => setTimeout(r, 15000))]);
  if (cli.exitCode === null && cli.signalCode === null) cli.kill('SIGKILL');
}

let status = 0;
try {
  await main();
} catch (e) {
  console.error(e);
  status = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  await stopSharing();
  fs.rmSync(work, { recursive: true, force: true });
}
process.exit(status);
