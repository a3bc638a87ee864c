// Shared by the browser tests: a real marlix-cli in a temporary working directory, headless
// Chromium, and a TCP relay of the test's own on loopback.

import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const require = createRequire(import.meta.url);

// Checked on import, before a test starts anything.
const chromium = (() => {
  try {
    return require('playwright-core').chromium;
  } catch (e) {
    console.error('playwright-core is missing: run scripts/install-deps.sh (npm ci in tests/browser)');
    process.exit(1);
  }
})();

export async function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-proxy-server'],
  });
}

// Starts `marlix-cli ARGS... --no-qr --address 127.0.0.1` in a fresh working directory; resolves once
// its first address line is out. lines collects every line of its standard output.
export async function startCli(cliPath, args) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'marlix-browser-'));
  const child = spawn(cliPath, [...args.slice(0, 1), '--no-qr', '--address', '127.0.0.1', ...args.slice(1)], {
    cwd: work, env: { ...process.env, MARLIX_HOME: work }, stdio: ['ignore', 'pipe', 'pipe'],
  });
  const lines = [];
  let stderr = '';
  child.stderr.on('data', (d) => (stderr += d));
  let pending = '';
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no address from marlix-cli; stderr: ' + stderr)), 15000);
    child.on('exit', (code) => reject(new Error(`marlix-cli ended (${code}): ${stderr}`)));
    child.stdout.on('data', (d) => {
      pending += d;
      let nl;
      while ((nl = pending.indexOf('\n')) >= 0) {
        lines.push(pending.slice(0, nl));
        pending = pending.slice(nl + 1);
        clearTimeout(timer);
        resolve();
      }
    });
  });
  const port = Number(/^http:\/\/[^/]*:(\d+)\//.exec(lines[0])[1]);
  return {
    work, port, lines, stderr: () => stderr,
    async stop() {
      if (child.exitCode === null && child.signalCode === null) {
        const ended = new Promise((r) => child.on('exit', r));
        child.kill('SIGINT');
        await Promise.race([ended, new Promise((r) => setTimeout(r, 15000))]);
        if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
      }
      fs.rmSync(work, { recursive: true, force: true });
      return child.exitCode;
    },
  };
}

// A TCP relay on a free loopback port to 127.0.0.1:target that counts the bytes crossing it. cut()
// ends every connection at once and refuses new ones (reset at accept) for the given time.
export async function startRelay(target) {
  const live = new Set();
  let refuseUntil = 0;
  const relay = {
    bytes: 0,     // both directions
    upBytes: 0,   // from the browser to the PC
    onUp: null,   // called after each piece sent up
    port: 0,
    cut(ms) {
      refuseUntil = Date.now() + ms;
      for (const s of live) s.destroy();
      live.clear();
    },
    close() {
      relay.cut(0);
      server.close();
    },
  };
  const server = net.createServer((client) => {
    if (Date.now() < refuseUntil) {
      client.resetAndDestroy();
      return;
    }
    const upstream = net.connect(target, '127.0.0.1');
    live.add(client);
    live.add(upstream);
    const end = () => {
      client.destroy();
      upstream.destroy();
      live.delete(client);
      live.delete(upstream);
    };
    client.on('data', (d) => {
      relay.bytes += d.length;
      relay.upBytes += d.length;
      if (!upstream.write(d)) client.pause();
      if (relay.onUp) relay.onUp();
    });
    upstream.on('drain', () => client.resume());
    upstream.on('data', (d) => {
      relay.bytes += d.length;
      if (!client.write(d)) upstream.pause();
    });
    client.on('drain', () => upstream.resume());
    for (const s of [client, upstream]) {
      s.on('error', end);
      s.on('close', end);
    }
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  relay.port = server.address().port;
  return relay;
}

export async function waitFor(check, what, ms = 15000) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await check()) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error('timed out waiting for ' + what);
}
