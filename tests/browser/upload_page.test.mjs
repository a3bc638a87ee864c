// The upload page in headless Chromium against a real `marlix-cli receive` in a temporary working
// directory: two uploads (one with a Chinese name), the stored list, a delete through the page, a
// failed upload shown as failed, a text sent to the terminal, and a PC that went away awaited.
//   node upload_page.test.mjs MARLIX_CLI DATA_DIR

import { spawn, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { randomBytes } from 'node:crypto';
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

const [cliPath, dataDir] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'marlix-browser-'));
const picks = fs.mkdtempSync(path.join(os.tmpdir(), 'marlix-picks-'));
let cli = null;
let browser = null;

function fail(message) {
  throw new Error(message);
}

// Starts marlix-cli receive and waits for its address line; collects the stored paths it prints.
async function startReceiver() {
  // The program lays out its working directory itself: the page files and "tmp".
  cli = spawn(cliPath, ['receive', '--no-qr'], { cwd: work, env: { ...process.env, MARLIX_HOME: work }, stdio: ['ignore', 'pipe', 'pipe'] });
  const lines = [];
  let stderr = '';
  cli.stderr.on('data', (d) => (stderr += d));
  let pending = '';
  const address = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no address from marlix-cli; stderr: ' + stderr)), 15000);
    cli.on('exit', (code) => reject(new Error(`marlix-cli ended (${code}): ${stderr}`)));
    cli.stdout.on('data', (d) => {
      pending += d;
      let nl;
      while ((nl = pending.indexOf('\n')) >= 0) {
        const line = pending.slice(0, nl);
        pending = pending.slice(nl + 1);
        if (!lines.length) {
          clearTimeout(timer);
          resolve(line);
        }
        lines.push(line);
      }
    });
  });
  const m = /^http:\/\/[^/]*:(\d+)\/index\.html(\?k=[A-Za-z0-9_-]{22})$/.exec(address);
  if (!m) fail('unexpected address line: ' + address);
  return { port: Number(m[1]), k: m[2], lines };
}

async function waitFor(check, what, ms = 15000) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await check()) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  fail('timed out waiting for ' + what);
}

