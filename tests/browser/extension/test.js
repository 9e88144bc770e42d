// Exercises vellumkeep-native through the browser's native messaging, in
// Chromium and in Firefox. The driver runs each phase with vkRun(phase),
// whose promise ends with document.title set to "pass:<phase>" or
// "fail:<phase>: <reason>"; the lines of window.vkLog say what was checked.
'use strict';

const HOST = 'com.tarnwick.vellumkeep';
// Installed with an allow-list naming another extension.
const FORBIDDEN_HOST = 'com.tarnwick.vellumkeep_forbidden';
const CANNOT_REACH =
  'Cannot reach Tarnwick (IPC socket). Start Tarnwick and check the vault. Detail: ';
// Registered nowhere.
const ABSENT_HOST = 'com.tarnwick.vellumkeep_absent';
// Each browser words its refusals its own way; Firefox gives both the same
// words, so that an add-on cannot tell which hosts exist.
const REFUSALS = location.protocol === 'moz-extension:' ? {
  forbidden: 'No such native application ' + FORBIDDEN_HOST,
  absent: 'No such native application ' + ABSENT_HOST,
} : {
  forbidden: 'Access to the specified native messaging host is forbidden.',
  absent: 'Specified native messaging host not found.',
};
// What the extension puts in auth_token; the host must replace it.
const FAKE_TOKEN = 'from-the-extension-not-the-real-token-0000';
const REPLY_TIMEOUT_MS = 10000;

window.vkLog = [];

function log(line) {
  window.vkLog.push(line);
  document.getElementById('log').textContent += line + '\n';
}

function brief(value) {
  const text = JSON.stringify(value);
  return text === undefined ? String(value) : text.length > 300 ? text.slice(0, 300) + '…' : text;
}

// Key order does not matter; JSON objects are compared as values.
function canonical(value) {
  if (Array.isArray(value)) return '[' + value.map(canonical).join(',') + ']';
  if (value !== null && typeof value === 'object') {
    return '{' + Object.keys(value).sort()
      .map((k) => JSON.stringify(k) + ':' + canonical(value[k])).join(',') + '}';
  }
  return JSON.stringify(value);
}

function expectEqual(actual, expected, what) {
  if (canonical(actual) !== canonical(expected)) {
    throw new Error(what + ': got ' + brief(actual) + ', expected ' + brief(expected));
  }
  log('ok ' + what);
}

function expectTrue(condition, what, detail) {
  if (!condition) throw new Error(what + ': ' + brief(detail));
  log('ok ' + what);
}

function withTimeout(promise, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(what + ': no reply in ' + REPLY_TIMEOUT_MS + ' ms')),
      REPLY_TIMEOUT_MS);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

function sendOnce(host, message, what) {
  return withTimeout(chrome.runtime.sendNativeMessage(host, message), what);
}

// A native port whose replies are taken one at a time, in order.
function connect(host) {
  const port = chrome.runtime.connectNative(host);
  const replies = [];
  const waiting = [];
  let closedBecause = null;
  port.onMessage.addListener((message) => {
    if (waiting.length > 0) waiting.shift().resolve(message);
    else replies.push(message);
  });
  port.onDisconnect.addListener(() => {
    // Firefox puts the reason on the port, Chromium in lastError.
    const error = port.error || chrome.runtime.lastError;
    closedBecause = error ? error.message : 'disconnected';
    while (waiting.length > 0) {
      waiting.shift().reject(new Error('port closed: ' + closedBecause));
    }
  });
  return {
    post: (message) => port.postMessage(message),
    next: (what) => {
      if (replies.length > 0) return Promise.resolve(replies.shift());
      if (closedBecause !== null) return Promise.reject(new Error(what + ': port closed: ' + closedBecause));
      return withTimeout(new Promise((resolve, reject) => waiting.push({ resolve, reject })), what);
    },
    close: () => port.disconnect(),
  };
}

function withoutToken(request) {
  const copy = Object.assign({}, request);
  delete copy.auth_token;
  return copy;
}

