// What a stranger on the same network reaches of the upload direction, against a real
// `marlix-cli receive`: without the run's secret nothing is stored, served or deleted; no reply
// permits other origins; and a page of another site (served from 127.0.0.2) that posts a form to
// the receiver in headless Chromium stores nothing, even knowing the secret.
//   node stranger.test.mjs MARLIX_CLI

import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import assert from 'node:assert/strict';

import { launchBrowser, startCli } from './marlix.mjs';

const [cliPath] = process.argv.slice(2);
let cli = null;
let browser = null;
let foreignSite = null;

async function startReceiver() {
  cli = await startCli(cliPath, ['receive']);
  const m = /^http:\/\/[^/]*:(\d+)\/index\.html\?k=([A-Za-z0-9_-]{22,})$/.exec(cli.lines[0]);
  assert.ok(m, 'unexpected address line: ' + cli.lines[0]);
  return { port: Number(m[1]), secret: m[2], work: cli.work };
}

function multipart(name, content) {
  const boundary = '----marlixstranger';
  const body = `--${boundary}\r\nContent-Disposition: form-data; name="file"; filename="${name}"\r\n` +
    `Content-Type: application/octet-stream\r\n\r\n${content}\r\n--${boundary}--\r\n`;
  return { body, type: `multipart/form-data; boundary=${boundary}` };
}

async function main() {
  const { port, secret, work } = await startReceiver();
  const base = `http://127.0.0.1:${port}`;
  const tmp = path.join(work, 'tmp');
  fs.writeFileSync(path.join(tmp, 'IMG_0001.jpg'), 'the phone sent this');

  // The stranger: no secret, or a wrong one. Each is answered as a missing file is, and changes nothing.
  const missing = await fetch(`${base}/tmp/none-such.jpg?k=${secret}`);
  const missingBody = await missing.text();
  const asMissing = async (reply, what) => {
    assert.equal(reply.status, missing.status, what);
    assert.equal(await reply.text(), missingBody, what);
  };
  for (const k of ['', '?k=', '?k=' + 'A'.repeat(secret.length)]) {
    const { body, type } = multipart('planted.txt', 'planted');
    const post = await fetch(`${base}/u${k}`, { method: 'POST', body, headers: { 'Content-Type': type } });
    await asMissing(post, `POST /u${k}`);
    await asMissing(await fetch(`${base}/tmp/IMG_0001.jpg${k}`), `GET /tmp/IMG_0001.jpg${k}`);
    await asMissing(await fetch(`${base}/tmp/IMG_0001.jpg${k}`, { method: 'DELETE' }), `DELETE${k}`);
  }
  assert.deepEqual(fs.readdirSync(tmp), ['IMG_0001.jpg']);

  // The page files hold nothing and stay public; no reply grants another origin anything.
  const pageReply = await fetch(`${base}/upload.js`);
  assert.equal(pageReply.status, 200);
  assert.equal(pageReply.headers.get('referrer-policy'), 'no-referrer');
  const preflight = await fetch(`${base}/u?k=${secret}`, { method: 'OPTIONS', headers: { Origin: 'http://evil.example', 'Access-Control-Request-Method': 'POST' } });
  for (const reply of [pageReply, preflight]) {
    for (const [name] of reply.headers) assert.ok(!name.startsWith('access-control-'), `${reply.url} sends ${name}`);
  }

  // With the secret the owner's phone reads the file, with no referrer leaking the secret.
  const own = await fetch(`${base}/tmp/IMG_0001.jpg?k=${secret}`);
  assert.equal(own.status, 200);
  assert.equal(await own.text(), 'the phone sent this');
  assert.equal(own.headers.get('referrer-policy'), 'no-referrer');

  // Another site's page posts a form to the receiver (as a page in the phone's browser could).
  foreignSite = http.createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/html' });
    res.end(`<form id=f method=post enctype="multipart/form-data" action="${base}/u?k=${secret}">` +
      '<input type=file name=file id=file></form>');
  });
  await new Promise((r) => foreignSite.listen(0, '127.0.0.2', r));
  const foreignUrl = `http://127.0.0.2:${foreignSite.address().port}/`;
  browser = await launchBrowser();
  const page = await (await browser.newContext()).newPage();
  await page.goto(foreignUrl);
  const picked = path.join(work, 'cross.txt');
  fs.writeFileSync(picked, 'from another site');
  await page.setInputFiles('#file', picked);
  const [reply] = await Promise.all([page.waitForResponse((r) => r.url().startsWith(`${base}/u`)), page.evaluate(() => document.getElementById('f').submit())]);
  assert.equal(reply.status(), 403, 'the cross-site post was answered ' + reply.status());
  // A cross-site DELETE through fetch from that site's page fails too, whatever it can see of the reply.
  const other = await (await browser.newContext()).newPage();
  await other.goto(foreignUrl);
  await other.evaluate(async (u) => { try { await fetch(u, { method: 'DELETE' }); } catch (e) { /* refused */ } }, `${base}/tmp/IMG_0001.jpg?k=${secret}`);
  assert.deepEqual(fs.readdirSync(tmp), ['IMG_0001.jpg']);
  console.log('stranger: all checks passed');
}

let status = 0;
try {
  await main();
} catch (e) {
  console.error(e);
  status = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  if (foreignSite) foreignSite.close();
  if (cli) await cli.stop();
}
process.exit(status);
