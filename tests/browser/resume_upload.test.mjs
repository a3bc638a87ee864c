// Uploads that survive a break, in headless Chromium at a phone's size against a real
// `marlix-cli receive`, through a relay of the test's own:
//  - the relay cuts every connection once half of a 64 MiB file has passed and refuses connections
//    for 5 s; the page waits, says so, resumes, and the file arrives whole with less than 1.6 times
//    its size crossing the relay;
//  - a page reloaded halfway through a file resumes it when the same file is chosen again.
//   node resume_upload.test.mjs MARLIX_CLI

import { createHash, randomBytes } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import assert from 'node:assert/strict';
import { launchBrowser, startCli, startRelay, waitFor } from './marlix.mjs';

const [cliPath] = process.argv.slice(2);
const MiB = 1024 * 1024;
const picks = fs.mkdtempSync(path.join(os.tmpdir(), 'marlix-picks-'));
let cli = null;
let browser = null;
let relay = null;

function sha256(file) {
  return createHash('sha256').update(fs.readFileSync(file)).digest('hex');
}

function pick(name, size) {
  const file = path.join(picks, name);
  const fd = fs.openSync(file, 'w');
  for (let done = 0; done < size; done += MiB) fs.writeSync(fd, randomBytes(Math.min(MiB, size - done)));
  fs.closeSync(fd);
  return file;
}

// Bytes the PC holds aside for unfinished uploads.
function heldAside(work) {
  const dir = path.join(work, '.uploading');
  if (!fs.existsSync(dir)) return 0;
  return fs.readdirSync(dir).reduce((n, f) => n + fs.statSync(path.join(dir, f)).size, 0);
}

async function main() {
  cli = await startCli(cliPath, ['receive']);
  relay = await startRelay(cli.port);
  const k = cli.lines[0].slice(cli.lines[0].indexOf('?'));  // the upload page's secret
  browser = await launchBrowser();
  const context = await browser.newContext({ locale: 'en-US', viewport: { width: 390, height: 844 }, isMobile: true });
  const page = await context.newPage();
  await page.goto(`http://127.0.0.1:${relay.port}/index.html${k}`);

  // A break halfway: every connection cut, none taken for 5 s.
  const size = 64 * MiB;
  const big = pick('holiday.mp4', size);
  const before = relay.bytes;
  let cutAt = 0;
  relay.onUp = () => {
    if (!cutAt && relay.upBytes - before >= size / 2) {
      cutAt = Date.now();
      relay.cut(5000);
    }
  };
  await page.setInputFiles('#files', [big]);
  await waitFor(() => cutAt > 0, 'half of the file to pass', 60000);
  await page.waitForSelector('#sending li.offline', { timeout: 5000 });
  assert.equal(await page.textContent('#sending li.offline .state'), 'Waiting for the connection…');
  await page.waitForSelector('#stored li.stored-file', { timeout: 90000 });
  assert.ok(Date.now() - cutAt >= 5000, 'the upload finished while the relay refused connections');
  const stored = path.join(cli.work, 'tmp', 'holiday.mp4');
  assert.equal(sha256(stored), sha256(big), 'the stored file differs from the one sent');
  const crossed = relay.bytes - before;
  assert.ok(crossed < 1.6 * size, `${crossed} bytes crossed the relay for a file of ${size}`);
  assert.equal(await page.textContent('#sending li.done .state'), 'Sent');
  assert.equal(heldAside(cli.work), 0);

  // A reload halfway: the same file chosen again goes on from what the PC holds. The connections are
  // cut at half for a moment, so the first page cannot finish the file before it is reloaded.
  const second = pick('scan.pdf', 24 * MiB);
  const zhContext = await browser.newContext({ locale: 'zh-CN', viewport: { width: 390, height: 844 } });
  const first = await zhContext.newPage();
  await first.goto(`http://127.0.0.1:${relay.port}/index.html${k}`);
  const start = relay.bytes;
  const startUp = relay.upBytes;
  let halfAt = 0;
  relay.onUp = () => {
    if (!halfAt && relay.upBytes - startUp >= 12 * MiB) {
      halfAt = Date.now();
      relay.cut(2000);
    }
  };
  await first.setInputFiles('#files', [second]);
  await waitFor(() => halfAt > 0, 'half of the second file to pass', 60000);
  // The page goes away while nothing passes, and is opened anew once the relay takes connections.
  await first.close();
  await new Promise((r) => setTimeout(r, 2100));
  const zh = await zhContext.newPage();
  await zh.goto(`http://127.0.0.1:${relay.port}/index.html${k}`);
  await zh.setInputFiles('#files', [second]);
  await zh.waitForSelector('#stored li.stored-file', { timeout: 60000 });
  assert.equal(sha256(path.join(cli.work, 'tmp', 'scan.pdf')), sha256(second));
  const again = relay.bytes - start;
  assert.ok(again < 1.6 * 24 * MiB, `${again} bytes crossed the relay for a file of ${24 * MiB} after a reload`);
  assert.equal(await zh.textContent('#sending li.done .state'), '上传完成');
  assert.deepEqual(cli.lines.slice(1).sort(), ['holiday.mp4', 'scan.pdf'].map((n) => path.join(cli.work, 'tmp', n)));
  console.log(`resume upload: all checks passed (${crossed} bytes crossed for ${size})`);
}

let status = 0;
try {
  await main();
} catch (e) {
  console.error(e);
  status = 1;
} finally {
  if (browser) await browser.close().catch(() => {});
  if (relay) relay.close();
  if (cli) await cli.stop();
  fs.rmSync(picks, { recursive: true, force: true });
}
process.exit(status);
