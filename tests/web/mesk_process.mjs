// One `mesk` for a web-share test: bound to a loopback address of the test's own (so its
// port 3456 is nobody else's), with its folders in a fresh temporary folder, and driven
// through its standard input as a user would.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

export const WEB_PORT = 3456;

// True when nothing listens on the address and port yet.
function portFree(address, port) {
  return new Promise((resolve) => {
    const probe = net.createServer();
    probe.once('error', () => resolve(false));
    probe.listen({ host: address, port, exclusive: true }, () => probe.close(() => resolve(true)));
  });
}

// 127.x.y.z, drawn until its web and peer ports are free.
export async function ownLoopbackAddress() {
  for (let i = 0; i < 20; i++) {
    const octet = () => 1 + Math.floor(Math.random() * 254);
    const address = `127.${octet()}.${octet()}.${octet()}`;
    if ((await portFree(address, WEB_PORT)) && (await portFree(address, 45001))) return address;
  }
  throw new Error('no free loopback address found');
}

export class MeskProcess {
  // Starts `binary` and waits for "core_started".
  static async start(binary) {
    const mesk = new MeskProcess(binary, await ownLoopbackAddress());
    await mesk.waitForLine((line) => line === 'event core_started', 60000);
    return mesk;
  }

  constructor(binary, address) {
    this.address = address;
    this.root = fs.mkdtempSync(path.join(os.tmpdir(), 'mesk-web-'));
    this.shared = path.join(this.root, 'shared');
    fs.mkdirSync(this.shared);
    const env = { ...process.env, HOME: path.join(this.root, 'home'), DISPLAY: '', WAYLAND_DISPLAY: '' };
    for (const [name, folder] of [['XDG_DATA_HOME', 'data'], ['XDG_CACHE_HOME', 'cache'], ['XDG_CONFIG_HOME', 'config']]) {
      env[name] = path.join(this.root, folder);
    }
    this.lines = [];      // not yet taken by a wait
    this.waiters = [];
    this.errors = '';
    this.exited = false;
    this.child = spawn(binary, ['--bind', address], { env, stdio: ['pipe', 'pipe', 'pipe'] });
    this.child.on('exit', () => {
      this.exited = true;
      this.notify();
    });
    // mesk runs until told to quit: a test that dies takes it along.
    process.on('exit', () => {
      if (!this.exited) this.child.kill('SIGKILL');
    });
    readline.createInterface({ input: this.child.stdout }).on('line', (line) => {
      this.lines.push(line);
      this.notify();
    });
    this.child.stderr.on('data', (data) => {
      this.errors = (this.errors + data).slice(-20000);
    });
  }

  get url() {
    return `http://${this.address}:${WEB_PORT}`;
  }

  notify() {
    for (const waiter of [...this.waiters]) waiter();
  }

  send(line) {
    this.child.stdin.write(line + '\n');
  }

  // The first line (from now or still untaken) that `wanted` accepts; it is taken.
  waitForLine(wanted, timeoutMs = 30000) {
    return new Promise((resolve, reject) => {
      const check = () => {
        const index = this.lines.findIndex(wanted);
        if (index >= 0) {
          done();
          resolve(this.lines.splice(index, 1)[0]);
        } else if (this.exited) {
          done();
          reject(new Error('mesk ended; its last words: ' + this.errors.slice(-2000)));
        }
      };
      const timer = setTimeout(() => {
        done();
        reject(new Error('no such line from mesk within ' + timeoutMs + ' ms'));
      }, timeoutMs);
      const done = () => {
        clearTimeout(timer);
        this.waiters = this.waiters.filter((w) => w !== check);
      };
      this.waiters.push(check);
      check();
    });
  }

  // Sends an API request and returns its parsed reply.
  async request(endpoint, body = {}) {
    this.send(`${endpoint} ${JSON.stringify(body)}`);
    const prefix = `reply ${endpoint} `;
    const line = await this.waitForLine((l) => l.startsWith(prefix));
    return JSON.parse(line.slice(prefix.length));
  }

  // The web-share code, as the device's settings show it.
  async code() {
    return (await this.request('/get_device_info')).webshare_password;
  }

  // Lets the device share files under its folder of shared files, as a user does through
  // the file picker: the folder is accepted once, then the files are picked.
  async share(...files) {
    if (!this.accepted) {
      this.send(`:pick-accepted-folder ${this.shared}`);
      await this.waitForLine((l) => l.startsWith('reply /add_accepted_folder '));
      this.accepted = true;
    }
    this.lines = this.lines.filter((l) => !l.includes('"shared_files_updated"'));
    // Quoted as in a shell, so that names may hold blanks.
    const quoted = files.map((f) => {
      if (f.includes("'")) throw new Error('no quotes in shared names: ' + f);
      return `'${path.join(this.shared, f)}'`;
    });
    this.send(':pick-files ' + quoted.join(' '));
    await this.waitForLine((l) => l.includes('"shared_files_updated"'));
  }

  // Waits until the web share answers its page.
  async webShareUp(timeoutMs = 30000) {
    const until = Date.now() + timeoutMs;
    for (;;) {
      try {
        const response = await fetch(this.url + '/');
        if (response.status === 200) return;
      } catch (e) {
        // not listening yet
      }
      if (Date.now() > until) throw new Error('the web share does not answer at ' + this.url);
      await new Promise((r) => setTimeout(r, 100));
    }
  }

  // Quits mesk and returns how it ended: its exit code (null when it had to be killed)
  // and what a sanitizer reported on its standard error.
  async stop() {
    if (!this.exited) {
      this.send(':quit');
      let timer;
      const ended = await Promise.race([
        new Promise((r) => this.child.once('exit', () => r(true))),
        new Promise((r) => { timer = setTimeout(() => r(false), 20000); }),
      ]);
      clearTimeout(timer);
      if (!ended && !this.exited) this.child.kill('SIGKILL');
    }
    fs.rmSync(this.root, { recursive: true, force: true });
    const report = this.errors.match(/^.*(Sanitizer|runtime error).*$/m);
    return { code: this.child.exitCode, sanitizer: report ? report[0] : '' };
  }
}