// The stand-in app answers "wrong auth_token" unless the host put the real
// token in place of ours, and echoes requests without their token.
async function liveChecks() {
  const ping = { id: 1, command: 'ping', auth_token: FAKE_TOKEN };
  expectEqual(await sendOnce(HOST, ping, 'sendNativeMessage ping'),
    { command: 'ping', id: 1, reply: 'pong' }, 'sendNativeMessage reply, token replaced');

  const echo = { id: 2, command: 'echo', auth_token: FAKE_TOKEN,
    data: { text: 'h\u00e9llo \u2603 \ud83d\udd11', list: [1, -2, 2.5, null, true, 'x'] } };
  expectEqual(await sendOnce(HOST, echo, 'sendNativeMessage echo'), withoutToken(echo),
    'sendNativeMessage echo arrives without the extension\'s token');

  const port = connect(HOST);
  const batch = [
    { id: 10, command: 'ping' },
    { id: 11, command: 'echo', auth_token: FAKE_TOKEN, n: 11 },
    { id: 12, command: 'echo', n: 12 },
  ];
  // Posted together, so frames queue up on the host's standard input.
  for (const request of batch) port.post(request);
  expectEqual(await port.next('port reply 10'), { command: 'ping', id: 10, reply: 'pong' },
    'port reply 10');
  expectEqual(await port.next('port reply 11'), withoutToken(batch[1]), 'port reply 11');
  expectEqual(await port.next('port reply 12'), batch[2], 'port reply 12');

  const big = { id: 13, command: 'echo', auth_token: FAKE_TOKEN, payload: 'v'.repeat(900000) };
  port.post(big);
  const reply = await port.next('port reply 13 (900 KB)');
  expectTrue(reply.id === 13 && typeof reply.payload === 'string' && reply.payload.length === 900000 &&
    reply.payload === big.payload && !('auth_token' in reply), 'port reply of 900 KB',
    { id: reply.id, length: reply.payload && reply.payload.length });
  port.post({ id: 14, command: 'ping' });
  expectEqual(await port.next('port reply 14'), { command: 'ping', id: 14, reply: 'pong' },
    'port carries on after the large reply');
  port.close();

  expectEqual(await refusalOf(FORBIDDEN_HOST), REFUSALS.forbidden,
    'host whose manifest does not allow us is refused');
  expectEqual(await refusalOf(ABSENT_HOST), REFUSALS.absent, 'unregistered host is not found');
}

// The browser's error text for a host it will not start.
async function refusalOf(host) {
  try {
    return 'answered ' + brief(await sendOnce(host, { id: 99, command: 'ping' }, host));
  } catch (error) {
    return error.message;
  }
}

function expectCannotReach(reply, id, what) {
  expectTrue(reply !== null && typeof reply === 'object' &&
    canonical(Object.keys(reply).sort()) === canonical(['error', 'id']) &&
    typeof reply.error === 'string' && reply.error.startsWith(CANNOT_REACH) && reply.id === id,
  what, reply);
}

// The stand-in app has been stopped: every request gets an error reply that
// carries its id, and the port stays usable.
async function stoppedChecks() {
  expectCannotReach(await sendOnce(HOST, { id: 42, command: 'ping' }, 'sendNativeMessage, app stopped'),
    42, 'sendNativeMessage error reply with id 42');
  const port = connect(HOST);
  port.post({ id: 43, command: 'ping' });
  port.post({ id: 44, command: 'echo', auth_token: FAKE_TOKEN });
  expectCannotReach(await port.next('port error reply 43'), 43, 'port error reply with id 43');
  expectCannotReach(await port.next('port error reply 44'), 44, 'port error reply with id 44');
  port.close();
}

// A port left open for the driver, which finds its host and then closes it
// with vkRelease() to see how soon the host leaves.
let heldPort = null;

async function holdChecks() {
  heldPort = connect(HOST);
  heldPort.post({ id: 50, command: 'ping' });
  expectEqual(await heldPort.next('held port reply'), { command: 'ping', id: 50, reply: 'pong' },
    'held port answers');
}

window.vkRelease = function vkRelease() {
  heldPort.close();
  heldPort = null;
  return 'released';
};

const PHASES = { live: liveChecks, hold: holdChecks, stopped: stoppedChecks };

window.vkRun = function vkRun(phase) {
  document.title = 'running:' + phase;
  log('phase ' + phase);
  return PHASES[phase]()
    .then(() => { document.title = 'pass:' + phase; })
    .catch((error) => {
      log('FAILED ' + error.message);
      document.title = 'fail:' + phase + ': ' + error.message;
    })
    .then(() => document.title);
};

document.addEventListener('DOMContentLoaded', () => { document.title = 'ready'; });
