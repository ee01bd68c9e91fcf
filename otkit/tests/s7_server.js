// S7 server (snap7, through node-snap7) that the S7 tests talk to.
//   node s7_server.js PORT
// Listens on 127.0.0.1:PORT with these areas: DB1 and DB10 (256 bytes each, DB10 holds the
// bytes 0..255, DB1 zeros), inputs (PE), outputs (PA), markers (MK), timers (TM) and counters
// (CT). Prints "ready" when it listens; ends on SIGTERM or SIGINT, or when its parent goes.
'use strict';

const port = Number(process.argv[2]);
if (!Number.isInteger(port) || port <= 0 || port > 65535) {
  process.stderr.write('usage: node s7_server.js PORT\n');
  process.exit(2);
}

let snap7;
try {
  snap7 = require('node-snap7');
} catch (e) {
  process.stderr.write('s7_server: cannot load node-snap7 (NODE_PATH=' +
                       (process.env.NODE_PATH || '') + '): ' + e.message + '\n');
  process.exit(3);
}

const server = new snap7.S7Server();
function fail(what) {
  process.stderr.write('s7_server: ' + what + ' failed: ' + server.ErrorText(server.LastError()) +
                       '\n');
  process.exit(1);
}

const db10 = Buffer.alloc(256);
for (let i = 0; i < db10.length; i++) db10[i] = i;
const areas = [
  [server.srvAreaDB, 1, Buffer.alloc(256)],
  [server.srvAreaDB, 10, db10],
  [server.srvAreaPE, 0, Buffer.alloc(256)],
  [server.srvAreaPA, 0, Buffer.alloc(256)],
  [server.srvAreaMK, 0, Buffer.alloc(256)],
  [server.srvAreaTM, 0, Buffer.alloc(512)],  // 256 timers, 2 bytes each
  [server.srvAreaCT, 0, Buffer.alloc(512)],  // 256 counters, 2 bytes each
];
for (const [code, index, buffer] of areas) {
  const ok = code === server.srvAreaDB ? server.RegisterArea(code, index, buffer)
                                       : server.RegisterArea(code, buffer);
  if (!ok) fail('RegisterArea(' + code + ', ' + index + ')');
}
if (!server.SetParam(server.LocalPort, port)) fail('SetParam(LocalPort, ' + port + ')');
if (server.StartTo('127.0.0.1') === false) fail('StartTo(127.0.0.1:' + port + ')');

let stopping = false;
function stop() {
  if (stopping) return;
  stopping = true;
  server.Stop();
  process.exit(0);
}
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
// Keeps the event loop alive, and ends the server when the test that started it is gone.
const parent = process.ppid;
setInterval(() => {
  if (process.ppid !== parent) stop();
}, 500);
process.stdout.write('ready\n');