async function main() {
  const { port, k, lines } = await startReceiver();
  const origin = `http://127.0.0.1:${port}`;

  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-proxy-server',
    ],
  });
  const context = await browser.newContext({ locale: 'zh-CN' });
  const page = await context.newPage();
  const foreign = [];
  page.on('request', (r) => {
    if (!r.url().startsWith(origin + '/')) foreign.push(r.url());
  });
  await page.goto(origin + '/index.html' + k);
  assert.equal(await page.textContent('h1'), '上传文件到电脑');
  assert.equal(await page.textContent('.pick-label'), '选择文件');

  // Two files at once, one with a Chinese name.
  const binary = randomBytes(300 * 1024);
  const chineseName = '照片 测试.txt';
  const chinese = Buffer.from('你好，Marlix\n'.repeat(1000));
  fs.writeFileSync(path.join(picks, 'report.bin'), binary);
  fs.writeFileSync(path.join(picks, chineseName), chinese);
  await page.setInputFiles('#files', [path.join(picks, 'report.bin'), path.join(picks, chineseName)]);

  await page.waitForSelector('#stored li.stored-file:nth-child(2)', { timeout: 20000 });
  const storedNames = await page.$$eval('#stored a.open', (as) => as.map((a) => a.textContent));
  assert.deepEqual(storedNames, ['report.bin', chineseName]);
  assert.ok(binary.equals(fs.readFileSync(path.join(work, 'tmp', 'report.bin'))), 'report.bin differs on disk');
  assert.ok(chinese.equals(fs.readFileSync(path.join(work, 'tmp', chineseName))), 'Chinese file differs on disk');
  const states = await page.$$eval('#sending li', (lis) => lis.map((li) => li.className + ' ' + li.textContent));
  assert.equal(states.length, 2);
  for (const s of states) assert.match(s, /done.*上传完成/);
  await waitFor(() => lines.length >= 3, 'the stored paths on stdout');
  assert.deepEqual(lines.slice(1).sort(), [path.join(work, 'tmp', 'report.bin'), path.join(work, 'tmp', chineseName)].sort());

  // The page's link opens the stored file.
  const href = await page.getAttribute('#stored li:nth-child(2) a.open', 'href');
  const fetched = await page.evaluate(async (h) => await (await fetch(h)).text(), href);
  assert.equal(fetched, chinese.toString());

  // Delete the binary file through its button.
  await page.click('#stored li:nth-child(1) button.delete');
  await waitFor(async () => (await page.$$('#stored li.stored-file')).length === 1, 'the deleted row to go');
  assert.equal(fs.existsSync(path.join(work, 'tmp', 'report.bin')), false);
  assert.equal(fs.existsSync(path.join(work, 'tmp', chineseName)), true);
  assert.equal(await page.textContent('#stored a.open'), chineseName);

  // Without the upload folder the PC cannot store the file: the page says the upload failed.
  fs.renameSync(path.join(work, 'tmp'), path.join(work, 'tmp-away'));
  fs.writeFileSync(path.join(picks, 'lost.txt'), 'lost');
  await page.setInputFiles('#files', [path.join(picks, 'lost.txt')]);
  await page.waitForSelector('#sending li.failed', { timeout: 20000 });
  const failed = await page.textContent('#sending li.failed');
  assert.match(failed, /lost\.txt.*上传失败：电脑无法保存这个文件/);
  assert.equal(await page.$$eval('#stored li', (l) => l.length), 1);
  fs.renameSync(path.join(work, 'tmp-away'), path.join(work, 'tmp'));

  // A full disk, told in the phone's language: a small tmpfs over tmp/ (where mounting is allowed).
  const tmp = path.join(work, 'tmp');
  const mounted = spawnSync('mount', ['-t', 'tmpfs', '-o', 'size=6m', 'marlix-test', tmp]).status === 0;
  if (mounted) {
    try {
      const enPage = await (await browser.newContext({ locale: 'en-US' })).newPage();
      await enPage.goto(origin + '/index.html' + k);
      fs.writeFileSync(path.join(picks, 'big.bin'), randomBytes(8 * 1024 * 1024));
      await enPage.setInputFiles('#files', [path.join(picks, 'big.bin')]);
      await enPage.waitForSelector('#sending li.failed', { timeout: 20000 });
      assert.match(await enPage.textContent('#sending li.failed'), /big\.bin.*the PC's disk is full/);
      assert.deepEqual(fs.readdirSync(tmp), []);
    } finally {
      spawnSync('umount', ['-l', tmp]);
    }
  } else {
    console.log('upload page: mounting a tmpfs is not allowed here; the full-disk check is skipped');
  }

  // A text to the PC: the terminal prints it on one line; one over 64 KiB is refused on the page.
  const printed = lines.length;
  await page.fill('#text', '链接 https://example.org/a?b=1\n第二行');
  await page.click('#send-text');
  await page.waitForSelector('#text-state.done', { timeout: 10000 });
  assert.equal(await page.textContent('#text-state'), '文字已发送到电脑');
  await waitFor(() => lines.length > printed, 'the text on stdout');
  assert.equal(lines[printed], 'text 链接 https://example.org/a?b=1\\n第二行');
  await page.fill('#text', 'x'.repeat(70000));
  await page.click('#send-text');
  await page.waitForSelector('#text-state.failed', { timeout: 10000 });
  assert.equal(await page.textContent('#text-state'), '文字太长：最多 64 KB');
  const refused = await page.evaluate(async (q) => (await fetch('/x' + q, { method: 'POST', body: 'y'.repeat(65537) })).status, k);
  assert.equal(refused, 413);
  assert.equal(lines.length, printed + 1);

  // With the receiver gone, the page waits for the connection and says so.
  assert.equal(await stopReceiver(), 0, 'marlix-cli did not end cleanly on SIGINT');
  await page.setInputFiles('#files', [path.join(picks, 'lost.txt')]);
  await page.waitForSelector('#sending li.offline', { timeout: 20000 });
  assert.match(await page.textContent('#sending li.offline'), /lost\.txt.*等待网络连接…/);

  // English when the browser prefers it.
  const en = await (await browser.newContext({ locale: 'en-US' })).newPage();
  await en.goto('file://' + path.join(dataDir, 'index.html'));
  assert.equal(await en.textContent('h1'), 'Send files to the PC');
  // Every language but Chinese falls back to English (a German phone).
  const de = await (await browser.newContext({ locale: 'de-DE' })).newPage();
  await de.goto('file://' + path.join(dataDir, 'index.html'));
  assert.equal(await de.textContent('h1'), 'Send files to the PC');

  assert.deepEqual(foreign, [], 'the page loaded something from elsewhere');
  console.log('upload page: all checks passed');
}

// Stops marlix-cli as Ctrl+C does; returns its exit status.
async function stopReceiver() {
  if (!cli) return null;
  if (cli.exitCode !== null || cli.signalCode !== null) return cli.exitCode;
  const ended = new Promise((r) => cli.on('exit', r));
  cli.kill('SIGINT');
  await Promise.race([ended, new Promise((r) => setTimeout(r, 15000))]);
  if (cli.exitCode === null && cli.signalCode === null) cli.kill('SIGKILL');
  return cli.exitCode;
}

let status = 0;
try {
  await main();
} catch (e) {
  console.error(e);
  status = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  await stopReceiver();
  fs.rmSync(work, { recursive: true, force: true });
  fs.rmSync(picks, { recursive: true, force: true });
}
process.exit(status);
